#include "app/App.h"

#include <unistd.h>

#include <atomic>

#include "app/BaseException.h"
#include "app/EventLog.h"
#include "app/Ids.h"
#include "app/MainWindowInterface.h"
#include "app/Texts.h"
#include "app/TimerNotification.h"
#include "app/Trace.h"
#include "platform/HardwareEvents.h"
#include "platform/Mosutil.h"
#include "platform/Window.h"

namespace {

std::atomic<CApp*> g_app{nullptr};

constexpr int kStartupCode = 300;
constexpr int kRelaunchSeconds = 10;

}  // namespace

CApp::CApp() {
  g_app.store(this);
  CEventLog::Add(kStartupCode, 2, CTexts::GetInstance()->GetText("EVENT_LOG_MGR_STARTING_RESUME"),
                 CTexts::GetInstance()->GetText("EVENT_LOG_MGR_STARTING_DESCRIPTION"));
  csvRequests_ = CEventLog::ServeCsvRequests();
}

CApp::~CApp() {
  platform::UnsubscribeHardwareEvent(csvRequests_);
  // Time limits and schedule notifications do not outlive a normal exit; the schedule engine
  // registers its own again after the next start.
  int cleared = timernotification::ClearAllOfThisProgram(500);
  Trace(TRACE_DEBUG, "CApp::~CApp() removed %d notifications", cleared);
  if (restartRequested_.load())
    RegisterRelaunch();
  CApp* self = this;
  g_app.compare_exchange_strong(self, nullptr);
}

CApp* CApp::GetInstance() {
  return g_app.load();
}

platform::HNOTIFY CApp::RegisterRelaunch() {
  return timernotification::Register("", platform::DT_SECOND, kRelaunchSeconds);
}

void CApp::Restart() {
  Trace(TRACE_WARNING, "CApp::Restart()");
  RegisterRelaunch();
  _exit(0);
}

void CApp::RequestExit() {
  Trace(TRACE_WARNING, "CApp::RequestExit()");
  restartRequested_.store(1);
  WithMainWindow([](IMainWindow* window) {
    window->SetCloseWithoutAsking();
    platform::PostMessage(window->GetHandle(), platform::WM_CLOSE, 0, 0);
  });
}

int CApp::WinMain(const std::string& cmdLine, int nCmdShow) {
  cmdLine_ = cmdLine;
  nCmdShow_ = nCmdShow;
  try {
    if (!InitGUI()) {
      Trace(TRACE_ERROR, "Error iniciando ventana principal");
      return 0;
    }
    return RunMessageLoop();
  } catch (const CBaseException& e) {
    // Database exceptions derive from the base exception and are shown the same way.
    Trace(TRACE_FATAL, "Se ha producido un error de base de datos[%s]. El sistema se detendra.",
          e.GetText().c_str());
    platform::TextBox(0, e.GetText());
  } catch (const std::exception& e) {
    std::string text = CTexts::GetInstance()->GetText("UNEXPECTED ERROR");
    Trace(TRACE_FATAL, "%s (%s)", text.c_str(), e.what());
    platform::TextBox(0, text);
  } catch (...) {
    std::string text = CTexts::GetInstance()->GetText("UNEXPECTED ERROR");
    Trace(TRACE_FATAL, "%s", text.c_str());
    platform::TextBox(0, text);
  }
  return 0;
}
