#include "managers/BTMgr.h"

#include <chrono>
#include <vector>

#include "app/App.h"
#include "app/MainWindowInterface.h"
#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "platform/Registry.h"
#include "platform/Window.h"

namespace {

std::atomic<CBTMgr*> g_btMgr{nullptr};

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

// The main window's platform handle, 0 when there is no window.
platform::HWND MainWindowHandle() {
  platform::HWND handle = 0;
  if (CApp* app = CApp::GetInstance())
    app->WithMainWindow([&](IMainWindow* window) { handle = window->GetHandle(); });
  return handle;
}

}  // namespace

CBTMgr::CBTMgr() : CMgr(MGR_ID_BT) {
  g_btMgr.store(this);
}

CBTMgr::~CBTMgr() {
  // No call-time notification may reach the manager from here on.
  if (broker_ && broker_ == CSystemStateBroker::GetInstance())
    broker_->RemoveListener(this);
  if (platform::HREGNOTIFY watch = callWatch_.exchange(0))
    platform::RegistryCloseNotification(watch);
  {
    std::lock_guard lock(stopMutex_);
    stopping_ = true;
  }
  stopCv_.notify_all();
  Stop();
  // The event thread blocks on the queue: a message wakes it whatever else still writes there,
  // and ending the notification request removes the stack's writing end.
  if (queue_) {
    if (platform::HMSGQUEUE waker = platform::OpenMsgQueue(queue_, 0)) {
      platform::BluetoothEvent wake;
      platform::WriteMsgQueue(waker, &wake, sizeof wake, 0);
      platform::CloseMsgQueue(waker);
    }
  }
  if (notification_)
    platform::StopBluetoothNotifications(notification_);
  if (eventThread_.joinable())
    eventThread_.join();
  if (queue_)
    platform::CloseMsgQueue(queue_);
  CBTMgr* self = this;
  g_btMgr.compare_exchange_strong(self, nullptr);
}

CBTMgr* CBTMgr::GetInstance() {
  return g_btMgr.load();
}

void CBTMgr::Initialize() {
  Trace(TRACE_TRACE, "CBTMgr::Initialize()");
  if (ConfigChar(GetId()) == '0') {
    SetStatusValue(STATUS_DISABLED);
    return;
  }
  mainWindow_.store(MainWindowHandle());
  platform::MSGQUEUEOPTIONS options;
  options.dwFlags = platform::MSGQUEUE_NOPRECOMMIT;
  options.dwMaxMessages = 0;
  options.cbMaxMessage = kEventMessageBytes;
  options.bReadAccess = 1;
  queue_ = platform::CreateMsgQueue("", options);
  notification_ = platform::RequestBluetoothNotifications(platform::BTE_CLASS_STACK, queue_);
  if (!notification_) {
    Trace(TRACE_WARNING, "CBTMgr::Initialize() notifications refused");
    SetStatusValue(STATUS_DISABLED);
  }
  eventThreadRunning_.store(true);
  eventThread_ = std::thread([this] { EventThread(); });
  RefreshStatus(1);

  broker_ = CSystemStateBroker::GetInstance();
  if (broker_) {
    broker_->AddListener(this);
    platform::HREGNOTIFY watch = 0;
    if (broker_->Watch(platform::HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Active Call Count",
                       0xFFFFFFFF, &watch, CSystemStateBroker::MODE_CALLBACK) == platform::S_OK) {
      callWatch_.store(watch);
    }
  }
  Trace(TRACE_TRACE, "CBTMgr::-Initialize()");
}

bool CBTMgr::Pause(int ms) {
  std::unique_lock lock(stopMutex_);
  return !stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping_; });
}

bool CBTMgr::PostToMainWindow(platform::UINT msg) {
  // The handle taken at initialisation keeps the event thread away from the window object,
  // which may be destroyed before the manager.
  platform::HWND hwnd = mainWindow_.load();
  if (!hwnd)
    hwnd = MainWindowHandle();
  if (!hwnd)
    return false;
  return platform::PostMessage(hwnd, msg, 0, 0) != 0;
}

void CBTMgr::EventThread() {
  if (Pause(kEventThreadDelayMs)) {
    std::vector<platform::BYTE> buffer(kEventBufferBytes);
    for (;;) {
      platform::DWORD read = 0;
      platform::LONG rc = platform::ReadMsgQueue(queue_, buffer.data(), kEventBufferBytes, &read,
                                                 platform::INFINITE);
      if (rc != platform::ERROR_SUCCESS)
        break;
      {
        std::lock_guard lock(stopMutex_);
        if (stopping_)
          break;
      }
      // The event itself is not examined: any stack event means "read the mode again".
      Trace(TRACE_TRACE, "Evento bt");
      PostToMainWindow(WM_BLUETOOTH_EVENT);
    }
  }
  eventThreadRunning_.store(false);
}

