// Which phone a device folder runs on: the simulated phone of this platform (the default), or
// the real services of the Linux machine it runs on, reached over the system D-Bus
// (platform/linux/). The choice is the device's hardware state value "backend" ("simulated" or
// "linux"), written by the console's `install --backend` and shown by its `state`.
//
// On the Linux backend the phone services keep publishing their state where the simulated ones
// do (the store's hardware state values, the registry's state values and the hardware events),
// so every process and every reader above the platform sees the same phone either way; only
// where the state comes from and where a switch goes differ.
//
// Threads: every call may be made from any thread; it reads the current device.
#pragma once

#include <optional>
#include <string>

namespace platform::backend {

enum class Kind { kSimulated, kLinux };

inline constexpr const char* kBackendState = "backend";

// The current device's backend; simulated when no device is open, nothing was chosen, or the
// Linux backend is not built into this program.
Kind Current();
inline bool IsLinux() {
  return Current() == Kind::kLinux;
}
// True when this program was built with the Linux backend.
bool LinuxBuiltIn();

const char* Name(Kind kind);
std::optional<Kind> Parse(const std::string& name);
// Chooses the current device's backend. False when no device is open or the backend is not
// built in.
bool Select(Kind kind);

}  // namespace platform::backend
