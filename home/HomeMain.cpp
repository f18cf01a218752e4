// telvane-today: the simulated phone's home screen. It runs on the device named by
// $TELVANE_DEVICE (or the default one), shows its items and ends on SIGINT, SIGTERM or a
// WM_CLOSE posted to its window.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>

#include "home/HomeScreen.h"
#include "home/HomeTheme.h"
#include "platform/Device.h"
#include "platform/Window.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  char c = 1;
  ssize_t ignored = write(g_signalPipe[1], &c, 1);
  (void)ignored;
}

// Without a display the home screen runs on Qt's offscreen platform, like the program.
void ChooseQtPlatform() {
  if (std::getenv("QT_QPA_PLATFORM"))
    return;
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!x || !*x) && (!wayland || !*wayland))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    platform::Device::OpenDefault();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "telvane-today: cannot open the device: %s\n", e.what());
    return 1;
  }
  if (platform::FindWindow(home::kHomeScreenClass)) {
    std::fprintf(stderr, "telvane-today: the phone's home screen already runs\n");
    platform::Device::Close();
    return 1;
  }
  int exitCode = 0;
  {
    ChooseQtPlatform();
    QApplication app(argc, argv);
    QApplication::setApplicationName("telvane-today");
    QApplication::setQuitOnLastWindowClosed(true);

    // A signal ends the event loop, so the items are unloaded in order.
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) == 0) {
      signal(SIGINT, OnSignal);
      signal(SIGTERM, OnSignal);
    }
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [] { QApplication::quit(); });

    home::InstallStockThemes();
    auto screen = std::make_unique<home::CHomeScreen>();
    screen->LoadItems();
    screen->show();
    exitCode = app.exec();
    screen.reset();
  }
  platform::Device::Close();
  return exitCode;
}
