#include "app/WorkerThread.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <system_error>

#include "app/AppMessages.h"
#include "app/Stopwatch.h"
#include "app/Trace.h"
#include "platform/Text.h"
#include "platform/Time.h"
#include "platform/Window.h"

using namespace std::chrono_literals;

namespace {

// Process-wide state of all workers. Allocated once and never destroyed, so that threads still
// running while the process ends never see it torn down.
struct Globals {
  std::atomic<int> workerCount{0};
  std::atomic<long> pendingTotal{0};
  std::atomic<long> executedTotal{0};
  std::atomic<platform::HWND> statsWindow{0};
  std::mutex workerListMutex;
  std::vector<WorkerThread*> workers;
  // One stopwatch shared by all workers, restarted for every command; only traced.
  std::mutex stopwatchMutex;
  CStopwatch commandStopwatch;
};

Globals& G() {
  static Globals* globals = new Globals();
  return *globals;
}

void PostStats(platform::UINT msg, long value) {
  platform::HWND hwnd = G().statsWindow.load();
  if (hwnd)
    platform::PostMessage(hwnd, msg, static_cast<platform::WPARAM>(value), 0);
}

// The worker whose own thread or command thread this is, for refusing waits on oneself.
thread_local const WorkerThread* t_ownWorker = nullptr;

}  // namespace

// Completion of one command (or TimeoutCommand) thread, shared by that thread and the worker so
// that the thread never touches worker state after it has been given up.
struct WorkerThread::CommandRun {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;

  void Finish() {
    {
      std::lock_guard lock(mutex);
      finished = true;
    }
    done.notify_all();
  }
  // True when the thread finished within `timeoutMs` (-1: no limit).
  bool WaitFor(int timeoutMs) {
    std::unique_lock lock(mutex);
    if (timeoutMs < 0) {
      done.wait(lock, [this] { return finished; });
      return true;
    }
    return done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return finished; });
  }
  bool IsFinished() {
    std::lock_guard lock(mutex);
    return finished;
  }
};

bool WorkerThread::PostLock::TryLockFor(int ms) {
  std::unique_lock lock(mutex_);
  if (!free_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !held_; }))
    return false;
  held_ = true;
  return true;
}

void WorkerThread::PostLock::Lock() {
  std::unique_lock lock(mutex_);
  free_.wait(lock, [this] { return !held_; });
  held_ = true;
}

void WorkerThread::PostLock::Unlock() {
  {
    std::lock_guard lock(mutex_);
    held_ = false;
  }
  free_.notify_one();
}

struct WorkerThread::CommandThread {
  std::thread thread;
  std::shared_ptr<CommandRun> run;
  int command = 0;
};

WorkerThread::WorkerThread(int stopMode) : stopMode_(stopMode), name_("No establecido") {
  {
    std::lock_guard lock(G().workerListMutex);
    G().workers.push_back(this);
  }
  int count = ++G().workerCount;
  PostStats(WM_WORKER_COUNT, count);
}

