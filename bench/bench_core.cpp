// Prints the cost of the application core's hot calls: posting a worker command, and adding an
// event-log entry with the log file on and off. Each figure is the median of single calls, in
// microseconds, followed by Google Benchmark's own runs of the same calls.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Figures.h"
#include "app/EventLog.h"
#include "app/RegistrySettings.h"
#include "app/WorkerThread.h"
#include "platform/Device.h"
#include "platform/Registry.h"

namespace fs = std::filesystem;

namespace {

// A worker whose commands do nothing: posting is measured, not running.
class IdleWorker : public WorkerThread {
 public:
  IdleWorker() : WorkerThread(STOP_AT_ONCE) {}
  ~IdleWorker() override { SetStop(); }
  void HandleCommandWorkerThread(int, std::intptr_t) override {}
};

void SetFileWriting(bool on) {
  CRegistrySettings::Instance()->SetDWORD(CEventLog::kWriteToFileKey, on ? 1 : 0);
}

void BM_PostCommand(benchmark::State& state) {
  IdleWorker worker;
  worker.Start();
  int i = 0;
  for (auto _ : state)
    worker.PostCommand(1, 1000, ++i);
}
BENCHMARK(BM_PostCommand)->Iterations(50000)->Unit(benchmark::kMicrosecond);

void BM_EventLogAdd(benchmark::State& state) {
  bool fileOn = state.range(0) != 0;
  SetFileWriting(fileOn);
  CEventLog* log = CEventLog::GetInstance();
  int i = 0;
  for (auto _ : state) {
    log->AddEntry(1, CEventLog::LEVEL_INFO, "Bluetooth: encendido",
                  "Bluetooth ha cambiado de apagado a encendido " + std::to_string(++i));
  }
  state.SetLabel(fileOn ? "file on" : "file off");
}
BENCHMARK(BM_EventLogAdd)->Arg(1)->Arg(0)->Iterations(5000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  fs::path folder = fs::temp_directory_path() / ("telvane-bench-core-" + std::to_string(getpid()));
  fs::remove_all(folder);
  platform::Device::Open(folder);
  platform::HKEY key = 0;
  platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, &key);
  platform::RegCloseKey(key);
  CRegistrySettings settings;
  settings.SetString(CEventLog::kPathKey, "\\Program Files\\Telvane\\log.txt");
  settings.SetDWORD(CEventLog::kItemsScreenKey, 100);
  settings.SetDWORD(CEventLog::kMaxSizeKey, 256);

  {
    IdleWorker worker;
    worker.Start();
    double post = bench::MedianCallUs(20000, [&](int i) { worker.PostCommand(1, 1000, i); });
    std::printf("PostCommand: median %.2f us (goal < 20 us)\n", post);
  }
  CEventLog* log = CEventLog::GetInstance();
  auto add = [&](int i) {
    log->AddEntry(1, CEventLog::LEVEL_INFO, "Bluetooth: encendido",
                  "Bluetooth ha cambiado de apagado a encendido " + std::to_string(i));
  };
  SetFileWriting(true);
  double addOn = bench::MedianCallUs(3000, add);
  std::printf("CEventLog::Add, file on: median %.2f us (goal < 100 us)\n", addOn);
  SetFileWriting(false);
  double addOff = bench::MedianCallUs(3000, add);
  std::printf("CEventLog::Add, file off: median %.2f us\n", addOff);
  std::fflush(stdout);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  CEventLog::DestroyInstanceForTesting();
  platform::Device::Close();
  fs::remove_all(folder);
  return 0;
}
