// The worker command queue: ordering, one command at a time, time limits, stop modes, refused
// posts and the process-wide statistics.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/AppMessages.h"
#include "app/Stopwatch.h"
#include "app/WorkerThread.h"
#include "platform/Window.h"
#include "support/TestDevice.h"

namespace {

using namespace std::chrono_literals;

// Generous bound for things that must happen; tests normally wake as soon as they do.
constexpr auto kMustHappen = 20s;

// A gate that command handlers wait at until the test opens it.
class Gate {
 public:
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    cv_.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

// A worker that records what happens to its commands, as text events in order.
class RecordingWorker : public WorkerThread {
 public:
  explicit RecordingWorker(int stopMode) : WorkerThread(stopMode) {}
  ~RecordingWorker() override { SetStop(); }

  // What a command does besides being recorded; runs on the command thread.
  std::function<void(int command, std::intptr_t param)> body;

  void HandleCommandWorkerThread(int command, std::intptr_t param) override {
    int now = ++active_;
    int seen = maxActive_.load();
    while (now > seen && !maxActive_.compare_exchange_weak(seen, now)) {
    }
    Record("start " + std::to_string(command), param);
    if (body)
      body(command, param);
    --active_;
    Record("end " + std::to_string(command));
  }
  void TimeoutCommand(int command) override { Record("timeout " + std::to_string(command)); }
  void DiscardCommand(int command, std::intptr_t param) override {
    Record("discard " + std::to_string(command));
  }

  // Waits until `event` has been recorded; false when it never is.
  bool WaitFor(const std::string& event) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, kMustHappen, [&] { return Has(event); });
  }
  // Waits up to `limit` for `event`, for checking that something does not happen too early.
  bool HappensWithin(const std::string& event, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit, [&] { return Has(event); });
  }
  std::vector<std::string> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<std::intptr_t> Params() {
    std::lock_guard lock(mutex_);
    return params_;
  }
  int MaxActive() const { return maxActive_.load(); }
  std::vector<int> CommandThreads() {
    std::lock_guard lock(mutex_);
    return commandThreads_;
  }

 private:
  bool Has(const std::string& event) {
    return std::find(events_.begin(), events_.end(), event) != events_.end();
  }
  void Record(const std::string& event, std::intptr_t param = 0) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
    if (event.rfind("start", 0) == 0) {
      params_.push_back(param);
      commandThreads_.push_back(static_cast<int>(gettid()));
    }
    cv_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> events_;
  std::vector<std::intptr_t> params_;
  std::vector<int> commandThreads_;
  std::atomic<int> active_{0};
  std::atomic<int> maxActive_{0};
};

// Stops `worker` with Stop() on another thread once its current command is released through
// `gate`, after the stop request is visible (so that the worker cannot take another command).
void StopWhileBlocked(RecordingWorker& worker, Gate& gate) {
  std::thread stopper([&] { worker.Stop(); });
  while (!worker.IsStopRequested())
    std::this_thread::yield();
  gate.Open();
  stopper.join();
}

using Events = std::vector<std::string>;

TEST(WorkerThreadTest, RunsCommandsInPostingOrderOneAtATimeOnCommandThreads) {
  RecordingWorker worker(WorkerThread::STOP_WHEN_DRAINED);
  worker.Start();
  worker.PostCommand(1, WorkerThread::NO_TIME_LIMIT, 10);
  worker.PostCommand(2, 5000, 20);
  worker.PostCommand(1, 5000, 30);
  worker.Stop();

  EXPECT_EQ(worker.Events(), (Events{"start 1", "end 1", "start 2", "end 2", "start 1", "end 1"}));
  EXPECT_EQ(worker.Params(), (std::vector<std::intptr_t>{10, 20, 30}));
  EXPECT_EQ(worker.MaxActive(), 1);
  EXPECT_EQ(worker.GetExecutedCount(), 3);
  for (int tid : worker.CommandThreads()) {
    EXPECT_NE(tid, worker.GetThreadId());
    EXPECT_NE(tid, static_cast<int>(gettid()));
  }
}

TEST(WorkerThreadTest, ParameterCarriesAPointer) {
  RecordingWorker worker(WorkerThread::STOP_WHEN_DRAINED);
  std::string received;
  worker.body = [&](int, std::intptr_t param) {
    std::unique_ptr<std::string> record(reinterpret_cast<std::string*>(param));
    received = *record;
  };
  worker.Start();
  worker.PostCommand(4, 5000, reinterpret_cast<std::intptr_t>(new std::string("heap record")));
  worker.Stop();
  EXPECT_EQ(received, "heap record");
}

