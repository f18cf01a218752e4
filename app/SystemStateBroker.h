// The system-state broker: the one object that owns the "BROKER_QUEUE_NAME" message queue and
// the thread that reads it. Managers register registry watches through it (queue or callback
// mode) and every notification is fanned out to every listener, which decides by the handle
// whether it concerns it.
//
// Threads: queue-mode notifications are dispatched on the broker thread, callback-mode ones on
// the platform's notification thread; listeners must tolerate both and post to the
// user-interface thread for window work.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/MsgQueue.h"
#include "platform/Registry.h"

class IStateListener {
 public:
  virtual ~IStateListener() = default;
  virtual void OnStateChanged(platform::HREGNOTIFY handle) = 0;
};

class CSystemStateBroker {
 public:
  static constexpr const char* kQueueName = "BROKER_QUEUE_NAME";
  static constexpr platform::DWORD kMaxMessage = 4112;
  static constexpr int kStartDelayMs = 2000;
  static constexpr int kReadTimeoutMs = 5000;
  static constexpr int kRetryPauseMs = 1000;

  enum WatchMode { MODE_QUEUE = 0, MODE_CALLBACK = 1 };

  // Creates the queue, registers the broker's own watch of the phone status and starts the
  // thread. Throws CBaseException with the translated failure text.
  CSystemStateBroker();
  ~CSystemStateBroker();
  CSystemStateBroker(const CSystemStateBroker&) = delete;
  CSystemStateBroker& operator=(const CSystemStateBroker&) = delete;

  static CSystemStateBroker* GetInstance();

  void AddListener(IStateListener* listener);
  // Removes a listener and waits until no notification is being dispatched to it any more, so
  // that its owner may be destroyed afterwards. Never call it from OnStateChanged.
  void RemoveListener(IStateListener* listener);
  // Watches one registry value ("any change" with `mask`); returns the platform result
  // (0 = success) and the handle through `handle`. A failure is reported through ProcesarError.
  platform::HRESULT Watch(platform::HKEY root, const std::string& subKey,
                          const std::string& valueName, platform::DWORD mask,
                          platform::HREGNOTIFY* handle, WatchMode mode);

  platform::HREGNOTIFY PhoneStatusNotify() const { return hPhoneStatusNotify_; }

 private:
  void Run();
  void Dispatch(platform::HREGNOTIFY handle);
  // Sleeps `ms` unless the broker is being destroyed; false when it is.
  bool Pause(int ms);

  std::mutex listenersMutex_;
  // Held shared while listeners are called, exclusively by RemoveListener.
  std::shared_mutex dispatchMutex_;
  std::vector<IStateListener*> listeners_;
  std::vector<platform::HREGNOTIFY> watches_;
  platform::HMSGQUEUE hQueue_ = 0;
  platform::HREGNOTIFY hPhoneStatusNotify_ = 0;
  std::thread thread_;
  std::atomic<bool> threadRunning_{false};
  std::mutex stopMutex_;
  std::condition_variable stopCv_;
  bool stopping_ = false;
};
