#include "app/SystemStateBroker.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "app/BaseException.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "platform/Mosutil.h"

namespace {

std::atomic<CSystemStateBroker*> g_broker{nullptr};

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

}  // namespace

CSystemStateBroker::CSystemStateBroker() {
  g_broker.store(this);
  platform::MSGQUEUEOPTIONS options;
  options.dwFlags = platform::MSGQUEUE_NOPRECOMMIT | platform::MSGQUEUE_ALLOW_BROKEN;
  options.dwMaxMessages = 0;
  options.cbMaxMessage = kMaxMessage;
  options.bReadAccess = 1;
  hQueue_ = platform::CreateMsgQueue(kQueueName, options);
  if (!hQueue_)
    throw CBaseException("%s", Text("ERROR CREATING MESSAGING QUEUE").c_str());

  platform::NOTIFICATIONCONDITION condition;
  condition.ctComparisonType = platform::REG_CT_ANYCHANGE;
  condition.dwMask = 0x10;
  if (platform::RegistryNotifyMsgQueue(platform::HKEY_LOCAL_MACHINE, "System\\State\\Phone",
                                       "Status", kQueueName, 0, &condition,
                                       &hPhoneStatusNotify_) != platform::S_OK) {
    platform::CloseMsgQueue(hQueue_);
    throw CBaseException("%s", Text("ERROR REGISTERING EVENT").c_str());
  }
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    platform::RegistryCloseNotification(hPhoneStatusNotify_);
    platform::CloseMsgQueue(hQueue_);
    throw CBaseException("%s", Text("ERROR REGISTERING EVENT").c_str());
  }
}

CSystemStateBroker::~CSystemStateBroker() {
  {
    std::lock_guard lock(stopMutex_);
    stopping_ = true;
  }
  stopCv_.notify_all();
  threadRunning_.store(false);
  platform::RegistryCloseNotification(hPhoneStatusNotify_);
  // Watches registered through the broker end with it; their owners' later close is harmless.
  for (platform::HREGNOTIFY h : watches_)
    platform::RegistryCloseNotification(h);
  // Wake a read that waits on the queue: other watches may still be writing into it.
  platform::HMSGQUEUE waker = platform::OpenMsgQueue(hQueue_, 0);
  if (waker) {
    platform::DWORD zero = 0;
    platform::WriteMsgQueue(waker, &zero, sizeof zero, 0);
    platform::CloseMsgQueue(waker);
  }
  if (thread_.joinable())
    thread_.join();
  platform::CloseMsgQueue(hQueue_);
  CSystemStateBroker* self = this;
  g_broker.compare_exchange_strong(self, nullptr);
}

CSystemStateBroker* CSystemStateBroker::GetInstance() {
  return g_broker.load();
}

void CSystemStateBroker::AddListener(IStateListener* listener) {
  std::lock_guard lock(listenersMutex_);
  listeners_.push_back(listener);
}

void CSystemStateBroker::RemoveListener(IStateListener* listener) {
  std::unique_lock dispatching(dispatchMutex_);
  std::lock_guard lock(listenersMutex_);
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

platform::HRESULT CSystemStateBroker::Watch(platform::HKEY root, const std::string& subKey,
                                            const std::string& valueName, platform::DWORD mask,
                                            platform::HREGNOTIFY* handle, WatchMode mode) {
  platform::NOTIFICATIONCONDITION condition;
  condition.ctComparisonType = platform::REG_CT_ANYCHANGE;
  condition.dwMask = mask;
  platform::HRESULT hr;
  if (mode == MODE_QUEUE) {
    hr = platform::RegistryNotifyMsgQueue(root, subKey, valueName, kQueueName, 0, &condition,
                                          handle);
  } else {
    hr = platform::RegistryNotifyCallback(
        root, subKey, valueName,
        [](platform::HREGNOTIFY h, platform::DWORD, const platform::BYTE*, platform::UINT) {
          if (CSystemStateBroker* broker = GetInstance())
            broker->Dispatch(h);
        },
        0, &condition, handle);
  }
  if (hr != platform::S_OK) {
    platform::ProcesarError("%s", Text("ERROR REGISTERING EVENT").c_str());
  } else {
    std::lock_guard lock(listenersMutex_);
    watches_.push_back(*handle);
  }
  return hr;
}

bool CSystemStateBroker::Pause(int ms) {
  std::unique_lock lock(stopMutex_);
  return !stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping_; });
}

void CSystemStateBroker::Run() {
  threadRunning_.store(true);
  {
    // A destruction that came first must not be undone by this thread.
    std::lock_guard lock(stopMutex_);
    if (stopping_)
      threadRunning_.store(false);
  }
  // The managers register their watches before the first read.
  if (!Pause(kStartDelayMs))
    threadRunning_.store(false);
  std::vector<platform::BYTE> buffer(kMaxMessage, 0);
  while (threadRunning_.load()) {
    platform::DWORD read = 0;
    platform::LONG rc = platform::ReadMsgQueue(hQueue_, buffer.data(), 1000, &read, kReadTimeoutMs);
    if (!threadRunning_.load())
      break;
    if (rc == platform::ERROR_SUCCESS) {
      Trace(TRACE_TRACE, "Evento broker");
      platform::HREGNOTIFY handle = 0;
      if (read >= sizeof handle)
        std::memcpy(&handle, buffer.data(), sizeof handle);
      if (handle)
        Dispatch(handle);
    } else if (rc == platform::ERROR_PIPE_NOT_CONNECTED) {
      Trace(TRACE_TRACE, "No writters connected");
      if (!Pause(kRetryPauseMs))
        break;
    } else {
      if (!Pause(kRetryPauseMs))
        break;
    }
  }
  Trace(TRACE_TRACE, "Saliendo de thread broker");
}

void CSystemStateBroker::Dispatch(platform::HREGNOTIFY handle) {
  std::shared_lock dispatching(dispatchMutex_);
  std::vector<IStateListener*> copy;
  {
    std::lock_guard lock(listenersMutex_);
    copy = listeners_;
  }
  for (IStateListener* l : copy)
    l->OnStateChanged(handle);
}
