// The phone's notification LEDs.
//
// Setting a LED records its state in the device's hardware state ("led0", "led1", ... holding
// "off", "on" or "blink") and appends an activity record of kind "led" (detail
// {"led":N,"state":"on"}), so that tests and the device console can see what the program did.
// Works on the current device; callable from any thread.
#pragma once

#include <string>

#include "platform/Types.h"

namespace platform {

// Request kinds of NLedGetDeviceInfo / NLedSetDevice.
inline constexpr UINT NLED_COUNT_INFO_ID = 0;
inline constexpr UINT NLED_SETTINGS_INFO_ID = 2;

// States of NLED_SETTINGS_INFO::OffOnBlink.
inline constexpr int NLED_OFF = 0;
inline constexpr int NLED_ON = 1;
inline constexpr int NLED_BLINK = 2;

// The simulated phone has two LEDs, numbered 0 and 1.
inline constexpr UINT kLedCount = 2;

struct NLED_COUNT_INFO {
  UINT cLeds = 0;
};

struct NLED_SETTINGS_INFO {
  UINT LedNum = 0;
  int OffOnBlink = NLED_OFF;
  // Blink timing in microseconds; kept for the shape of the call, not simulated.
  LONG TotalCycleTime = 0;
  LONG OnTime = 0;
  LONG OffTime = 0;
  int MetaCycleOn = 0;
  int MetaCycleOff = 0;
};

// NLED_COUNT_INFO_ID: fills the number of LEDs. FALSE for another id or a null pointer.
BOOL NLedGetDeviceInfo(UINT infoId, NLED_COUNT_INFO* out);
// NLED_SETTINGS_INFO_ID: sets one LED. FALSE (and nothing recorded) for another id, a LED that
// does not exist, an unknown state or when no device is open.
BOOL NLedSetDevice(UINT infoId, const NLED_SETTINGS_INFO* settings);
// The recorded state of a LED: "off", "on" or "blink"; "off" when never set.
std::string NLedGetState(UINT ledNum);

}  // namespace platform