WorkerThread::~WorkerThread() {
  Trace(TRACE_TRACE, "\nWorkerThread::~WorkerThread().%#4X(%d,%d)", Tag(), G().workerCount.load(),
        static_cast<int>(G().pendingTotal.load()));
  if (started_ && !CalledFromOwnThread()) {
    std::unique_lock lock(queueMutex_);
    if (!finished_) {
      lock.unlock();
      Trace(TRACE_ERROR, "WorkerThread destroyed with its thread running; stopping it.%#4X", Tag());
      RequestStop();
      lock.lock();
      signal_.wait(lock, [this] { return finished_; });
    }
  }
  JoinWorker();
  JoinAbandoned();
  {
    std::lock_guard lock(queueMutex_);
    G().pendingTotal -= static_cast<long>(commands_.size());
    commands_.clear();
    timeouts_.clear();
    params_.clear();
  }
  int count = --G().workerCount;
  {
    std::lock_guard lock(G().workerListMutex);
    auto& list = G().workers;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  PostStats(WM_WORKER_COUNT, count);
  Trace(TRACE_TRACE, "WorkerThread::~~WorkerThread().%#4X(%d,%d)", Tag(), count,
        static_cast<int>(G().pendingTotal.load()));
}

void WorkerThread::PostStart() {
  Trace(TRACE_TRACE, "WorkerThread::PostStart().%#4X", Tag());
}

void WorkerThread::TimeoutCommand(int command) {
  Trace(TRACE_WARNING, "WorkerThread::TimeoutCommand(%d).%#4X", command, Tag());
}

void WorkerThread::DiscardCommand(int command, std::intptr_t param) {}

void WorkerThread::Start() {
  {
    std::lock_guard lock(threadMutex_);
    if (started_) {
      Trace(TRACE_WARNING, "WorkerThread::Start() ya arrancado.%#4X", Tag());
      return;
    }
    thread_ = std::thread([this] { Run(); });
    started_ = true;
  }
  PostStart();
}

void WorkerThread::PostCommand(int command, int timeoutMs, std::intptr_t param) {
  if (TraceEnabled(TRACE_TRACE)) {
    Trace(TRACE_TRACE, "WorkerThread::PostCommand(%d, Pend: %d. %#4X)", command,
          static_cast<int>(GetQueueLength()), Tag());
  }
  if (!postLock_.TryLockFor(kPostWaitMs)) {
    Trace(TRACE_ERROR, "Error a la espera de poder postear un comando%#4X. WAIT_TIMEOUT", Tag());
    DiscardCommand(command, param);
    return;
  }
  std::size_t length = GetQueueLength();
  if (length > kHighQueueLength) {
    Trace(TRACE_WARNING, "Alto numero de parametros:%d.%#4X", static_cast<int>(length), Tag());
  }
  bool queued = false;
  if (!started_) {
    Trace(TRACE_WARNING, "Se envio un comando a WorkerThread que no estaba arrancado.%#4X", Tag());
  } else if (!acceptingCommands_) {
    Trace(TRACE_TRACE, "Se denego la entrada de un comando");
  } else if (!IsStopRequested()) {
    {
      std::lock_guard lock(queueMutex_);
      commands_.push_back(command);
      timeouts_.push_back(timeoutMs);
      params_.push_back(param);
      ++G().pendingTotal;
      newCommand_ = true;
      queueDrained_ = false;
    }
    signal_.notify_all();
    UpdatePendingTotal();
    queued = true;
  }
  postLock_.Unlock();
  if (!queued)
    DiscardCommand(command, param);
  Trace(TRACE_TRACE, "WorkerThread::~PostCommand(%d,%d,.%#4X )", command, timeoutMs, Tag());
}

void WorkerThread::PostCommandUnique(int command, int timeoutMs, std::intptr_t param) {
  if (IsCommandPending(command)) {
    Trace(TRACE_TRACE, "Mensaje omitido por repetecicion");
    DiscardCommand(command, param);
    return;
  }
  PostCommand(command, timeoutMs, param);
}

void WorkerThread::Stop() {
  Trace(TRACE_TRACE, "WorkerThread::Stop().%#4X", Tag());
  {
    // Under the post lock, so that no post that already passed its checks lands after this.
    postLock_.Lock();
    acceptingCommands_ = false;
    postLock_.Unlock();
  }
  Trace(TRACE_TRACE, "Se denegara la entrada de mas comandos a partir de ahora.%#4X", Tag());
  if (stopMode_ == STOP_WHEN_DRAINED) {
    Trace(TRACE_TRACE, "Destruyendo objecto. Esperamos a que finalicen los comandos.%#4X", Tag());
    if (!CalledFromOwnThread()) {
      std::unique_lock lock(queueMutex_);
      signal_.wait(lock, [this] { return queueDrained_ || finished_; });
    }
    Trace(TRACE_TRACE, "Señalado fin de comandos. Esperando finalización del thread....%#4X",
          Tag());
    SetStop();
  } else if (stopMode_ == STOP_AT_ONCE) {
    SetStop();
  }
  Trace(TRACE_TRACE, "WorkerThread::~Stop().%#4X", Tag());
}

void WorkerThread::SetStop() {
  Trace(TRACE_TRACE, "WorkerThread::SetStop().%#4X", Tag());
  RequestStop();
  Trace(TRACE_TRACE, "WorkerThread::~SetStop().%#4X", Tag());
  if (CalledFromOwnThread()) {
    Trace(TRACE_ERROR, "WorkerThread::SetStop() desde su propio thread: no se espera.%#4X", Tag());
    return;
  }
  if (started_) {
    {
      std::unique_lock lock(queueMutex_);
      signal_.wait(lock, [this] { return finished_; });
    }
    JoinWorker();
    Trace(TRACE_TRACE, "Señal de fin de thread.%#4X", Tag());
  }
  DiscardQueued();
  JoinAbandoned();
}

bool WorkerThread::IsCommandPending(int command) {
  std::lock_guard lock(queueMutex_);
  return std::find(commands_.begin(), commands_.end(), command) != commands_.end();
}

void WorkerThread::SetName(const std::string& name) {
  std::lock_guard lock(stateMutex_);
  name_ = platform::Utf8Truncate(name, kMaxNameChars);
}

std::string WorkerThread::GetName() {
  std::lock_guard lock(stateMutex_);
  return name_;
}

std::size_t WorkerThread::GetQueueLength() {
  std::lock_guard lock(queueMutex_);
  return commands_.size();
}

int WorkerThread::GetExecutedCount() {
  std::lock_guard lock(queueMutex_);
  return executedCount_;
}

bool WorkerThread::IsStopRequested() {
  std::lock_guard lock(stateMutex_);
  return stopRequested_;
}

std::size_t WorkerThread::GetAbandonedCount() {
  std::lock_guard lock(abandonedMutex_);
  return static_cast<std::size_t>(std::count_if(abandoned_.begin(), abandoned_.end(),
                                                [](auto& t) { return !t.run->IsFinished(); }));
}

int WorkerThread::GetWorkerCount() {
  return G().workerCount.load();
}
long WorkerThread::GetPendingTotal() {
  return G().pendingTotal.load();
}
long WorkerThread::GetExecutedTotal() {
  return G().executedTotal.load();
}
void WorkerThread::SetStatsWindow(platform::HWND hwnd) {
  G().statsWindow = hwnd;
}
platform::HWND WorkerThread::GetStatsWindow() {
  return G().statsWindow.load();
}

void WorkerThread::UpdatePendingTotal() {
  if (G().pendingTotal.load() < 0) {
    std::lock_guard lock(G().workerListMutex);
    long sum = 0;
    for (WorkerThread* worker : G().workers)
      sum += static_cast<long>(worker->GetQueueLength());
    G().pendingTotal = sum;
  }
  PostStats(WM_WORKER_PENDING, G().pendingTotal.load());
}

int WorkerThread::GetRunningThreadCount() {
  std::lock_guard listLock(G().workerListMutex);
  int running = 0;
  for (WorkerThread* worker : G().workers) {
    if (worker->started_) {
      std::lock_guard lock(worker->queueMutex_);
      if (!worker->finished_)
        ++running;
    }
    std::lock_guard lock(worker->abandonedMutex_);
    for (auto& abandoned : worker->abandoned_) {
      if (abandoned.thread.joinable() && !abandoned.run->IsFinished())
        ++running;
    }
  }
  return running;
}

int WorkerThread::TerminateAll() {
  // The list lock is held throughout so that no worker is destroyed while it is looked at; the
  // workers' own threads never take it (the pending total they repair is never negative here).
  std::lock_guard listLock(G().workerListMutex);
  for (WorkerThread* worker : G().workers) {
    if (worker->started_)
      worker->RequestStop();
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTerminateWaitMs);
  int left = 0;
  for (WorkerThread* worker : G().workers) {
    if (worker->started_) {
      bool ended;
      {
        std::unique_lock lock(worker->queueMutex_);
        ended = worker->signal_.wait_until(lock, deadline, [worker] { return worker->finished_; });
      }
      if (ended) {
        worker->JoinWorker();
      } else {
        std::lock_guard lock(worker->threadMutex_);
        if (worker->thread_.joinable())
          worker->thread_.detach();
        ++left;
      }
    }
    // Abandoned command threads stay listed, detached: a later destructor still waits for
    // them to end before the object goes.
    std::lock_guard lock(worker->abandonedMutex_);
    for (auto& abandoned : worker->abandoned_) {
      if (!abandoned.thread.joinable())
        continue;
      if (abandoned.run->IsFinished()) {
        abandoned.thread.join();
      } else {
        abandoned.thread.detach();
        ++left;
      }
    }
  }
  Trace(TRACE_INFO, "WorkerThread::TerminateAll(%d workers, %d threads left)",
        static_cast<int>(G().workers.size()), left);
  return left;
}

void WorkerThread::Run() {
  t_ownWorker = this;
  threadId_ = static_cast<int>(gettid());
  CStopwatch own;
  Trace(TRACE_TRACE, "INICIO FuncWorkerThread.%#4X", Tag());
  for (;;) {
    if (IsStopRequested())
      break;
    int command = 0;
    int timeoutMs = 0;
    std::intptr_t param = 0;
    bool taken = false;
    {
      std::unique_lock lock(queueMutex_);
      signal_.wait(lock, [this] { return stopSignal_ || newCommand_; });
      if (stopSignal_) {
        Trace(TRACE_TRACE, "Señal de fin recibida..%#4X", Tag());
        break;
      }
      Trace(TRACE_TRACE, "Procesando commando....%#4X", Tag());
      Trace(TRACE_TRACE, "Comandos pendientes:%d,%#4X", static_cast<int>(commands_.size()), Tag());
      if (!commands_.empty()) {
        command = commands_.front();
        timeoutMs = timeouts_.front();
        param = params_.front();
        commands_.pop_front();
        timeouts_.pop_front();
        params_.pop_front();
        --G().pendingTotal;
        ++executedCount_;
        taken = true;
      }
    }
    if (taken) {
      PostStats(WM_WORKER_EXECUTED, ++G().executedTotal);
      RunCommand(command, timeoutMs, param, own);
    }

    UpdatePendingTotal();
    if (TraceEnabled(TRACE_TRACE)) {
      float elapsed;
      {
        std::lock_guard lock(G().stopwatchMutex);
        elapsed = G().commandStopwatch.Elapsed();
      }
      Trace(TRACE_TRACE,
            "Comando ejecutado en %f ms. Eje:%d, Eje tot:%d - Pend:%d,Pend tot:%d. Worker:%#4X",
            elapsed * 1000.0, GetExecutedCount(), static_cast<int>(G().executedTotal.load()),
            static_cast<int>(GetQueueLength()), static_cast<int>(G().pendingTotal.load()), Tag());
    }
    {
      std::lock_guard lock(queueMutex_);
      if (commands_.empty()) {
        queueDrained_ = true;
        newCommand_ = false;
      }
    }
    signal_.notify_all();
    ReapAbandoned();
  }
  Trace(TRACE_TRACE, "~FuncWorkerThread..%#4X", Tag());
  // The last touch of the object: notified under the lock, since a destructor waiting for
  // finished_ may destroy the object as soon as the lock is free.
  std::lock_guard lock(queueMutex_);
  finished_ = true;
  signal_.notify_all();
}

void WorkerThread::RunCommand(int command, int timeoutMs, std::intptr_t param, CStopwatch& own) {
  {
    std::lock_guard lock(G().stopwatchMutex);
    G().commandStopwatch.Reset();
    G().commandStopwatch.Start();
  }
  own.Reset();
  own.Start();

  CommandThread ct;
  ct.run = std::make_shared<CommandRun>();
  ct.command = command;
  try {
    ct.thread = std::thread([this, run = ct.run, command, param] {
      t_ownWorker = this;
      try {
        HandleCommandWorkerThread(command, param);
      } catch (...) {
        Trace(TRACE_WARNING, "Error ejecutando HandleCommandWorkerThread.%#4X", Tag());
      }
      run->Finish();
    });
  } catch (const std::system_error&) {
    Trace(TRACE_WARNING, "Error en la ejecucion del comando");
    DiscardCommand(command, param);
  }

  if (ct.thread.joinable()) {
    if (ct.run->WaitFor(timeoutMs)) {
      ct.thread.join();
      Trace(TRACE_WARNING, "******* Comando %d ejecutado dentro el tiempo asignado tiempo(%d ms)",
            command, timeoutMs);
    } else {
      Trace(TRACE_WARNING, "****** Timeout ejecutando comando %d (%d ms)", command, timeoutMs);
      Abandon(std::move(ct));
      RunTimeoutHandler(command);
    }
  }

  own.Stop();
  Trace(TRACE_TRACE, "Comando ejecutado en %f milisegundos", own.Elapsed() * 1000.0);
  lastCommandTick_ = platform::GetTickCount();
  // The pause ends early when a stop is requested: the thread is about to end anyway.
  int pauseMs = pauseAfterCommandMs_.load();
  if (pauseMs <= 0)
    return;
  std::unique_lock lock(queueMutex_);
  signal_.wait_for(lock, std::chrono::milliseconds(pauseMs), [this] { return stopSignal_; });
}

bool WorkerThread::WaitUntilDrained(int timeoutMs) {
  std::unique_lock lock(queueMutex_);
  return signal_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [this] { return (queueDrained_ && commands_.empty()) || finished_; });
}

