// The simulated wireless-device service and the Wi-Fi adapter's device power.
#include "platform/WirelessDevices.h"

#include <algorithm>

#include "platform/Backend.h"
#include "platform/Bluetooth.h"
#include "platform/Device.h"
#include "platform/Registry.h"
#include "platform/Store.h"
#include "platform/Text.h"
#ifdef TELVANE_LINUX_BACKEND
#include "platform/linux/LinuxPhone.h"
#endif

namespace platform {

namespace {

constexpr DWORD kPhoneRadioOffBit = 0x10;

std::vector<DWORD> ParseAdapters(const std::optional<std::string>& text) {
  if (!text)
    return {WIRELESS_STATE_ON};
  std::vector<DWORD> states;
  if (*text == "absent" || text->empty())
    return states;
  std::size_t start = 0;
  while (start <= text->size()) {
    std::size_t comma = text->find(',', start);
    std::string word = text->substr(start, comma == std::string::npos ? comma : comma - start);
    states.push_back(word == "on" ? WIRELESS_STATE_ON : WIRELESS_STATE_OFF);
    if (comma == std::string::npos)
      break;
    start = comma + 1;
  }
  return states;
}

std::string FormatAdapters(const std::vector<DWORD>& states) {
  if (states.empty())
    return "absent";
  std::string text;
  for (std::size_t i = 0; i < states.size(); ++i)
    text += std::string(i ? "," : "") + (states[i] == WIRELESS_STATE_ON ? "on" : "off");
  return text;
}

std::vector<DWORD> ReadAdapters(Device& dev) {
  return ParseAdapters(dev.GetState(kWifiAdaptersState));
}

// The power values of the network adapters under the power-state key.
std::vector<std::string> AdapterPowerNames() {
  std::vector<std::string> names;
  HKEY key;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kPowerStateKey, &key) != ERROR_SUCCESS)
    return names;
  std::string name;
  DWORD type;
  for (DWORD i = 0; RegEnumValue(key, i, &name, &type) == ERROR_SUCCESS; ++i) {
    if (ToLowerAscii(name).find(ToLowerAscii(kNetworkAdapterClass)) != std::string::npos)
      names.push_back(name);
  }
  RegCloseKey(key);
  return names;
}

// Keeps the published state value and the adapter's power value in step with the adapters. The
// adapters are read afresh, so that of two changes racing each other the later publication shows
// the final state.
void Publish(Device& dev) {
  std::vector<DWORD> states = ReadAdapters(dev);
  bool any = std::find(states.begin(), states.end(), WIRELESS_STATE_ON) != states.end();
  DWORD value = states.empty() ? kWifiStateAbsent : any ? kWifiStateOn : kWifiStateOff;
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Hardware", "Wifi", value);
  if (states.empty())
    return;
  for (const std::string& name : AdapterPowerNames()) {
    RegistrySetDWORD(HKEY_LOCAL_MACHINE, kPowerStateKey, name,
                     static_cast<DWORD>(any ? POWER_D0 : POWER_D4));
  }
}

// Changes the adapters under the store's lock; `change` returns false to leave them alone.
template <class Change>
LONG UpdateAdapters(Change change) {
  Device* dev = Device::Current();
  if (!dev)
    return ERROR_GEN_FAILURE;
  LONG result = ERROR_SUCCESS;
  try {
    dev->store().Transaction([&] {
      std::vector<DWORD> states = ReadAdapters(*dev);
      result = change(states);
      if (result == ERROR_SUCCESS)
        dev->SetState(kWifiAdaptersState, FormatAdapters(states));
    });
  } catch (const StoreError&) {
    return ERROR_GEN_FAILURE;
  }
  if (result == ERROR_SUCCESS)
    Publish(*dev);
  return result;
}

WirelessDevice* Append(WirelessDevice** tail, DWORD type, DWORD state, std::string name,
                       int index) {
  auto* record = new WirelessDevice;
  record->type = type;
  record->state = state;
  record->name = std::move(name);
  record->index = index;
  *tail = record;
  return record;
}

}  // namespace

LONG GetWirelessDevices(WirelessDevice** head, DWORD flags) {
  Device* dev = Device::Current();
  if (!head || flags != 0)
    return ERROR_INVALID_PARAMETER;
  if (!dev)
    return ERROR_GEN_FAILURE;
  std::vector<DWORD> adapters;
  DWORD bluetooth = BTH_POWER_OFF;
  bool fail = false;
  try {
    dev->store().Transaction([&] {
      std::int64_t pending = dev->GetStateInt(kWirelessListFailuresState, 0);
      if (pending > 0) {
        dev->SetStateInt(kWirelessListFailuresState, pending - 1);
        fail = true;
        return;
      }
      adapters = ReadAdapters(*dev);
      if (auto mode = dev->GetState(kBluetoothModeState))
        bluetooth = ParseBluetoothMode(*mode).value_or(BTH_POWER_OFF);
    });
  } catch (const StoreError&) {
    return ERROR_GEN_FAILURE;
  }
  if (fail)
    return ERROR_GEN_FAILURE;
  DWORD phoneStatus = 0;
  RegistryGetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", &phoneStatus);

  WirelessDevice* first = nullptr;
  WirelessDevice** tail = &first;
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    tail = &Append(tail, WIRELESS_TYPE_WIFI, adapters[i], "WLAN" + std::to_string(i + 1),
                   static_cast<int>(i))
                ->next;
  }
  tail = &Append(tail, WIRELESS_TYPE_PHONE,
                 (phoneStatus & kPhoneRadioOffBit) ? WIRELESS_STATE_OFF : WIRELESS_STATE_ON,
                 "Phone", 0)
              ->next;
  Append(tail, WIRELESS_TYPE_BLUETOOTH,
         bluetooth == BTH_POWER_OFF ? WIRELESS_STATE_OFF : WIRELESS_STATE_ON, "Bluetooth", 0);
  *head = first;
  return ERROR_SUCCESS;
}

