#include "BenchSupport.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "app/EventLog.h"
#include "app/Mgr.h"
#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "app/WorkerThread.h"
#include "data/DB.h"
#include "data/StrLAC.h"
#include "data/StrPlace.h"
#include "data/TableLAC.h"
#include "data/TablePeriods.h"
#include "data/TablePlaces.h"
#include "location/RilMgr.h"
#include "location/ScheduleEngine.h"

namespace bench {
namespace {

// Notes the time of every schedule record as it is added.
class RecordClock : public IEventLogListener {
 public:
  void OnEventLogChanged(int) override {
    CEventLogRecord newest;
    if (!CEventLog::GetInstance()->GetRecord(0, &newest) ||
        newest.code != CScheduleEngine::kEventLogCode) {
      return;
    }
    std::lock_guard lock(mutex_);
    times_.push_back(Clock::now());
    changed_.notify_all();
  }
  // Waits for the `n`-th schedule record and returns when it was added.
  bool Wait(std::size_t n, Clock::time_point* at) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(10), [&] { return times_.size() >= n; }))
      return false;
    *at = times_[n - 1];
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Clock::time_point> times_;
};

}  // namespace

void PrepareSchedule() {
  CTexts::ResetForTesting();
  CMgr::LoadConfig();
  CRegistrySettings settings;
  settings.SetDWORD(CScheduleEngine::kAwakeToExecuteKey, 0);
}

CStrPeriod AddWholeDay(CDB& db, std::int32_t placeId, const std::string& name) {
  CStrPeriod frame;
  frame.SetIdPlace(placeId);
  frame.SetName(name);
  db.GetTablePeriods()->Insert(frame);
  return frame;
}

void AddTwoPlaces(CDB& db) {
  for (std::int32_t lac : {100, 200}) {
    CStrPlace place("Place " + std::to_string(lac), "", "", -1);
    db.GetTablePlaces()->Insert(place);
    CStrLAC area(lac, place.GetId());
    db.GetTableLAC()->Insert(area);
    AddWholeDay(db, place.GetId(), "Day");
  }
}

std::vector<double> MeasureMovesToStart(
    int moves, const std::function<void(int index, std::int32_t area)>& move, const char* what) {
  RecordClock records;
  CEventLog::GetInstance()->AddListener(&records);
  std::vector<double> latencies;
  {
    CRilMgr ril;
    CScheduleEngine::Instance();
    ril.Initialize();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::size_t seen = 0;
    for (int i = 0; i < moves; ++i) {
      Clock::time_point sent = Clock::now();
      move(i, i % 2 == 0 ? 100 : 200);
      // The first move enters only; every later one leaves and enters.
      seen += i == 0 ? 1 : 2;
      Clock::time_point started;
      if (!records.Wait(seen, &started)) {
        std::printf("%s: no START record after move %d\n", what, i);
        break;
      }
      int pauses = i == 0 ? 1 : 2;
      latencies.push_back(Ms(started - sent) - pauses * WorkerThread::kPauseAfterCommandMs);
      // Let the engine finish its pause before the next move.
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    CScheduleEngine::DestroyInstance();
  }
  CEventLog::GetInstance()->RemoveListener(&records);
  return latencies;
}

}  // namespace bench
