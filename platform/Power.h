// The phone's system power states: on, off (screen and radio off), critical, boot, idle,
// suspend and reset.
//
// The state the phone is in is the hardware state value "power_state" ("on" when absent). A
// reset is simulated as the phone starting again: "power_state" goes back to "on" and
// "reset_count" grows by one; the simulated phone ends no process. Every accepted request is
// recorded as an activity of kind "power" (detail {"state":"suspend","force":true}) and
// broadcast as the hardware event "power" with the state word as payload. All calls work on
// the current device and may be made from any thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/Types.h"

namespace platform {

// System power states (one flag per request).
inline constexpr DWORD POWER_STATE_ON = 0x00010000;
inline constexpr DWORD POWER_STATE_OFF = 0x00020000;
inline constexpr DWORD POWER_STATE_CRITICAL = 0x00040000;
inline constexpr DWORD POWER_STATE_BOOT = 0x00080000;
inline constexpr DWORD POWER_STATE_IDLE = 0x00100000;
inline constexpr DWORD POWER_STATE_SUSPEND = 0x00200000;
inline constexpr DWORD POWER_STATE_RESET = 0x00800000;
// Option: change the state without asking the running programs.
inline constexpr DWORD POWER_FORCE = 0x00001000;

inline constexpr const char* kPowerStateValue = "power_state";
inline constexpr const char* kResetCountValue = "reset_count";
inline constexpr const char* kPowerEvent = "power";

// Puts the phone into a power state, named either by `stateName` (a word of PowerStateWord;
// empty to use the flags) or by exactly one POWER_STATE flag in `stateFlags`. Returns
// ERROR_SUCCESS, ERROR_INVALID_PARAMETER for an unknown name or no single known flag, or
// ERROR_GEN_FAILURE when no device is open or the store cannot be written.
DWORD SetSystemPowerState(std::string_view stateName, DWORD stateFlags, DWORD options);

// The power state the phone is in, as a word.
std::string GetSystemPowerStateWord();

// "on", "off", "critical", "boot", "idle", "suspend", "reset" for the flags above; empty for
// anything else.
const char* PowerStateWord(DWORD stateFlag);
// The flag of a word; 0 when the word names no state.
DWORD PowerStateFromWord(std::string_view word);

}  // namespace platform
