#include "platform/Beep.h"

#include <string>

#include "platform/Device.h"

namespace platform {

BOOL MessageBeep(UINT type) {
  Device* dev = Device::Current();
  if (!dev)
    return 0;
  const char* name = "default";
  switch (type) {
    case MB_ICONHAND:
      name = "hand";
      break;
    case MB_ICONQUESTION:
      name = "question";
      break;
    case MB_ICONEXCLAMATION:
      name = "exclamation";
      break;
    case MB_ICONASTERISK:
      name = "asterisk";
      break;
    default:
      break;
  }
  dev->AddActivity("beep", std::string("{\"type\":\"") + name + "\"}");
  return 1;
}

}  // namespace platform
