#include "platform/PowerStatus.h"

#include "platform/Device.h"
#include "platform/Registry.h"

namespace platform {

namespace {

constexpr BYTE kLowPercent = 33;
constexpr BYTE kCriticalPercent = 5;

}  // namespace

DWORD GetSystemPowerStatusEx2(SYSTEM_POWER_STATUS_EX2* out, DWORD length, BOOL update) {
  if (!out || length < sizeof(SYSTEM_POWER_STATUS_EX2) || !Device::Current())
    return 0;
  BatteryState state = GetBatteryState();
  SYSTEM_POWER_STATUS_EX2 status;
  status.ACLineStatus = state.onMains ? AC_LINE_ONLINE : AC_LINE_OFFLINE;
  status.BatteryLifePercent = static_cast<BYTE>(state.percent);
  if (state.percent <= kCriticalPercent)
    status.BatteryFlag = BATTERY_FLAG_CRITICAL;
  else if (state.percent <= kLowPercent)
    status.BatteryFlag = BATTERY_FLAG_LOW;
  else
    status.BatteryFlag = BATTERY_FLAG_HIGH;
  if (state.onMains && state.percent < 100)
    status.BatteryFlag |= BATTERY_FLAG_CHARGING;
  *out = status;
  return sizeof(SYSTEM_POWER_STATUS_EX2);
}

BatteryState GetBatteryState() {
  BatteryState state;
  DWORD main = 0;
  if (RegistryGetDWORD(HKEY_LOCAL_MACHINE, kBatteryStateKey, kBatteryMainValue, &main) == S_OK) {
    state.percent = static_cast<int>(main >> 16);
    state.onMains = (main & kBatteryOnMainsFlag) != 0;
  }
  return state;
}

bool SetBatteryState(int percent, bool onMains) {
  Device* dev = Device::Current();
  if (!dev || percent < 0 || percent > 100)
    return false;
  DWORD main = (static_cast<DWORD>(percent) << 16) | (onMains ? kBatteryOnMainsFlag : 0);
  dev->store().Transaction([&] {
    dev->SetStateInt(kBatteryPercentState, percent);
    dev->SetState(kAcPowerState, onMains ? "on" : "off");
  });
  return RegistrySetDWORD(HKEY_LOCAL_MACHINE, kBatteryStateKey, kBatteryMainValue, main) == S_OK;
}

}  // namespace platform
