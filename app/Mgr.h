// The manager framework: every switchable feature is driven by one manager derived from CMgr.
//
// A manager has a fixed id, one integer status, status listeners, a worker thread on which
// requested changes run, event-log entries for every requested and every observed change, the
// push of its status to the home-screen item, and an optional time limit after which the phone
// starts the program again so that the manager can undo the change.
//
// Threads: ForceStatus, AddStatusListener and RemoveStatusListener run on the calling thread;
// ForceStatusChild, HandleCommandChild and the RefreshStatus that follows a change run on the
// manager's command thread, one at a time. RefreshStatus may also run on the user-interface
// thread or a platform thread at the same time; the status is an atomic integer.
// DispatchTimerNotification and ProcessTimerNotification run on the user-interface thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/ChangeCause.h"
#include "app/Ids.h"
#include "app/TimerNotification.h"
#include "app/WorkerThread.h"
#include "platform/Types.h"

class IStatusListener {
 public:
  virtual ~IStatusListener() = default;
  // Called on the thread that fired the change (usually a worker command thread); a listener
  // that touches windows must post to the user-interface thread.
  virtual void OnStatusChanged(int status, int mgrId, int reason) = 0;
  virtual std::string GetListenerName() = 0;
};

// The parameter of every command posted to a manager's worker; the handler frees it.
struct StatusChangeRequest {
  int value;
  int delayMs;
  // Why the change is requested; the command runs under it (CChangeCauseScope).
  CChangeCause cause{};
};

// A mutex whose lock can wait with a limit, built on a condition variable: the thread
// sanitizer does not follow timed waits on a std::timed_mutex and would report every lock.
class CTimedMutex {
 public:
  // True when the lock was taken within `limitMs`.
  bool TryLockFor(int limitMs);
  void lock();
  void unlock();

 private:
  std::mutex mutex_;
  std::condition_variable free_;
  bool held_ = false;
};

// An auto-reset event, set when a status request ends or is refused.
class CAutoResetEvent {
 public:
  void Set();
  void Reset();
  // True when the event was set within `timeoutMs` (and clears it).
  bool Wait(int timeoutMs);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool set_ = false;
};

class CMgr : public ITimerNotificationTarget, public WorkerThread {
 public:
  static constexpr int CMD_FORCE_STATUS = 0;
  static constexpr int REASON_REFRESH = 10;
  // Characters of "mgr_config" kept; reaches the highest manager id (52).
  static constexpr std::size_t kMgrConfigChars = 53;
  // Mutex waits longer than this count as a deadlock and lead to an orderly self-restart.
  static constexpr int kMutexLimitMs = 2000;
  // How long after its command a requested change that the platform finishes later still counts
  // as the request's.
  static constexpr platform::DWORD kPendingCauseMs = 120000;

  explicit CMgr(int id);
  ~CMgr() override;

  // ITimerNotificationTarget: when `mgrId` is this manager's id, ProcessTimerNotification.
  void DispatchTimerNotification(int mgrId, int param) override;

  // Starts watching the platform; called once by the application after the database is open.
  virtual void Initialize() = 0;
  virtual bool NotifyOnRefresh() { return true; }
  virtual int GetId() const { return id_; }
  // Reads the status (RefreshStatusChild); fires the listeners when forced or when this refresh
  // changed the stored status (and NotifyOnRefresh). The "changed" entry is written by the store
  // itself, see SetStatusValue.
  virtual void RefreshStatus(int force);
  virtual void RefreshStatusChild(int force) = 0;
  virtual void RunTest() {}
  // Requests a change to `status`, run on the worker; with `minutes` > 0 a time limit that
  // hands `param` back to ProcessTimerNotification when it expires. The cause is the calling
  // thread's CChangeCauseScope, else a change by hand from the main window.
  virtual void ForceStatus(int status, int minutes, int param, int delayMs);
  // The same, for `cause`: it goes into the "changing" entry, travels with the request to the
  // worker and goes into the "changed" entry of the change the request brings.
  void ForceStatus(int status, int minutes, int param, int delayMs, const CChangeCause& cause);
  // The cause of a change that a time limit of this manager makes when it expires: it undoes
  // the last limited change (its status and time, when this process made it). Any thread.
  CChangeCause TimeLimitCause();
  virtual void ForceStatusChild(int status, int minutes) = 0;
  virtual void SetSecondaryStatus() = 0;
  virtual int GetEventCount() const { return eventCount_.load(); }
  virtual void SetTimeLimitNotification(int mgrId, int minutes, int param);
  virtual void EnsureTimeLimitNotification(int mgrId, int minutes, int param);
  virtual void ClearTimeLimitNotification(int mgrId);
  virtual void ProcessTimerNotification(int param);
  virtual void HandleCommandChild(int command, int value) = 0;
  virtual std::string GetName() { return "unknown"; }
  virtual std::string GetStatusName(int status) { return "unknown"; }