TEST(WorkerThreadTest, CommandsPostedBeforeStartOrAfterStopAreRefused) {
  RecordingWorker worker(WorkerThread::STOP_WHEN_DRAINED);
  worker.PostCommand(7, 5000, 0);
  EXPECT_EQ(worker.GetQueueLength(), 0u);
  worker.Start();
  worker.PostCommand(8, 5000, 0);
  worker.Stop();
  EXPECT_FALSE(worker.IsAcceptingCommands());
  worker.PostCommand(9, 5000, 0);

  EXPECT_EQ(worker.Events(), (Events{"discard 7", "start 8", "end 8", "discard 9"}));
}

TEST(WorkerThreadTest, OverrunningCommandIsGivenUpThenTimeoutCommandThenTheNextCommand) {
  RecordingWorker worker(WorkerThread::STOP_AT_ONCE);
  Gate gate;
  worker.body = [&](int command, std::intptr_t) {
    if (command == 1)
      gate.Wait();
  };
  worker.Start();
  worker.PostCommand(1, 50, 0);
  worker.PostCommand(2, 5000, 0);
  ASSERT_TRUE(worker.WaitFor("end 2"));

  // Command 1 is still blocked: it was abandoned, not waited for.
  EXPECT_EQ(worker.Events(), (Events{"start 1", "timeout 1", "start 2", "end 2"}));
  EXPECT_EQ(worker.GetAbandonedCount(), 1u);

  // The abandoned command runs on to its end once released; stopping waits for it.
  gate.Open();
  worker.SetStop();
  EXPECT_EQ(worker.Events().back(), "end 1");
  EXPECT_EQ(worker.GetAbandonedCount(), 0u);
}

TEST(WorkerThreadTest, CommandWithoutTimeLimitHoldsTheQueue) {
  RecordingWorker worker(WorkerThread::STOP_WHEN_DRAINED);
  Gate gate;
  worker.body = [&](int command, std::intptr_t) {
    if (command == 1)
      gate.Wait();
  };
  worker.Start();
  worker.PostCommand(1, WorkerThread::NO_TIME_LIMIT, 0);
  worker.PostCommand(2, 5000, 0);
  ASSERT_TRUE(worker.WaitFor("start 1"));
  EXPECT_FALSE(worker.HappensWithin("start 2", 300ms));
  gate.Open();
  worker.Stop();
  EXPECT_EQ(worker.Events(), (Events{"start 1", "end 1", "start 2", "end 2"}));
}

TEST(WorkerThreadTest, ExceptionInAHandlerDoesNotStopTheWorker) {
  RecordingWorker worker(WorkerThread::STOP_WHEN_DRAINED);
  worker.body = [](int command, std::intptr_t) {
    if (command == 1)
      throw std::runtime_error("handler failed");
  };
  worker.Start();
  worker.PostCommand(1, 5000, 0);
  worker.PostCommand(2, 5000, 0);
  worker.Stop();
  EXPECT_EQ(worker.Events(), (Events{"start 1", "start 2", "end 2"}));
}

TEST(WorkerThreadTest, StopModeZeroRunsEveryQueuedCommandFirst) {
  RecordingWorker worker(WorkerThread::STOP_WHEN_DRAINED);
  Gate gate;
  worker.body = [&](int command, std::intptr_t) {
    if (command == 1)
      gate.Wait();
  };
  worker.Start();
  worker.PostCommand(1, WorkerThread::NO_TIME_LIMIT, 0);
  worker.PostCommand(2, 5000, 0);
  worker.PostCommand(3, 5000, 0);
  ASSERT_TRUE(worker.WaitFor("start 1"));
  std::thread stopper([&] { worker.Stop(); });
  while (worker.IsAcceptingCommands())
    std::this_thread::yield();
  gate.Open();
  stopper.join();
  EXPECT_EQ(worker.Events(), (Events{"start 1", "end 1", "start 2", "end 2", "start 3", "end 3"}));
}

