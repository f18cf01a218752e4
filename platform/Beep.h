// The phone's system beeps. A beep is recorded as an activity of kind "beep" (detail
// {"type":"exclamation"}), so that tests and the device console can hear it. Works on the
// current device; callable from any thread.
#pragma once

#include "platform/Types.h"

namespace platform {

inline constexpr UINT MB_OK = 0x00000000;
inline constexpr UINT MB_ICONHAND = 0x00000010;
inline constexpr UINT MB_ICONQUESTION = 0x00000020;
inline constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
inline constexpr UINT MB_ICONASTERISK = 0x00000040;

// Plays the system sound of `type` (one of the MB_ values above). FALSE when no device is open.
BOOL MessageBeep(UINT type);

}  // namespace platform
