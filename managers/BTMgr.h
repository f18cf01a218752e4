// The Bluetooth manager (id 1): shows and sets the radio mode (off, connectable, discoverable),
// follows the radio when anything else changes it, and, when "intelligent_bt" is on, makes
// Bluetooth discoverable while a voice call is active and puts it back afterwards.
//
// Threads:
// - ForceStatusChild and the refresh after a command run on the manager's command thread.
// - OnBluetoothEvent and its refresh run on the user-interface thread (WM_BLUETOOTH_EVENT).
// - OnStateChanged runs on the thread the broker delivers callbacks on; it only queues
//   commands through ForceStatus.
// - The event thread reads the stack events from the manager's queue and posts
//   WM_BLUETOOTH_EVENT to the main window's handle; it touches nothing else. The destructor
//   ends it and waits for it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "app/Mgr.h"
#include "app/SystemStateBroker.h"
#include "platform/Bluetooth.h"
#include "platform/MsgQueue.h"

// Status values: the radio modes themselves.
inline constexpr int BT_STATUS_OFF = 0;
inline constexpr int BT_STATUS_CONNECTABLE = 1;
inline constexpr int BT_STATUS_DISCOVERABLE = 2;

class CBTMgr : public CMgr, public IStateListener {
 public:
  // Consecutive failed mode reads after which no retry is posted.
  static constexpr int kMaxReadFailures = 15;
  static constexpr int kReadRetryPauseMs = 1000;
  static constexpr int kEventThreadDelayMs = 1000;
  static constexpr platform::DWORD kEventMessageBytes = 100;
  static constexpr platform::DWORD kEventBufferBytes = 1000;
  static constexpr const char* kIntelligentBtKey = "intelligent_bt";

  CBTMgr();
  ~CBTMgr() override;

  // The manager published by its constructor; null when none exists.
  static CBTMgr* GetInstance();

  // Stack events into a queue of our own, the event thread, the first reading, and the watch of
  // the active call count. User-interface thread, once.
  void Initialize() override;
  int GetId() const override { return MGR_ID_BT; }
  void RefreshStatusChild(int force) override;
  void ForceStatusChild(int status, int minutes) override;
  void SetSecondaryStatus() override { ForceStatus(BT_STATUS_DISCOVERABLE, 0, 0, 0); }
  // A timed notification carries the status to switch to.
  void ProcessTimerNotification(int param) override;
  void HandleCommandChild(int command, int value) override {}
  std::string GetName() override;
  std::string GetStatusName(int status) override;

  // WM_BLUETOOTH_EVENT: counts the event and refreshes. User-interface thread.
  void OnBluetoothEvent(platform::WPARAM wParam, platform::LPARAM lParam);
  // The active call count changed (only the manager's own watch is looked at).
  void OnStateChanged(platform::HREGNOTIFY handle) override;

  int GetReadFailures() const { return readFailures_.load(); }
  // The status when the current (or last) call began; STATUS_UNKNOWN before the first call.
  int GetSavedStatus() const { return savedStatus_.load(); }
  bool IsInCall() const { return inCall_.load(); }
  platform::HREGNOTIFY GetCallWatch() const { return callWatch_.load(); }
  bool IsEventThreadRunning() const { return eventThreadRunning_.load(); }
  // Tests shorten the pause before a failed read is retried.
  void SetReadRetryPauseMs(int ms) { retryPauseMs_.store(ms); }

 private:
  void EventThread();
  // Waits `ms` unless the manager is being destroyed; false when it is.
  bool Pause(int ms);
  // Posts to the main window when there is one; false otherwise.
  bool PostToMainWindow(platform::UINT msg);

  CSystemStateBroker* broker_ = nullptr;
  std::atomic<platform::HREGNOTIFY> callWatch_{0};
  platform::HMSGQUEUE queue_ = 0;
  platform::HBTNOTIFY notification_ = 0;
  std::atomic<platform::HWND> mainWindow_{0};
  std::atomic<int> readFailures_{0};
  std::atomic<int> retryPauseMs_{kReadRetryPauseMs};

  // Call-time Bluetooth: whether a call is active and the status to return to.
  std::mutex callMutex_;
  std::atomic<bool> inCall_{false};
  std::atomic<int> savedStatus_{STATUS_UNKNOWN};

  std::thread eventThread_;
  std::atomic<bool> eventThreadRunning_{false};
  std::mutex stopMutex_;
  std::condition_variable stopCv_;
  bool stopping_ = false;
};
