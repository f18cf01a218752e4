// Prints how fast the schedule follows a real phone's modem on the Linux backend: from the
// moment the modem service is told of a new serving cell (its location signal on the system
// bus) to the START record of the new frame in the event log. The modem is the mock service of
// the tests on a private bus; the bridge, the RIL, the cell tracker and the schedule engine are
// the program's own. The worker's fixed pauses of 100 ms are left out, as in bench_schedule.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/EventLog.h"
#include "app/Mgr.h"
#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "app/WorkerThread.h"
#include "data/DB.h"
#include "data/StrLAC.h"
#include "data/TableLAC.h"
#include "data/TablePeriods.h"
#include "data/TablePlaces.h"
#include "location/RilMgr.h"
#include "location/ScheduleEngine.h"
#include "platform/Backend.h"
#include "platform/Device.h"
#include "platform/PhoneHardware.h"
#include "platform/linux/Bridge.h"
#include "platform/linux/SystemBus.h"
#include "platform_linux/MockBus.h"
#include "support/TestDevice.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kMoves = 20;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

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

int main() {
  if (!linuxtest::StartPrivateSystemBus()) {
    std::printf("dbus-daemon could not be started\n");
    return 1;
  }
  TestDevice device;
  if (device.Console({"install", "--backend", "linux"}) != 0) {
    std::printf("telvane-device install failed\n");
    return 1;
  }
  CTexts::ResetForTesting();
  CMgr::LoadConfig();
  CRegistrySettings settings;
  settings.SetDWORD(CScheduleEngine::kAwakeToExecuteKey, 0);

  linuxtest::MockService mm(platform::linuxphone::kMMService, linuxtest::ModemTemplate());
  if (!mm.Running()) {
    std::printf("the modem mock could not be started (python3-dbusmock)\n");
    return 1;
  }
  auto control = mm.Object(platform::linuxphone::kMMPath);
  control->callMethod("AddModem")
      .onInterface("org.freedesktop.ModemManager1.Mock")
      .withArguments(std::string());
  platform::linuxphone::Bridge bridge;
  bridge.Start();
  platform::phone::SetRadioPower(true);

  CDB db;
  db.OpenDB();
  for (std::int32_t lac : {100, 200}) {
    CStrPlace place("Place " + std::to_string(lac), "", "", -1);
    db.GetTablePlaces()->Insert(place);
    CStrLAC area(lac, place.GetId());
    db.GetTableLAC()->Insert(area);
    CStrPeriod frame;
    frame.SetIdPlace(place.GetId());
    frame.SetName("Day");
    db.GetTablePeriods()->Insert(frame);
  }
  RecordClock records;
  CEventLog::GetInstance()->AddListener(&records);
  {
    CRilMgr ril;
    CScheduleEngine::Instance();
    ril.Initialize();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // Records of the start-up evaluation (no cell yet: the unknown place has no frame here).
    std::size_t seen = 0;
    std::vector<double> latencies;
    for (int i = 0; i < kMoves; ++i) {
      std::uint32_t lac = i % 2 == 0 ? 100 : 200;
      Clock::time_point sent = Clock::now();
      control->callMethod("SetCell")
          .onInterface("org.freedesktop.ModemManager1.Mock")
          .withArguments(lac, static_cast<std::uint32_t>(i + 1));
      seen += i == 0 ? 1 : 2;
      Clock::time_point started;
      if (!records.Wait(seen, &started)) {
        std::printf("Modem location to START: no START record after move %d\n", i);
        break;
      }
      int pauses = i == 0 ? 1 : 2;
      latencies.push_back(Ms(started - sent) - pauses * WorkerThread::kPauseAfterCommandMs);
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf(
        "ModemManager location signal to START record: median %.2f ms, max %.2f ms over %zu "
        "moves (goal < 50 ms; the worker's fixed pauses left out)\n",
        latencies.empty() ? 0.0 : latencies[latencies.size() / 2],
        latencies.empty() ? 0.0 : latencies.back(), latencies.size());
    CScheduleEngine::DestroyInstance();
  }
  CEventLog::GetInstance()->RemoveListener(&records);
  bridge.Stop();
  return 0;
}