void WorkerThread::RunTimeoutHandler(int command) {
  CommandThread ct;
  ct.run = std::make_shared<CommandRun>();
  ct.command = command;
  try {
    ct.thread = std::thread([this, run = ct.run, command] {
      t_ownWorker = this;
      try {
        TimeoutCommand(command);
      } catch (...) {
        Trace(TRACE_WARNING, "Error ejecutando TimeoutCommand(%d).%#4X", command, Tag());
      }
      run->Finish();
    });
  } catch (const std::system_error&) {
    Trace(TRACE_WARNING, "Error en la ejecucion del comando");
    return;
  }
  if (ct.run->WaitFor(kTimeoutHandlerWaitMs)) {
    ct.thread.join();
  } else {
    Trace(TRACE_ERROR, "TimeoutCommand(%d) no termino en %d ms.%#4X", command,
          kTimeoutHandlerWaitMs, Tag());
    Abandon(std::move(ct));
  }
}

void WorkerThread::Abandon(CommandThread thread) {
  std::lock_guard lock(abandonedMutex_);
  abandoned_.push_back(std::move(thread));
}

void WorkerThread::ReapAbandoned() {
  std::vector<CommandThread> ended;
  {
    std::lock_guard lock(abandonedMutex_);
    auto it = std::partition(abandoned_.begin(), abandoned_.end(),
                             [](auto& t) { return !t.run->IsFinished(); });
    std::move(it, abandoned_.end(), std::back_inserter(ended));
    abandoned_.erase(it, abandoned_.end());
  }
  for (auto& t : ended) {
    if (t.thread.joinable())
      t.thread.join();
  }
}

