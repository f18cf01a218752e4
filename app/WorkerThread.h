// WorkerThread: the program's way of running slow platform operations away from the user
// interface. A caller posts a command (id, time limit in milliseconds, one integer-sized
// parameter); the worker's own thread takes the commands one at a time in posting order and runs
// each on a fresh, short-lived command thread, so that a command that hangs can be given up when
// its time limit runs out without stopping the queue.
//
// Rules callers rely on:
// - Commands of one worker are taken in posting order and never started while an earlier one
//   still runs within its limit; after every command that ran the worker pauses 100 ms.
// - A command that overruns its limit cannot be killed safely on this system. The worker
//   abandons it: the command thread runs on to its end and its result is ignored. The worker
//   calls TimeoutCommand on another thread (waiting at most 10 s for it) and goes on with the
//   next command, which may therefore overlap the abandoned one.
// - The object is never destroyed under a running command thread: SetStop (and so Stop with
//   stop mode 0 or 1) and the destructor wait until every abandoned command thread has ended.
//   A command that never returns thus keeps Stop from returning, as a command with no time
//   limit (-1) keeps its worker busy for ever.
// - The parameter is often the address of a heap record that the handler takes over. A command
//   that will never reach the handler (a refused post, a queue discarded at stop) is handed to
//   DiscardCommand instead, so that its owner can free the record.
//
// Threads: PostCommand, PostCommandUnique, IsCommandPending and the counters may be called from
// any thread. Start, Stop and SetStop are called by the owner; never call Stop or SetStop from
// one of the worker's own command threads (it only asks the thread to end and returns). Handlers
// run on a command thread, neither on the user-interface thread nor on the worker's own thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Types.h"

class CStopwatch;

class WorkerThread {
 public:
  // Stop modes (the constructor's argument). Any other value: Stop leaves the thread running.
  static constexpr int STOP_WHEN_DRAINED = 0;
  static constexpr int STOP_AT_ONCE = 1;
  // Time limit of a command that may run for ever.
  static constexpr int NO_TIME_LIMIT = -1;
  // How long PostCommand waits for another poster before it drops its command.
  static constexpr int kPostWaitMs = 1000;
  // Queue length above which a post is traced as a warning (it is still queued).
  static constexpr std::size_t kHighQueueLength = 1000;
  // Pause after every command that ran.
  static constexpr int kPauseAfterCommandMs = 100;
  // How long the worker waits for TimeoutCommand before it abandons that thread too.
  static constexpr int kTimeoutHandlerWaitMs = 10000;
  // How long TerminateAll gives the remaining workers to end.
  static constexpr int kTerminateWaitMs = 2000;
  static constexpr std::size_t kMaxNameChars = 200;

  // Registers the object in the process-wide list and counters; does not start the thread.
  explicit WorkerThread(int stopMode);
  // Owners call Stop first. A thread still running here (no Stop, or a stop mode that leaves
  // it running, or one that TerminateAll left) is asked to end after its current command and
  // waited for, as are abandoned command threads, since they would otherwise run on a destroyed
  // object. A derived class's handler may already be gone by then: derived classes stop their
  // worker in their own destructor.
  virtual ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Called once by Start, on the caller's thread, right after the worker thread was created.
  virtual void PostStart();
  // Executes one command on a command thread. Exceptions are caught and traced.
  virtual void HandleCommandWorkerThread(int command, std::intptr_t param) = 0;
  // Called on a separate thread when `command` overran its time limit.
  virtual void TimeoutCommand(int command);
  // Called for a command that will never be handled (refused, or still queued when the worker
  // stops), on the thread that refused or discarded it. The base does nothing.
  virtual void DiscardCommand(int command, std::intptr_t param);

  // Creates the worker's thread, then calls PostStart. A second call does nothing.
  void Start();
  // Queues a command; never waits for a running command. A command is refused (traced, and
  // handed to DiscardCommand) before Start, after Stop, once a stop was requested, or when
  // another poster holds the post lock for more than kPostWaitMs.
  void PostCommand(int command, int timeoutMs, std::intptr_t param);
  // PostCommand unless a command with the same id is already queued and not yet taken (the
  // parameter is not compared). The check and the post are not atomic.
  void PostCommandUnique(int command, int timeoutMs, std::intptr_t param);
  // Stops accepting commands, then by stop mode: 0 waits until the queue has run and SetStop;
  // 1 SetStop at once (queued commands are discarded); other values return at once.
  void Stop();
  // Asks the thread to end after its current command and waits until it has, and until every
  // abandoned command thread has ended. Commands still queued are discarded.
  void SetStop();

