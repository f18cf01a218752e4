// The phone's backlight: the brightness levels on battery and on external power, and the
// backlight driver that applies them.
//
// The levels the user chose are the registry values "BrightNess" (battery) and "ACBrightNess"
// (external power) under HKEY_CURRENT_USER "\ControlPanel\Backlight". The driver reads them
// again only when the named event "BackLightChangeEvent" is signalled; the levels it applies
// are the hardware state values "backlight_battery" and "backlight_ac" (until the first
// application the registry values are in effect), and every application is recorded as an
// activity of kind "backlight" (detail {"battery":N,"ac":M}). Levels run from 0 to
// kMaxBrightness; the driver applies a larger stored level as kMaxBrightness.
//
// All calls work on the current device and may be made from any thread.
#pragma once

#include <string_view>

#include "platform/Types.h"

namespace platform {

inline constexpr const char* kBacklightKey = "ControlPanel\\Backlight";
inline constexpr const char* kBatteryBrightnessValue = "BrightNess";
inline constexpr const char* kAcBrightnessValue = "ACBrightNess";
inline constexpr const char* kBackLightChangeEvent = "BackLightChangeEvent";
inline constexpr DWORD kMaxBrightness = 10;

struct BacklightLevels {
  DWORD battery = 0;
  DWORD ac = 0;
};

// Signals the named event `name` once, as opening it, setting it and closing it would. A
// driver that waits on that event reacts before the call returns. TRUE when a device is open
// (an event that nobody waits on is signalled all the same).
BOOL SetNamedEvent(std::string_view name);

// The levels the driver applies now.
BacklightLevels GetBacklightLevels();

}  // namespace platform
