#include "platform/Led.h"

#include "platform/Device.h"
#include "platform/Store.h"

namespace platform {

namespace {

const char* StateName(int offOnBlink) {
  switch (offOnBlink) {
    case NLED_OFF:
      return "off";
    case NLED_ON:
      return "on";
    case NLED_BLINK:
      return "blink";
    default:
      return nullptr;
  }
}

std::string StateKey(UINT ledNum) {
  return "led" + std::to_string(ledNum);
}

}  // namespace

BOOL NLedGetDeviceInfo(UINT infoId, NLED_COUNT_INFO* out) {
  if (infoId != NLED_COUNT_INFO_ID || !out)
    return 0;
  out->cLeds = kLedCount;
  return 1;
}

BOOL NLedSetDevice(UINT infoId, const NLED_SETTINGS_INFO* settings) {
  if (infoId != NLED_SETTINGS_INFO_ID || !settings || settings->LedNum >= kLedCount)
    return 0;
  const char* state = StateName(settings->OffOnBlink);
  Device* dev = Device::Current();
  if (!state || !dev)
    return 0;
  try {
    dev->SetState(StateKey(settings->LedNum), state);
    dev->AddActivity(
        "led", "{\"led\":" + std::to_string(settings->LedNum) + ",\"state\":\"" + state + "\"}");
  } catch (const StoreError&) {
    return 0;
  }
  return 1;
}

std::string NLedGetState(UINT ledNum) {
  Device* dev = Device::Current();
  if (!dev)
    return "off";
  return dev->GetState(StateKey(ledNum)).value_or("off");
}

}  // namespace platform
