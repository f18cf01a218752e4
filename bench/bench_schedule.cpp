// Prints how fast the schedule follows the phone:
// - from the radio's location notification to the START record of the new frame in the event
//   log, on a real device with the cell tracker and the schedule engine running (the worker's
//   fixed pause of 100 ms after the evaluation and after leaving the old frame is left out);
// - the cost of the database lookups of one evaluation (location code to place, the place's
//   frame for now, the frame's actions) with 1,000 places, 10,000 cells and 5,000 actions,
//   as a median of single evaluations and then as Google Benchmark's runs;
// - how soon the schedule follows the phone after a burst of 2,000 location changes in 15 s
//   (reports that arrive while an evaluation is queued join it): from the last change to the
//   START record of the frame of the place it leads to.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "app/EventLog.h"
#include "data/DB.h"
#include "data/StrCell.h"
#include "data/StrLAC.h"
#include "data/TableActions.h"
#include "data/TableCell.h"
#include "data/TableLAC.h"
#include "data/TablePeriods.h"
#include "data/TablePlaces.h"
#include "location/CellHistory.h"
#include "location/LocationLookup.h"
#include "location/RilMgr.h"
#include "location/ScheduleEngine.h"
#include "platform/Device.h"
#include "platform/Ril.h"

namespace fs = std::filesystem;
using namespace bench;

extern char** environ;

namespace {

constexpr int kPlaces = 1000;
constexpr int kCellsPerPlace = 10;
constexpr int kActionsPerFrame = 5;
constexpr int kMoves = 30;

// Installs the program on the device with the device console (settings and translations).
bool Install(const fs::path& folder) {
  std::string tool = TELVANE_DEVICE_TOOL;
  std::string device = folder.string();
  std::vector<char*> argv{tool.data(), const_cast<char*>("--device"), device.data(),
                          const_cast<char*>("install"), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
    return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Two places, each a location area with a whole-day frame; the phone moves between them and
// every move leaves one frame (END record) and enters the other (START record).
void MeasureLocationToStart(CDB& db) {
  AddTwoPlaces(db);
  std::vector<double> latencies = MeasureMovesToStart(
      kMoves,
      [](int i, std::int32_t lac) {
        platform::ril::SetServingCell(static_cast<platform::DWORD>(i + 1),
                                      static_cast<platform::DWORD>(lac), true);
      },
      "Location to START");
  std::printf(
      "Location notification to START record: median %.2f ms, max %.2f ms over %zu moves "
      "(goal < 20 ms; the worker's fixed pauses left out)\n",
      Median(latencies), Max(latencies), latencies.size());
}

// Notes when the START record of a given place's frame is added.
class StartClock : public IEventLogListener {
 public:
  explicit StartClock(std::string prefix) : prefix_(std::move(prefix)) {}
  void OnEventLogChanged(int) override {
    CEventLogRecord newest;
    if (!CEventLog::GetInstance()->GetRecord(0, &newest) ||
        newest.code != CScheduleEngine::kEventLogCode || newest.summary.rfind(prefix_, 0) != 0) {
      return;
    }
    std::lock_guard lock(mutex_);
    if (!seen_) {
      seen_ = true;
      at_ = Clock::now();
      changed_.notify_all();
    }
  }
  bool Wait(std::chrono::seconds limit, Clock::time_point* at) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, limit, [&] { return seen_; }))
      return false;
    *at = at_;
    return true;
  }

 private:
  std::string prefix_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool seen_ = false;
  Clock::time_point at_;
};

// 2,000 changes in 15 s between the two places of MeasureLocationToStart, the last one into a
// third place: the time from that last change to the START record of the third place's frame.
void MeasureBurst(CDB& db) {
  constexpr int kChanges = 2000;
  constexpr auto kBurst = std::chrono::milliseconds(15000);
  CStrPlace destination("Place 300", "", "", -1);
  db.GetTablePlaces()->Insert(destination);
  CStrLAC area(300, destination.GetId());
  db.GetTableLAC()->Insert(area);
  AddWholeDay(db, destination.GetId(), "Day");
  StartClock started("Entering Place 300");
  CEventLog::GetInstance()->AddListener(&started);
  {
    CRilMgr ril;
    CScheduleEngine* engine = CScheduleEngine::Instance();
    ril.Initialize();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    int executedBefore = engine->GetExecutedCount();
    Clock::time_point begin = Clock::now();
    Clock::time_point last;
    for (int i = 0; i < kChanges; ++i) {
      std::this_thread::sleep_until(begin + kBurst * i / kChanges);
      std::int32_t lac = i == kChanges - 1 ? 300 : (i % 2 == 0 ? 100 : 200);
      last = Clock::now();
      platform::ril::SetServingCell(static_cast<platform::DWORD>(1000 + i),
                                    static_cast<platform::DWORD>(lac), true);
    }
    Clock::time_point acted;
    if (started.Wait(std::chrono::seconds(120), &acted)) {
      std::printf(
          "Burst of %d location changes in %.1f s: the last one acted on %.0f ms after it "
          "(goal < 1000 ms), %d engine commands\n",
          kChanges, Ms(last - begin) / 1000.0, Ms(acted - last),
          engine->GetExecutedCount() - executedBefore);
    } else {
      std::printf("Burst of %d location changes: the last one not acted on within 120 s\n",
                  kChanges);
    }
    std::fflush(stdout);
    CScheduleEngine::DestroyInstance();
  }
  CEventLog::GetInstance()->RemoveListener(&started);
}