  // True when a command with this id is queued and not yet taken.
  bool IsCommandPending(int command);

  void SetName(const std::string& name);
  std::string GetName();
  // Commands queued and not yet taken.
  std::size_t GetQueueLength();
  // Commands taken from this queue.
  int GetExecutedCount();
  bool IsAcceptingCommands() const { return acceptingCommands_.load(); }
  bool IsStopRequested();
  // Kernel id of the worker's own thread; 0 until it runs.
  int GetThreadId() const { return threadId_.load(); }
  // Tick count when the last command finished.
  platform::DWORD GetLastCommandTick() const { return lastCommandTick_.load(); }
  // Waits until the queue is empty and no command runs (or the thread has ended); false when
  // `timeoutMs` passed first. For an owner that drives the worker step by step, such as a
  // replay on a virtual clock; never called from the worker's own threads.
  bool WaitUntilDrained(int timeoutMs);
  // The pause after every command, kPauseAfterCommandMs unless changed; a replay, which waits
  // for nothing real, sets 0. Any thread; takes effect from the next command.
  void SetPauseAfterCommand(int ms) { pauseAfterCommandMs_.store(ms); }
  // Command threads given up after their time limit that have not ended yet.
  std::size_t GetAbandonedCount();

  // Live WorkerThread objects.
  static int GetWorkerCount();
  // Threads of live workers that still run: worker threads started and not yet ended, and
  // abandoned command threads not yet finished.
  static int GetRunningThreadCount();
  // Commands posted and not yet taken, summed over all workers.
  static long GetPendingTotal();
  // Commands taken, summed over all workers.
  static long GetExecutedTotal();
  // The window that receives WM_WORKER_PENDING, WM_WORKER_EXECUTED and WM_WORKER_COUNT; 0 =
  // none.
  static void SetStatsWindow(platform::HWND hwnd);
  static platform::HWND GetStatsWindow();
  // Repairs a negative pending total from the queues of all workers, then posts
  // WM_WORKER_PENDING when a statistics window is set.
  static void UpdatePendingTotal();
  // For the very end of the program, after its owners have destroyed their workers. Threads
  // cannot be killed here, so every worker still alive is asked to end at once (its queue is
  // discarded) and given kTerminateWaitMs in all; threads that end are joined, the others (and
  // any abandoned command threads) are detached and left to the end of the process. Returns
  // the number of threads left running. The workers themselves are not destroyed; destroying
  // one later still waits for its threads to end.
  static int TerminateAll();

 private:
  struct CommandRun;
  struct CommandThread;

  void Run();
  void RunCommand(int command, int timeoutMs, std::intptr_t param, CStopwatch& own);
  void RunTimeoutHandler(int command);
  void Abandon(CommandThread thread);
  void ReapAbandoned();
  void JoinAbandoned();
  void RequestStop();
  void JoinWorker();
  void DiscardQueued();
  bool CalledFromOwnThread() const;
  unsigned Tag() const;

  const int stopMode_;

  // Guards stopRequested_ and name_. Never held together with queueMutex_.
  std::mutex stateMutex_;
  bool stopRequested_ = false;
  std::string name_;

  // Guards the three lists, executedCount_ and the four signals below; signal_ announces any
  // change of them.
  std::mutex queueMutex_;
  std::condition_variable signal_;
  std::deque<int> commands_;
  std::deque<int> timeouts_;
  std::deque<std::intptr_t> params_;
  int executedCount_ = 0;
  bool newCommand_ = false;   // set while the queue holds commands
  bool queueDrained_ = true;  // set whenever the queue is empty and no command runs
  bool stopSignal_ = false;   // set by SetStop to wake the thread
  bool finished_ = false;     // set by the thread as its last act

  // Serialises posters (taken before queueMutex_ or stateMutex_). A lock with a time limit,
  // built on a condition variable (which the thread sanitizer follows, unlike timed mutexes).
  class PostLock {
   public:
    bool TryLockFor(int ms);
    void Lock();
    void Unlock();

   private:
    std::mutex mutex_;
    std::condition_variable free_;
    bool held_ = false;
  };
  PostLock postLock_;

  // Guards thread_ (created by Start, joined or detached once).
  std::mutex threadMutex_;
  std::thread thread_;
  std::atomic<bool> started_{false};

  std::atomic<bool> acceptingCommands_{true};
  std::atomic<int> threadId_{0};
  std::atomic<platform::DWORD> lastCommandTick_{0};
  std::atomic<int> pauseAfterCommandMs_{kPauseAfterCommandMs};

  // Command threads given up after their limit, kept until they end.
  std::mutex abandonedMutex_;
  std::vector<CommandThread> abandoned_;
};
