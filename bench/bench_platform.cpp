// Prints the simulated phone's core figures: registry read and write latency, the latency of a
// registry change from one process to a watch in another, and notifications fired per second.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "Figures.h"
#include "platform/Device.h"
#include "platform/NotificationRunner.h"
#include "platform/Notify.h"
#include "platform/Registry.h"
#include "platform/Time.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

double MedianUs(const std::vector<std::int64_t>& ns) {
  return bench::Median(std::vector<double>(ns.begin(), ns.end())) / 1000.0;
}

std::int64_t NowNs() {
  return QueryPerformanceCounter();
}

constexpr int kEvents = 200;

// The writing process: waits until the watch is in place, then writes timestamps.
void Writer(const fs::path& folder) {
  Device::Open(folder);
  DWORD ready = 0;
  while (RegistryGetDWORD(HKEY_LOCAL_MACHINE, "Bench", "ready", &ready) != S_OK || ready != 1) {
    Sleep(5);
  }
  HKEY key;
  RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Bench", &key);
  for (int i = 0; i < kEvents; ++i) {
    std::int64_t ts = NowNs();
    RegSetValueEx(key, "stamp", REG_BINARY, &ts, sizeof ts);
    Sleep(2);
  }
  RegCloseKey(key);
  Device::Close();
}

}  // namespace

int main() {
  fs::path folder = fs::temp_directory_path() / ("telvane-bench-" + std::to_string(getpid()));
  fs::remove_all(folder);
  {
    // Create the store before forking so both processes find it ready.
    Device::Open(folder);
    HKEY key;
    RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Bench", &key);
    RegCloseKey(key);
    Device::Close();
  }
  pid_t child = fork();
  if (child == 0) {
    Writer(folder);
    _exit(0);
  }
  Device::Open(folder);

  // Registry read and write latency.
  std::vector<std::int64_t> reads, writes;
  for (int i = 0; i < 2000; ++i) {
    std::int64_t t0 = NowNs();
    RegistrySetDWORD(HKEY_LOCAL_MACHINE, "Bench", "value", static_cast<DWORD>(i));
    std::int64_t t1 = NowNs();
    DWORD v;
    RegistryGetDWORD(HKEY_LOCAL_MACHINE, "Bench", "value", &v);
    std::int64_t t2 = NowNs();
    writes.push_back(t1 - t0);
    reads.push_back(t2 - t1);
  }
  std::printf("registry read:  median %.1f us (goal < 20 us)\n", MedianUs(reads));
  std::printf("registry write: median %.1f us (goal < 300 us)\n", MedianUs(writes));

  // Cross-process event latency.
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::int64_t> latencies;
  HREGNOTIFY h;
  RegistryNotifyCallback(
      HKEY_LOCAL_MACHINE, "Bench", "stamp",
      [&](HREGNOTIFY, DWORD, const BYTE* data, UINT size) {
        std::int64_t now = NowNs();
        std::int64_t ts = 0;
        if (size >= sizeof ts)
          std::memcpy(&ts, data, sizeof ts);
        std::lock_guard lock(m);
        latencies.push_back(now - ts);
        cv.notify_all();
      },
      0, nullptr, &h);
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "Bench", "ready", 1);
  {
    std::unique_lock lock(m);
    cv.wait_for(lock, std::chrono::seconds(30), [&] { return latencies.size() >= kEvents; });
  }
  int status;
  waitpid(child, &status, 0);
  RegistryCloseNotification(h);
  std::printf("cross-process event: median %.1f us over %zu events (goal < 2000 us)\n",
              MedianUs(latencies), latencies.size());

  // Notifications fired per second by the runner (the launcher itself is not measured).
  constexpr int kNotifications = 2000;
  std::int64_t base = Clock::LocalNowMs();
  for (int i = 0; i < kNotifications; ++i) {
    CE_NOTIFICATION_TRIGGER t;
    t.lpszApplication = "/bin/true";
    t.lpszArguments = "timer_notification_00_00";
    t.stStartTime = MsToSystemTime(base - 1000 + i % 500);
    CeSetUserNotificationEx(0, t);
  }
  int fired = 0;
  NotificationRunner runner([&](const std::string&, const std::string&) { return ++fired, true; });
  std::int64_t t0 = NowNs();
  runner.RunDue(Clock::LocalNowMs());
  double seconds = (NowNs() - t0) / 1e9;
  std::printf("notifications fired: %d in %.3f s = %.0f per second\n", fired, seconds,
              fired / seconds);

  Device::Close();
  fs::remove_all(folder);
  return 0;
}