void WorkerThread::JoinAbandoned() {
  std::vector<CommandThread> all;
  {
    std::lock_guard lock(abandonedMutex_);
    all.swap(abandoned_);
  }
  for (auto& t : all) {
    while (!t.run->WaitFor(kTimeoutHandlerWaitMs)) {
      Trace(TRACE_ERROR, "Esperando el fin del comando abandonado %d.%#4X", t.command, Tag());
    }
    if (t.thread.joinable())
      t.thread.join();
  }
}

void WorkerThread::RequestStop() {
  {
    std::lock_guard lock(stateMutex_);
    stopRequested_ = true;
  }
  {
    std::lock_guard lock(queueMutex_);
    stopSignal_ = true;
  }
  signal_.notify_all();
}

void WorkerThread::JoinWorker() {
  std::lock_guard lock(threadMutex_);
  if (!thread_.joinable())
    return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void WorkerThread::DiscardQueued() {
  std::deque<int> commands;
  std::deque<std::intptr_t> params;
  {
    std::lock_guard lock(queueMutex_);
    commands.swap(commands_);
    params.swap(params_);
    timeouts_.clear();
    newCommand_ = false;
    queueDrained_ = true;
  }
  signal_.notify_all();
  if (commands.empty())
    return;
  G().pendingTotal -= static_cast<long>(commands.size());
  UpdatePendingTotal();
  for (std::size_t i = 0; i < commands.size(); ++i)
    DiscardCommand(commands[i], params[i]);
}

bool WorkerThread::CalledFromOwnThread() const {
  return t_ownWorker == this;
}

unsigned WorkerThread::Tag() const {
  return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(this));
}