TEST(WorkerThreadTest, StopModeOneDiscardsQueuedCommands) {
  RecordingWorker worker(WorkerThread::STOP_AT_ONCE);
  Gate gate;
  worker.body = [&](int command, std::intptr_t) {
    if (command == 1)
      gate.Wait();
  };
  worker.Start();
  long pendingBefore = WorkerThread::GetPendingTotal();
  worker.PostCommand(1, WorkerThread::NO_TIME_LIMIT, 0);
  worker.PostCommand(2, 5000, 0);
  worker.PostCommand(3, 5000, 0);
  ASSERT_TRUE(worker.WaitFor("start 1"));
  StopWhileBlocked(worker, gate);

  EXPECT_EQ(worker.Events(), (Events{"start 1", "end 1", "discard 2", "discard 3"}));
  EXPECT_EQ(worker.GetQueueLength(), 0u);
  EXPECT_EQ(WorkerThread::GetPendingTotal(), pendingBefore);
}

TEST(WorkerThreadTest, OtherStopModesReturnAtOnceAndKeepRunning) {
  RecordingWorker worker(2);
  Gate gate;
  worker.body = [&](int command, std::intptr_t) {
    if (command == 1)
      gate.Wait();
  };
  worker.Start();
  worker.PostCommand(1, WorkerThread::NO_TIME_LIMIT, 0);
  worker.PostCommand(2, 5000, 0);
  ASSERT_TRUE(worker.WaitFor("start 1"));
  worker.Stop();  // returns although command 1 is blocked
  worker.PostCommand(3, 5000, 0);
  gate.Open();
  ASSERT_TRUE(worker.WaitFor("end 2"));
  EXPECT_EQ(worker.Events(), (Events{"start 1", "discard 3", "end 1", "start 2", "end 2"}));
}

TEST(WorkerThreadTest, PostCommandUniqueDropsAnIdStillQueuedButNotOneAlreadyTaken) {
  RecordingWorker worker(WorkerThread::STOP_WHEN_DRAINED);
  Gate first;
  Gate second;
  std::atomic<int> fives{0};
  worker.body = [&](int command, std::intptr_t) {
    if (command == 1)
      first.Wait();
    if (command == 5 && ++fives == 1)
      second.Wait();
  };
  worker.Start();
  worker.PostCommand(1, WorkerThread::NO_TIME_LIMIT, 0);
  ASSERT_TRUE(worker.WaitFor("start 1"));
  worker.PostCommandUnique(5, WorkerThread::NO_TIME_LIMIT, 100);
  worker.PostCommandUnique(5, WorkerThread::NO_TIME_LIMIT, 200);  // same id, other param
  worker.PostCommandUnique(6, 5000, 0);
  EXPECT_TRUE(worker.IsCommandPending(5));
  EXPECT_EQ(worker.GetQueueLength(), 2u);
  first.Open();
  ASSERT_TRUE(worker.WaitFor("start 5"));
  EXPECT_FALSE(worker.IsCommandPending(5));
  worker.PostCommandUnique(5, 5000, 300);  // the first 5 was taken: queued again
  second.Open();
  worker.Stop();

  EXPECT_EQ(worker.Events(), (Events{"start 1", "discard 5", "end 1", "start 5", "end 5", "start 6",
                                     "end 6", "start 5", "end 5"}));
  EXPECT_EQ(worker.Params(), (std::vector<std::intptr_t>{0, 100, 0, 300}));
}

TEST(WorkerThreadTest, LongQueueStillAcceptsCommands) {
  RecordingWorker worker(WorkerThread::STOP_AT_ONCE);
  Gate gate;
  worker.body = [&](int command, std::intptr_t) {
    if (command == 0)
      gate.Wait();
  };
  worker.Start();
  worker.PostCommand(0, WorkerThread::NO_TIME_LIMIT, 0);
  ASSERT_TRUE(worker.WaitFor("start 0"));
  for (int i = 1; i <= 1001; ++i)
    worker.PostCommand(i, 5000, 0);
  ASSERT_EQ(worker.GetQueueLength(), 1001u);
  worker.PostCommand(1002, 5000, 0);
  EXPECT_EQ(worker.GetQueueLength(), 1002u);
  EXPECT_TRUE(worker.IsCommandPending(1002));
  StopWhileBlocked(worker, gate);
  EXPECT_EQ(worker.Events().size(), 2u + 1002u);
  EXPECT_EQ(worker.Events().back(), "discard 1002");
}

TEST(WorkerThreadTest, StopOfAWorkerThatNeverStartedReturns) {
  RecordingWorker drained(WorkerThread::STOP_WHEN_DRAINED);
  RecordingWorker atOnce(WorkerThread::STOP_AT_ONCE);
  drained.Stop();
  atOnce.Stop();
  EXPECT_FALSE(drained.IsAcceptingCommands());
  EXPECT_FALSE(atOnce.IsAcceptingCommands());
}

