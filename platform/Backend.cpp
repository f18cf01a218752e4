#include "platform/Backend.h"

#include "platform/Device.h"
#include "platform/Store.h"

namespace platform::backend {

bool LinuxBuiltIn() {
#ifdef TELVANE_LINUX_BACKEND
  return true;
#else
  return false;
#endif
}

Kind Current() {
  if (!LinuxBuiltIn())
    return Kind::kSimulated;
  Device* dev = Device::Current();
  if (!dev)
    return Kind::kSimulated;
  try {
    auto value = dev->GetState(kBackendState);
    return value && *value == Name(Kind::kLinux) ? Kind::kLinux : Kind::kSimulated;
  } catch (const StoreError&) {
    return Kind::kSimulated;
  }
}

const char* Name(Kind kind) {
  return kind == Kind::kLinux ? "linux" : "simulated";
}

std::optional<Kind> Parse(const std::string& name) {
  for (Kind kind : {Kind::kSimulated, Kind::kLinux}) {
    if (name == Name(kind))
      return kind;
  }
  return std::nullopt;
}

bool Select(Kind kind) {
  Device* dev = Device::Current();
  if (!dev || (kind == Kind::kLinux && !LinuxBuiltIn()))
    return false;
  dev->SetState(kBackendState, Name(kind));
  return true;
}

}  // namespace platform::backend
