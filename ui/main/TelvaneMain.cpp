// The program's entry function. A first instance builds the application and runs it; a later
// instance relays its command line to the running one and exits at once.
#include <QApplication>
#include <QMessageBox>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/EventLog.h"
#include "app/Ids.h"
#include "app/PerfCounter.h"
#include "app/TimerNotification.h"
#include "app/Trace.h"
#include "app/WorkerThread.h"
#include "location/CellHistory.h"
#include "location/ScheduleEngine.h"
#include "platform/Device.h"
#include "platform/Mosutil.h"
#include "platform/NotificationRunner.h"
#include "platform/Process.h"
#include "platform/Window.h"
#include "ui/AppConnMgr.h"
#include "ui/WindowMain.h"

namespace {

// A later instance: hands its command line to the running program.
int Relay(platform::HWND window, const std::string& cmdLine) {
  if (cmdLine.empty()) {
    platform::SetForegroundWindow(window);
    platform::ShowWindow(window, platform::SW_SHOW);
    return 0;
  }
  if (cmdLine.find(timernotification::kTimerMarker) != std::string::npos) {
    Trace(TRACE_TRACE, "TimerNotification");
    int id, param;
    timernotification::ParseTimerArgument(cmdLine, &id, &param);
    platform::PostMessage(window, WM_TIMER_NOTIFICATION, static_cast<platform::WPARAM>(id), param);
    Trace(TRACE_TRACE, "Enviando notificacion a aplicacion(%d,%d)", id, param);
    return 0;
  }
  if (cmdLine == timernotification::kIdleArgument) {
    platform::PostMessage(window, WM_IDLE_NOTIFICATION, 0, 0);
    return 0;
  }
  Trace(TRACE_TRACE, "Notificacion desconocida");
  return 0;
}

// The device console, which serves the notification runner.
std::string DeviceToolPath() {
  if (const char* env = std::getenv("TELVANE_DEVICE_TOOL"); env && *env)
    return env;
  std::filesystem::path self = platform::CurrentExecutablePath();
  for (auto candidate : {self.parent_path() / "telvane-device",
                         self.parent_path().parent_path() / "tools" / "telvane-device"}) {
    if (std::filesystem::exists(candidate))
      return candidate.string();
  }
  return TELVANE_DEVICE_TOOL_PATH;
}

void EnsureRunner(platform::Device& device) {
  if (platform::NotificationRunner::IsServing(device))
    return;
  std::string error;
  if (!platform::SpawnDetached(DeviceToolPath(), {"serve"}, {}, &error)) {
    Trace(TRACE_ERROR, "Cannot start the notification runner: %s", error.c_str());
  }
}

// Without a display the program runs on Qt's offscreen platform, driven by the device console.
void ChooseQtPlatform() {
  if (std::getenv("QT_QPA_PLATFORM"))
    return;
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!x || !*x) && (!wayland || !*wayland))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

// Real modal boxes when a person can answer them; otherwise the device answers.
void InstallBoxHook() {
  QString platformName = QGuiApplication::platformName();
  if (platformName == "offscreen" || platformName == "minimal")
    return;
  platform::SetBoxHook([](int kind, platform::HWND, const std::string& text) -> int {
    QString t = QString::fromStdString(text);
    switch (kind) {
      case 2:
        return QMessageBox::question(nullptr, "Telvane", t) == QMessageBox::Yes ? 1 : 0;
      case 1:
        QMessageBox::critical(nullptr, "Telvane", t);
        return 1;
      default:
        QMessageBox::information(nullptr, "Telvane", t);
        return 1;
    }
  });
}

}  // namespace

int main(int argc, char** argv) {
  std::string cmdLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1)
      cmdLine += ' ';
    cmdLine += argv[i];
  }
  platform::Device* device;
  try {
    device = &platform::Device::OpenDefault();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "telvane: cannot open the device: %s\n", e.what());
    return 1;
  }

  if (platform::HWND window = platform::FindWindow(kMainWindowClass)) {
    int rc = Relay(window, cmdLine);
    platform::Device::Close();
    return rc;
  }

  int exitCode = 0;
  // A timed notification that arrives while the program is not running is dropped.
  if (cmdLine.empty()) {
    EnsureRunner(*device);
    ChooseQtPlatform();
    QApplication qapp(argc, argv);
    QApplication::setApplicationName("Telvane");
    InstallBoxHook();
    try {
      CAppConnMgr app;
      exitCode = app.WinMain(cmdLine, platform::SW_SHOW);
    } catch (const std::exception& e) {
      // Construction failures (the broker's queue or watch) end the program with their text.
      Trace(TRACE_FATAL, "%s", e.what());
      platform::TextBox(0, e.what());
    }
  }
  CEventLog::Shutdown();
  CCellHistory::Release();
  CPerfCounter::Reading paint = CWindowMain::PaintCounter().Read();
  Trace(TRACE_TRACE, "CWindowMain::OnPaint()[%d times, %f ms, %f ms]", paint.count, paint.totalMs,
        paint.maxMs);
  CPerfCounter::Reading start = CScheduleEngine::StartPeriodCounter().Read();
  Trace(TRACE_TRACE, "CScheduleEngine::StartPeriod()[%d times, %f ms, %f ms]", start.count,
        start.totalMs, start.maxMs);
  // There are no instance handles here; they are traced as 0.
  Trace(TRACE_TRACE, "-WinMain(%#08X, %#08X, %s, %d)", 0u, 0u, cmdLine.c_str(), platform::SW_SHOW);
  Trace(TRACE_TRACE, "-WorkerThreads(%d)", WorkerThread::GetRunningThreadCount());
  WorkerThread::TerminateAll();
  platform::Device::Close();
  return exitCode;
}
