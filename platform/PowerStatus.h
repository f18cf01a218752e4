// The phone's battery and external power, as the power service reports them.
//
// The phone publishes both in HKLM "System\State\Battery" "Main": the high word is the charge
// in percent, the low word holds flags (bit 0 set while the phone runs on external power).
// Programs watch that value to learn of changes and read the details with
// GetSystemPowerStatusEx2. The simulated phone also shows the two in its hardware state values
// "battery_percent" and "ac_power" ("on" / "off").
//
// Threads: every call may be made from any thread; it works on the current device.
#pragma once

#include "platform/Types.h"

namespace platform {

inline constexpr const char* kBatteryStateKey = "System\\State\\Battery";
inline constexpr const char* kBatteryMainValue = "Main";
inline constexpr DWORD kBatteryOnMainsFlag = 0x0001;
inline constexpr const char* kBatteryPercentState = "battery_percent";
inline constexpr const char* kAcPowerState = "ac_power";

inline constexpr BYTE AC_LINE_OFFLINE = 0x00;
inline constexpr BYTE AC_LINE_ONLINE = 0x01;
inline constexpr BYTE AC_LINE_UNKNOWN = 0xFF;
inline constexpr BYTE BATTERY_FLAG_HIGH = 0x01;
inline constexpr BYTE BATTERY_FLAG_LOW = 0x02;
inline constexpr BYTE BATTERY_FLAG_CRITICAL = 0x04;
inline constexpr BYTE BATTERY_FLAG_CHARGING = 0x08;
inline constexpr BYTE BATTERY_FLAG_UNKNOWN = 0xFF;
inline constexpr BYTE BATTERY_PERCENTAGE_UNKNOWN = 0xFF;
inline constexpr DWORD BATTERY_LIFE_UNKNOWN = 0xFFFFFFFF;

struct SYSTEM_POWER_STATUS_EX2 {
  BYTE ACLineStatus = AC_LINE_UNKNOWN;
  BYTE BatteryFlag = BATTERY_FLAG_UNKNOWN;
  BYTE BatteryLifePercent = BATTERY_PERCENTAGE_UNKNOWN;
  BYTE Reserved1 = 0;
  DWORD BatteryLifeTime = BATTERY_LIFE_UNKNOWN;
  DWORD BatteryFullLifeTime = BATTERY_LIFE_UNKNOWN;
  BYTE Reserved2 = 0;
  BYTE BackupBatteryFlag = BATTERY_FLAG_UNKNOWN;
  BYTE BackupBatteryLifePercent = BATTERY_PERCENTAGE_UNKNOWN;
  BYTE Reserved3 = 0;
  DWORD BackupBatteryLifeTime = BATTERY_LIFE_UNKNOWN;
  DWORD BackupBatteryFullLifeTime = BATTERY_LIFE_UNKNOWN;
  DWORD BatteryVoltage = 0;
  DWORD BatteryCurrent = 0;
  DWORD BatteryAverageCurrent = 0;
  DWORD BatteryAverageInterval = 0;
  DWORD BatterymAHourConsumed = 0;
  DWORD BatteryTemperature = 0;
  DWORD BackupBatteryVoltage = 0;
  BYTE BatteryChemistry = 0;
};

// Fills `out` with the phone's power status; `update` (read the driver afresh) is accepted for
// the shape of the call, the simulated phone always reads afresh. Returns the number of bytes
// filled, 0 when `out` is null, `length` is too small or no device is open.
DWORD GetSystemPowerStatusEx2(SYSTEM_POWER_STATUS_EX2* out, DWORD length, BOOL update);

struct BatteryState {
  int percent = 0;
  bool onMains = false;
};
// The battery as the phone publishes it.
BatteryState GetBatteryState();
// The battery reaches `percent` (0..100) and the phone is on external power or not. Writes the
// published value (which notifies its watchers in every process) and the hardware state values.
// False for a percentage outside 0..100 or when no device is open.
bool SetBatteryState(int percent, bool onMains);

}  // namespace platform