// The profile set of a heavy user: every place has ten cells and one frame with five actions.
void FillLargeProfile(CDB& db) {
  CDB::Transaction transaction(db);
  for (int p = 0; p < kPlaces; ++p) {
    CStrPlace place("Place " + std::to_string(p), "", "", -1);
    db.GetTablePlaces()->Insert(place);
    for (int c = 0; c < kCellsPerPlace; ++c) {
      CStrCell cell(100000 + p * kCellsPerPlace + c, place.GetId());
      db.GetTableCell()->Insert(cell);
    }
    CStrPeriod frame = AddWholeDay(db, place.GetId(), "Day");
    for (int a = 0; a < kActionsPerFrame; ++a) {
      CStrAction action;
      action.SetIdPeriod(frame.GetId());
      action.SetMgrId(a);
      action.SetType(a % 2);
      action.SetIntOp1(1);
      db.GetTableActions()->Insert(action);
    }
  }
  transaction.Commit();
}

CDB* g_db = nullptr;
CScheduleEngine* g_engine = nullptr;

// The lookups of one evaluation of a move from `oldCode` to `newCode`: both codes to places,
// the frame in force at the new one (also as the "current frame" check) and its actions.
std::size_t Evaluate(std::int32_t oldCode, std::int32_t newCode) {
  locationlookup::PlaceIdOfCode(oldCode);
  auto placeId = locationlookup::PlaceIdOfCode(newCode);
  if (!placeId || !locationlookup::FindPlace(*placeId))
    return 0;
  CStrPeriod frame;
  if (!g_engine->FindFrameForTime(&frame, *placeId))
    return 0;
  std::vector<CStrAction> actions;
  g_db->GetTableActions()->GetAllForPeriod(&actions, frame.GetId());
  return actions.size();
}

std::int32_t CellOf(int i) {
  // Spread over the whole table, so that lookups do not all hit its start.
  return 100000 + (i * 7919) % (kPlaces * kCellsPerPlace);
}

void BM_Evaluation(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Evaluate(CellOf(i), CellOf(i + 1)));
    ++i;
  }
}
BENCHMARK(BM_Evaluation)->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  fs::path folder =
      fs::temp_directory_path() / ("telvane-bench-schedule-" + std::to_string(getpid()));
  fs::remove_all(folder);
  platform::Device::Open(folder);
  if (!Install(folder)) {
    std::printf("telvane-device install failed\n");
    return 1;
  }
  PrepareSchedule();

  CDB db;
  db.OpenDB();
  MeasureLocationToStart(db);
  MeasureBurst(db);

  CStrLocation::SetCellMode(true);
  auto fillStart = Clock::now();
  FillLargeProfile(db);
  std::printf("Profile set of %d places, %d cells, %d actions stored in %.0f ms\n", kPlaces,
              kPlaces * kCellsPerPlace, kPlaces * kActionsPerFrame, Ms(Clock::now() - fillStart));
  g_db = &db;
  g_engine = CScheduleEngine::Instance();
  Evaluate(CellOf(0), CellOf(1));  // the tables' caches are filled once
  std::vector<double> costs;
  for (int i = 0; i < 500; ++i) {
    auto start = Clock::now();
    Evaluate(CellOf(i), CellOf(i + 1));
    costs.push_back(Ms(Clock::now() - start));
  }
  std::printf(
      "Evaluation with %d places, %d cells, %d actions: median %.3f ms, max %.3f ms "
      "(goal < 5 ms)\n",
      kPlaces, kPlaces * kCellsPerPlace, kPlaces * kActionsPerFrame, Median(costs), Max(costs));
  std::fflush(stdout);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  CScheduleEngine::DestroyInstance();
  CCellHistory::Release();
  CEventLog::DestroyInstanceForTesting();
  platform::Device::Close();
  fs::remove_all(folder);
  return 0;
}
