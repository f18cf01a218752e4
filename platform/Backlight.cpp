#include "platform/Backlight.h"

#include <algorithm>
#include <string>

#include "platform/Backend.h"
#include "platform/Device.h"
#include "platform/Registry.h"
#include "platform/Store.h"
#ifdef TELVANE_LINUX_BACKEND
#include "platform/linux/LinuxPhone.h"
#endif

namespace platform {

namespace {

constexpr const char* kBatteryState = "backlight_battery";
constexpr const char* kAcState = "backlight_ac";

// The levels stored in the registry, each defaulting to `fallback` when absent.
BacklightLevels RegistryLevels(const BacklightLevels& fallback) {
  BacklightLevels levels = fallback;
  DWORD value = 0;
  if (RegistryGetDWORD(HKEY_CURRENT_USER, kBacklightKey, kBatteryBrightnessValue, &value) == S_OK)
    levels.battery = value;
  if (RegistryGetDWORD(HKEY_CURRENT_USER, kBacklightKey, kAcBrightnessValue, &value) == S_OK)
    levels.ac = value;
  return levels;
}

// What the driver does when its event is signalled: apply the registry's levels.
void ApplyBacklight(Device& dev) {
  BacklightLevels levels = RegistryLevels(GetBacklightLevels());
  levels.battery = std::min(levels.battery, kMaxBrightness);
  levels.ac = std::min(levels.ac, kMaxBrightness);
  try {
    dev.store().Transaction([&] {
      dev.SetStateInt(kBatteryState, levels.battery);
      dev.SetStateInt(kAcState, levels.ac);
      dev.AddActivity("backlight", "{\"battery\":" + std::to_string(levels.battery) +
                                       ",\"ac\":" + std::to_string(levels.ac) + "}");
    });
  } catch (const StoreError&) {
    // A driver that cannot record its levels keeps the old ones.
    return;
  }
#ifdef TELVANE_LINUX_BACKEND
  if (backend::IsLinux())
    linuxphone::ApplyBacklight(levels.battery, levels.ac);
#endif
}

}  // namespace

BOOL SetNamedEvent(std::string_view name) {
  Device* dev = Device::Current();
  if (!dev)
    return 0;
  if (name == kBackLightChangeEvent)
    ApplyBacklight(*dev);
  return 1;
}

BacklightLevels GetBacklightLevels() {
  Device* dev = Device::Current();
  if (!dev)
    return {};
  try {
    auto battery = dev->GetState(kBatteryState);
    auto ac = dev->GetState(kAcState);
    if (battery && ac) {
      return {static_cast<DWORD>(dev->GetStateInt(kBatteryState)),
              static_cast<DWORD>(dev->GetStateInt(kAcState))};
    }
  } catch (const StoreError&) {
    return {};
  }
  BacklightLevels levels = RegistryLevels({});
  levels.battery = std::min(levels.battery, kMaxBrightness);
  levels.ac = std::min(levels.ac, kMaxBrightness);
  return levels;
}

}  // namespace platform
