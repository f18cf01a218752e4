// The phone's wireless devices: the list of radios (Wi-Fi adapters, the phone radio, Bluetooth)
// with their on/off state, the switching of one radio, and the power of the Wi-Fi adapter as a
// power-managed device.
//
// Simulated state:
// - Wi-Fi adapters: hardware state "wifi" holds one word per adapter, comma-separated ("on",
//   "off" or "on,off"); "absent" means no adapter; missing means one adapter that is on, as a
//   new phone has. Adapters are named "WLAN1", "WLAN2", ...
// - Every change of the adapters is kept in step with the state value HKLM
//   "System\State\Hardware" "Wifi" (kWifiStateAbsent, kWifiStateOff or kWifiStateOn: on when any
//   adapter is on) and with the adapter's power value under HKLM
//   "System\CurrentControlSet\Control\Power\State" (the value whose name holds the network
//   adapter class, set to the power state: 0 on, 4 off).
// - The phone radio's record follows HKLM "System\State\Phone" "Status" (bit 0x10 = radio off);
//   the Bluetooth record follows the Bluetooth mode (platform/Bluetooth.h).
// - "wireless_service" = "absent" models a phone without the wireless-device service (it cannot
//   be bound); "fail_wifi_list" counts down list reads that are made to fail.
//
// All calls work on the current device and may be called from any thread; each list returned
// belongs to the caller until freed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Types.h"

namespace platform {

// Device types of the list.
inline constexpr DWORD WIRELESS_TYPE_WIFI = 1;
inline constexpr DWORD WIRELESS_TYPE_PHONE = 2;
inline constexpr DWORD WIRELESS_TYPE_BLUETOOTH = 3;

// Radio states of the list.
inline constexpr DWORD WIRELESS_STATE_OFF = 0;
inline constexpr DWORD WIRELESS_STATE_ON = 1;

// Values of "System\State\Hardware" "Wifi".
inline constexpr DWORD kWifiStateAbsent = 0;
inline constexpr DWORD kWifiStateOff = 2;
inline constexpr DWORD kWifiStateOn = 6;

inline constexpr const char* kPowerStateKey = "System\\CurrentControlSet\\Control\\Power\\State";
// The device class of power-managed network adapters.
inline constexpr const char* kNetworkAdapterClass = "{98C5250D-C29A-4985-AE5F-AFE5367E5006}";

// Hardware state names.
inline constexpr const char* kWifiAdaptersState = "wifi";
inline constexpr const char* kWirelessServiceState = "wireless_service";
inline constexpr const char* kWirelessListFailuresState = "fail_wifi_list";

// One record of the device list.
struct WirelessDevice {
  WirelessDevice* next = nullptr;
  DWORD type = 0;
  DWORD state = WIRELESS_STATE_OFF;
  std::string name;
  // Position among the devices of the same type (0 for the first).
  int index = 0;
};

// Lists the radios (Wi-Fi adapters first, then the phone radio, then Bluetooth). `flags` must be
// 0. 0 on success with *head the first record (null for an empty list); ERROR_GEN_FAILURE when
// the read fails.
LONG GetWirelessDevices(WirelessDevice** head, DWORD flags);
// Switches one listed radio to `state` (WIRELESS_STATE_ON or _OFF). With `saveAction` 1 the new
// state is also the one the radio comes back with when the phone restarts; the simulated phone
// keeps every state in its store, so both actions change the same state here. Every change is
// recorded as an activity of kind "radio" (detail {"type":1,"name":"WLAN1","state":1,"save":1}).
// 0 on success; ERROR_INVALID_PARAMETER for a bad record or state, ERROR_FILE_NOT_FOUND for a
// Wi-Fi adapter that is gone, ERROR_GEN_FAILURE for the phone radio (it is switched through
// telephony, not here).
LONG ChangeRadioState(WirelessDevice* device, DWORD state, DWORD saveAction);
// Frees a list returned by GetWirelessDevices; null does nothing. 0.
LONG FreeDeviceList(WirelessDevice* head);

// The wireless-device service's entry points, bound at run time.
using GetWirelessDevicesFn = LONG (*)(WirelessDevice** head, DWORD flags);
using ChangeRadioStateFn = LONG (*)(WirelessDevice* device, DWORD state, DWORD saveAction);
using FreeDeviceListFn = LONG (*)(WirelessDevice* head);
struct WirelessDeviceService {
  GetWirelessDevicesFn getWirelessDevices = nullptr;
  ChangeRadioStateFn changeRadioState = nullptr;
  FreeDeviceListFn freeDeviceList = nullptr;
};
// Binds the entry points. False (and *out untouched) when the phone has no such service.
bool LoadWirelessDeviceService(WirelessDeviceService* out);

// Device power.
inline constexpr DWORD POWER_NAME = 0x00000001;
inline constexpr int POWER_D0 = 0;  // full on
inline constexpr int POWER_D1 = 1;
inline constexpr int POWER_D2 = 2;
inline constexpr int POWER_D3 = 3;
inline constexpr int POWER_D4 = 4;  // off
// Sets the power state of the power-managed device `name` (with POWER_NAME, a value name under
// kPowerStateKey). The Wi-Fi adapter's device switches every adapter: D0 to D2 on, D3 and D4 off.
// ERROR_SUCCESS; ERROR_INVALID_PARAMETER for other flags or states; ERROR_FILE_NOT_FOUND for an
// unknown device or when no adapter is present.
LONG SetDevicePower(std::string_view name, DWORD flags, int state);

// Simulation controls.
// The adapters' states, in list order (empty when there is none).
std::vector<DWORD> GetWifiAdapterStates();
// Replaces the adapters (an empty vector removes them all) and publishes the change.
void SetWifiAdapterStates(const std::vector<DWORD>& states);
// "on" when any adapter is on, "off" when adapters are present and all off, "absent".
std::string GetWifiStateName();
// "on" / "off" switch every adapter (adding one when there is none, as inserting a card would);
// "absent" removes them. False for another word.
bool SetWifiStateByName(const std::string& word);
// The next `count` list reads fail.
void FailNextWirelessListReads(int count);

}  // namespace platform
