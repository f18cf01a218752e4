// bt, wifi and the radio failures: the phone's Bluetooth and Wi-Fi radios as the phone's own
// settings switch them. Every change is visible to every process of the device at once: the
// Bluetooth mode raises a stack event in the running program, a Wi-Fi change updates the
// published "Wifi" state value that the program watches.
#include <iostream>

#include "console/Console.h"
#include "console/FailCommand.h"
#include "platform/Bluetooth.h"
#include "platform/Device.h"
#include "platform/WirelessDevices.h"

namespace console {
namespace {

using namespace platform;

int RunBt(const Args& args) {
  if (args.size() > 1)
    return Usage("bt");
  if (!args.empty()) {
    auto mode = ParseBluetoothMode(args[0]);
    if (!mode)
      return Fail("unknown Bluetooth mode \"" + args[0] + "\" (off, connectable or discoverable)");
    if (BthSetMode(*mode) != 0)
      return Fail("the Bluetooth mode could not be set");
  }
  // The mode as stored: reading it through the radio would use up an injected read failure.
  auto stored = Device::Current()->GetState(kBluetoothModeState);
  std::cout << (stored ? *stored : BluetoothModeName(BTH_POWER_OFF)) << "\n";
  return 0;
}

int RunWifi(const Args& args) {
  if (args.size() > 1)
    return Usage("wifi");
  if (!args.empty() && !SetWifiStateByName(args[0]))
    return Fail("unknown Wi-Fi state \"" + args[0] + "\" (on, off or absent)");
  std::cout << GetWifiStateName() << "\n";
  return 0;
}

ConsoleCommand bt("bt", "bt [off|connectable|discoverable]",
                  "Shows or sets the Bluetooth radio mode.", RunBt);
ConsoleCommand wifi("wifi", "wifi [on|off|absent]",
                    "Shows or switches the Wi-Fi radio; absent removes the adapter.", RunWifi);

FailureKind btRead("bt-read", "Bluetooth mode reads", FailNextBluetoothReads,
                   PendingBluetoothReadFailures);
FailureKind wifiList("wifi-list", "wireless device list reads", FailNextWirelessListReads, [] {
  return static_cast<int>(Device::Current()->GetStateInt(kWirelessListFailuresState, 0));
});

}  // namespace
}  // namespace console
