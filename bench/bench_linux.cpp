// Prints how fast the schedule follows a real phone's modem on the Linux backend: from the
// moment the modem service is told of a new serving cell (its location signal on the system
// bus) to the START record of the new frame in the event log. The modem is the mock service of
// the tests on a private bus; the bridge, the RIL, the cell tracker and the schedule engine are
// the program's own. The worker's fixed pauses of 100 ms are left out, as in bench_schedule.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "data/DB.h"
#include "platform/Backend.h"
#include "platform/Device.h"
#include "platform/PhoneHardware.h"
#include "platform/linux/Bridge.h"
#include "platform/linux/SystemBus.h"
#include "platform_linux/MockBus.h"
#include "support/TestDevice.h"

using namespace bench;

namespace {

constexpr int kMoves = 20;

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
  PrepareSchedule();

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
  AddTwoPlaces(db);
  std::vector<double> latencies = MeasureMovesToStart(
      kMoves,
      [&](int i, std::int32_t lac) {
        control->callMethod("SetCell")
            .onInterface("org.freedesktop.ModemManager1.Mock")
            .withArguments(static_cast<std::uint32_t>(lac), static_cast<std::uint32_t>(i + 1));
      },
      "Modem location to START");
  std::printf(
      "ModemManager location signal to START record: median %.2f ms, max %.2f ms over %zu "
      "moves (goal < 50 ms; the worker's fixed pauses left out)\n",
      Median(latencies), Max(latencies), latencies.size());
  bridge.Stop();
  return 0;
}