TEST(WorkerThreadTest, TerminateAllEndsIdleWorkersAndLeavesABlockedOneRunning) {
  RecordingWorker idle(WorkerThread::STOP_WHEN_DRAINED);
  RecordingWorker blocked(2);
  Gate gate;
  blocked.body = [&](int, std::intptr_t) { gate.Wait(); };
  idle.Start();
  blocked.Start();
  blocked.PostCommand(1, WorkerThread::NO_TIME_LIMIT, 0);
  blocked.PostCommand(2, WorkerThread::NO_TIME_LIMIT, 0);
  ASSERT_TRUE(blocked.WaitFor("start 1"));
  EXPECT_EQ(WorkerThread::GetRunningThreadCount(), 2);

  EXPECT_EQ(WorkerThread::TerminateAll(), 1);
  EXPECT_EQ(WorkerThread::GetRunningThreadCount(), 1) << "only the blocked thread still runs";
  EXPECT_EQ(WorkerThread::GetWorkerCount(), 2) << "both objects are still alive";
  idle.PostCommand(3, 5000, 0);
  EXPECT_EQ(idle.Events(), (Events{"discard 3"}));

  // The blocked worker's object outlives its thread: destroying it waits for the command.
  gate.Open();
  ASSERT_TRUE(blocked.WaitFor("end 1"));
}

TEST(WorkerThreadTest, StatisticsAreCountedAndPostedToTheStatisticsWindow) {
  TestDevice dev;
  platform::MessageQueueSink sink;
  platform::HWND hwnd = platform::RegisterTopLevelWindow("WorkerStats", &sink);
  ASSERT_NE(hwnd, 0u);
  WorkerThread::SetStatsWindow(hwnd);
  int workersBefore = WorkerThread::GetWorkerCount();
  long executedBefore = WorkerThread::GetExecutedTotal();
  platform::MessageQueueSink::Message msg;
  {
    RecordingWorker worker(WorkerThread::STOP_WHEN_DRAINED);
    EXPECT_EQ(WorkerThread::GetWorkerCount(), workersBefore + 1);
    ASSERT_TRUE(sink.Get(&msg, 5000));
    EXPECT_EQ(msg.msg, 1126u);
    EXPECT_EQ(msg.wParam, static_cast<platform::WPARAM>(workersBefore + 1));
    EXPECT_EQ(msg.lParam, 0);

    worker.Start();
    worker.PostCommand(1, 5000, 0);
    worker.Stop();
    EXPECT_EQ(WorkerThread::GetExecutedTotal(), executedBefore + 1);
  }
  EXPECT_EQ(WorkerThread::GetWorkerCount(), workersBefore);
  WorkerThread::SetStatsWindow(0);

  std::vector<platform::MessageQueueSink::Message> messages;
  while (sink.Get(&msg, 0))
    messages.push_back(msg);
  ASSERT_FALSE(messages.empty());
  bool pendingSeen = false;
  bool executedSeen = false;
  for (const auto& m : messages) {
    if (m.msg == WM_WORKER_PENDING)
      pendingSeen = true;
    if (m.msg == WM_WORKER_EXECUTED) {
      executedSeen = true;
      EXPECT_EQ(m.wParam, static_cast<platform::WPARAM>(executedBefore + 1));
    }
  }
  EXPECT_TRUE(pendingSeen);
  EXPECT_TRUE(executedSeen);
  EXPECT_EQ(messages.back().msg, WM_WORKER_COUNT);
  EXPECT_EQ(messages.back().wParam, static_cast<platform::WPARAM>(workersBefore));
  platform::DestroyTopLevelWindow(hwnd);
}

TEST(StopwatchTest, MeasuresFromStartToStop) {
  CStopwatch watch;
  EXPECT_EQ(watch.Elapsed(), 0.0f);
  watch.Start();
  std::this_thread::sleep_for(20ms);
  watch.Stop();
  float elapsed = watch.Elapsed();
  EXPECT_GE(elapsed, 0.019f);
  EXPECT_LT(elapsed, 5.0f);
  EXPECT_EQ(watch.Elapsed(), elapsed);  // stopped: no longer moves
  watch.Reset();
  EXPECT_EQ(watch.Elapsed(), 0.0f);
}

}  // namespace