void CBTMgr::RefreshStatusChild(int force) {
  platform::DWORD mode = 0;
  if (platform::BthGetMode(&mode) == 0) {
    readFailures_.store(0);
    if (mode <= platform::BTH_DISCOVERABLE)
      SetStatusValue(static_cast<int>(mode));
    return;
  }
  SetStatusValue(STATUS_DISABLED);
  int failures = readFailures_.fetch_add(1) + 1;
  Trace(TRACE_WARNING, "CBTMgr::RefreshStatusChild() read failed (%d)", failures);
  // Each retry goes through the main window's queue and comes back as another refresh, until
  // kMaxReadFailures reads in a row have failed.
  if (failures < kMaxReadFailures && Pause(retryPauseMs_.load()))
    PostToMainWindow(WM_BLUETOOTH_EVENT);
}

void CBTMgr::ForceStatusChild(int status, int minutes) {
  Trace(TRACE_TRACE, "CBTMgr::ForceStatusChild(%d)", status);
  switch (status) {
    case BT_STATUS_OFF:
      platform::BthSetMode(platform::BTH_POWER_OFF);
      // A time limit that would switch Bluetooth back is pointless once it is off.
      ClearTimeLimitNotification(-1);
      break;
    case BT_STATUS_CONNECTABLE:
      platform::BthSetMode(platform::BTH_CONNECTABLE);
      break;
    case BT_STATUS_DISCOVERABLE:
      platform::BthSetMode(platform::BTH_DISCOVERABLE);
      break;
    default:
      break;
  }
}

void CBTMgr::ProcessTimerNotification(int param) {
  Trace(TRACE_DEBUG, "CBTMgr::ProcessTimerNotification(%d)", param);
  ForceStatus(param, 0, 0, 0, TimeLimitCause());
  Trace(TRACE_DEBUG, "CBTMgr::ProcessTimerNotification(%d)", param);
}

std::string CBTMgr::GetName() {
  return Text("EVENT_LOG_MGR_BT_NAME");
}

std::string CBTMgr::GetStatusName(int status) {
  switch (status) {
    case BT_STATUS_OFF:
      return Text("EVENT_LOG_MGR_BT_STATUS_OFF");
    case BT_STATUS_CONNECTABLE:
      return Text("EVENT_LOG_MGR_BT_STATUS_CONNECTABLE");
    case BT_STATUS_DISCOVERABLE:
      return Text("EVENT_LOG_MGR_BT_STATUS_DISCOVERABLE");
    default:
      return "unknown";
  }
}

void CBTMgr::OnBluetoothEvent(platform::WPARAM wParam, platform::LPARAM lParam) {
  Trace(TRACE_TRACE, "Evento bluetooth %d, %d", static_cast<int>(wParam), static_cast<int>(lParam));
  IncrementEventCount();
  RefreshStatus(0);
}

void CBTMgr::OnStateChanged(platform::HREGNOTIFY handle) {
  if (handle == 0 || handle != callWatch_.load())
    return;
  platform::DWORD count = 0;
  bool read = platform::RegistryGetDWORD(platform::HKEY_LOCAL_MACHINE, "System\\State\\Phone",
                                         "Active Call Count", &count) == platform::S_OK;
  bool intelligent = CRegistrySettings::Instance()->GetDWORD(kIntelligentBtKey) != 0;
  Trace(TRACE_DEBUG, "CBTMgr::OnStateChanged() calls %u, intelligent_bt %d", count,
        intelligent ? 1 : 0);
  std::lock_guard lock(callMutex_);
  if (read && count >= 1) {
    // A call began. Further simultaneous calls change nothing: the status to return to is the
    // one from before the first call, and Bluetooth stays discoverable until the last ends.
    if (inCall_.load())
      return;
    inCall_.store(true);
    savedStatus_.store(GetStatus());
    if (intelligent)
      ForceStatus(BT_STATUS_DISCOVERABLE, 0, 0, 0, CChangeCause::CallStarted());
  } else {
    // The last call ended (an unreadable count means there is none).
    if (!inCall_.load())
      return;
    inCall_.store(false);
    if (intelligent)
      ForceStatus(savedStatus_.load(), 0, 0, 0, CChangeCause::CallEnded());
  }
}