  void AddStatusListener(IStatusListener* listener);
  // Once this returns the listener is called no more: a call under way on another thread is
  // waited for (up to a few seconds), so the listener may be destroyed right after.
  void RemoveStatusListener(IStatusListener* listener);
  void FireStatusChanged(int reason);

  // Stores the status; true when the stored value changed. A change stored by RefreshStatusChild
  // on the refreshing thread is an observed change: its "changed" entry is written here, under
  // the status lock, so that refreshes racing over one change (a command's re-read and the
  // platform's report) write one entry, and entries follow the order of the changes. Stores
  // outside a refresh (a first reading, a failed command) write no entry. Any thread.
  bool SetStatusValue(int status);
  int GetStatus() const { return status_.load(); }
  // Location numbers pushed to the home-screen item by the cell-location manager.
  virtual void GetLocationNumbers(int* first, int* second) { *first = *second = 0; }

  // Whether the last ForceStatus was accepted, and the event set when a request ends.
  int RequestAccepted() const { return requestAccepted_.load(); }
  CAutoResetEvent& StatusEvent() { return statusEvent_; }
  platform::HNOTIFY LimitNotification() const { return limitNotification_.load(); }

  static void AddMgr(CMgr* mgr);
  static void RemoveMgr(CMgr* mgr);
  static CMgr* GetMgr(int id);
  static std::vector<CMgr*> GetAll();
  static void RefreshAll();
  static void SendStatusToPlugin();
  // The configuration character of manager `id` ('0' disabled, '2' switchable, other: read only).
  static char ConfigChar(int id);
  // Reloads "mgr_config" (used at start-up and by tests).
  static void LoadConfig();

 protected:
  void HandleCommandWorkerThread(int command, std::intptr_t param) override;
  // A request that never ran is freed here.
  void DiscardCommand(int command, std::intptr_t param) override;
  void IncrementEventCount() { eventCount_.fetch_add(1); }
  // Managers whose changes finish asynchronously report the request's outcome themselves.
  void SetRequestAccepted(int value) { requestAccepted_.store(value); }

 private:
  void PushToPlugin();
  // The "changed" entry of a stored change from `old` to `now`. Under statusMutex_.
  void WriteChangedEntry(int old, int now);
  // The cause of an observed change to `now`: the thread's scope (a command of this manager
  // runs under its request's cause), else the request still waiting for that status, else
  // outside. Takes causeMutex_.
  CChangeCause CauseOfObservedChange(int now);

  // Guards the causes of requests under way and the last limited change.
  std::mutex causeMutex_;
  // The status a request asked for and its cause, until a change to it is observed, the next
  // request replaces it, its command ended with the status already there, or kPendingCauseMs
  // passed since the command ended (a change that never came is no one's any more).
  std::optional<std::pair<int, CChangeCause>> pendingCause_;
  platform::DWORD pendingSinceTick_ = 0;
  // The status name and "HH:MM" of the last change made with a time limit.
  std::string limitedStatus_;
  std::string limitedSince_;

  std::atomic<int> limitMinutes_{0};
  std::atomic<int> limitParam_{0};
  std::vector<IStatusListener*> listeners_;
  std::mutex statusMutex_;  // orders the stores of status_ and their entries
  std::atomic<int> status_{STATUS_UNKNOWN};
  std::atomic<int> eventCount_{0};
  std::atomic<platform::HNOTIFY> limitNotification_{0};
  CTimedMutex listenersMutex_;
  // Threads delivering a status change at the moment, so that a removal can wait for them.
  std::mutex firingMutex_;
  std::condition_variable firingDone_;
  std::vector<std::thread::id> firing_;
  const int id_;
  CAutoResetEvent statusEvent_;
  std::atomic<int> requestAccepted_{1};
};