LONG ChangeRadioState(WirelessDevice* device, DWORD state, DWORD saveAction) {
  if (!device || (state != WIRELESS_STATE_ON && state != WIRELESS_STATE_OFF))
    return ERROR_INVALID_PARAMETER;
  LONG result;
  switch (device->type) {
    case WIRELESS_TYPE_WIFI:
#ifdef TELVANE_LINUX_BACKEND
      // The machine's Wi-Fi is one switch for all its adapters.
      if (backend::IsLinux()) {
        auto states = GetWifiAdapterStates();
        result = device->index < 0 || static_cast<std::size_t>(device->index) >= states.size()
                     ? ERROR_FILE_NOT_FOUND
                     : linuxphone::SetWifiEnabled(state == WIRELESS_STATE_ON);
        break;
      }
#endif
      result = UpdateAdapters([&](std::vector<DWORD>& states) -> LONG {
        if (device->index < 0 || static_cast<std::size_t>(device->index) >= states.size())
          return ERROR_FILE_NOT_FOUND;
        states[static_cast<std::size_t>(device->index)] = state;
        return ERROR_SUCCESS;
      });
      break;
    case WIRELESS_TYPE_BLUETOOTH: {
      DWORD mode = BTH_POWER_OFF;
      if (state == WIRELESS_STATE_ON) {
        // Switching the radio on keeps a mode that is already on.
        Device* dev = Device::Current();
        auto current = dev ? dev->GetState(kBluetoothModeState) : std::nullopt;
        mode = current ? ParseBluetoothMode(*current).value_or(BTH_POWER_OFF) : BTH_POWER_OFF;
        if (mode == BTH_POWER_OFF)
          mode = BTH_CONNECTABLE;
      }
      result = BthSetMode(mode) == 0 ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
      break;
    }
    case WIRELESS_TYPE_PHONE:
      result = ERROR_GEN_FAILURE;
      break;
    default:
      return ERROR_INVALID_PARAMETER;
  }
  if (result == ERROR_SUCCESS) {
    if (Device* dev = Device::Current()) {
      try {
        dev->AddActivity("radio", "{\"type\":" + std::to_string(device->type) + ",\"name\":\"" +
                                      device->name + "\",\"state\":" + std::to_string(state) +
                                      ",\"save\":" + std::to_string(saveAction) + "}");
      } catch (const StoreError&) {
      }
    }
  }
  return result;
}

LONG FreeDeviceList(WirelessDevice* head) {
  while (head) {
    WirelessDevice* next = head->next;
    delete head;
    head = next;
  }
  return ERROR_SUCCESS;
}

bool LoadWirelessDeviceService(WirelessDeviceService* out) {
  Device* dev = Device::Current();
  if (!dev || !out || dev->GetState(kWirelessServiceState).value_or("") == "absent")
    return false;
  out->getWirelessDevices = &GetWirelessDevices;
  out->changeRadioState = &ChangeRadioState;
  out->freeDeviceList = &FreeDeviceList;
  return true;
}

LONG SetDevicePower(std::string_view name, DWORD flags, int state) {
  if (flags != POWER_NAME || state < POWER_D0 || state > POWER_D4)
    return ERROR_INVALID_PARAMETER;
  auto names = AdapterPowerNames();
  bool known = std::any_of(names.begin(), names.end(),
                           [&](const std::string& n) { return EqualsNoCase(n, name); });
  if (!known)
    return ERROR_FILE_NOT_FOUND;
  DWORD radio = state <= POWER_D2 ? WIRELESS_STATE_ON : WIRELESS_STATE_OFF;
#ifdef TELVANE_LINUX_BACKEND
  if (backend::IsLinux()) {
    return GetWifiAdapterStates().empty() ? ERROR_FILE_NOT_FOUND
                                          : linuxphone::SetWifiEnabled(radio == WIRELESS_STATE_ON);
  }
#endif
  return UpdateAdapters([&](std::vector<DWORD>& states) -> LONG {
    if (states.empty())
      return ERROR_FILE_NOT_FOUND;
    std::fill(states.begin(), states.end(), radio);
    return ERROR_SUCCESS;
  });
}

std::vector<DWORD> GetWifiAdapterStates() {
  Device* dev = Device::Current();
  return dev ? ReadAdapters(*dev) : std::vector<DWORD>{};
}

void SetWifiAdapterStates(const std::vector<DWORD>& states) {
  UpdateAdapters([&](std::vector<DWORD>& current) -> LONG {
    current = states;
    return ERROR_SUCCESS;
  });
}

std::string GetWifiStateName() {
  auto states = GetWifiAdapterStates();
  if (states.empty())
    return "absent";
  bool any = std::find(states.begin(), states.end(), WIRELESS_STATE_ON) != states.end();
  return any ? "on" : "off";
}

bool SetWifiStateByName(const std::string& word) {
  if (word == "absent") {
    SetWifiAdapterStates({});
    return true;
  }
  if (word != "on" && word != "off")
    return false;
  DWORD state = word == "on" ? WIRELESS_STATE_ON : WIRELESS_STATE_OFF;
  UpdateAdapters([&](std::vector<DWORD>& states) -> LONG {
    if (states.empty())
      states.push_back(state);
    std::fill(states.begin(), states.end(), state);
    return ERROR_SUCCESS;
  });
  return true;
}

void FailNextWirelessListReads(int count) {
  if (Device* dev = Device::Current())
    dev->SetStateInt(kWirelessListFailuresState, count < 0 ? 0 : count);
}

}  // namespace platform
