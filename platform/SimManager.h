// The SIM manager: whether the SIM asks for its PIN, and unlocking it with a PIN.
//
// The SIM keeps its state in the device store (see PhoneHardware.h), so every process sees it.
// A SIM with a PIN asks for it whenever the radio powers up; while it does, the platform shows
// its PIN prompt, a top-level window of class "SIMSecurityUI", hosted by a process that holds a
// SIM-manager handle. The prompt closes when the user enters the PIN in it (the device console's
// `sim unlock`) or when it receives WM_CLOSE; unlocking through SimUnlockPhone leaves it open.
//
// PIN rules of the simulated SIM: a PIN has 4 to 8 digits; anything else is refused with
// SIM_E_INCORRECTPASSWORD before it reaches the SIM and costs no attempt. The SIM allows three
// wrong PINs; the third blocks it (locked state SIM_LOCKEDSTATE_SIM_PUK), after which every
// unlock fails with SIM_E_SIMBLOCKED until the user unblocks it.
//
// Threads: every call may be made from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/Types.h"

namespace platform {

using HSIM = std::uint32_t;

inline constexpr DWORD SIM_LOCKEDSTATE_UNKNOWN = 0;
inline constexpr DWORD SIM_LOCKEDSTATE_READY = 1;
inline constexpr DWORD SIM_LOCKEDSTATE_SIM_PIN = 2;
inline constexpr DWORD SIM_LOCKEDSTATE_SIM_PUK = 3;

// The PIN was wrong (or not a PIN at all).
inline constexpr HRESULT SIM_E_INCORRECTPASSWORD = static_cast<HRESULT>(0x88000125);
// The SIM is blocked after too many wrong PINs.
inline constexpr HRESULT SIM_E_SIMBLOCKED = static_cast<HRESULT>(0x88000126);

// Class name of the platform's PIN prompt.
inline constexpr const char* kSimPromptClass = "SIMSecurityUI";

// Notifications of the SIM manager; the simulated SIM sends none.
using SIMCALLBACK = std::function<void(DWORD notifyCode, const void* data, DWORD size)>;

HRESULT SimInitialize(DWORD flags, SIMCALLBACK callback, DWORD params, HSIM* sim);
HRESULT SimDeinitialize(HSIM sim);
// SIM_LOCKEDSTATE_READY, SIM_LOCKEDSTATE_SIM_PIN or SIM_LOCKEDSTATE_SIM_PUK.
HRESULT SimGetPhoneLockedState(HSIM sim, DWORD* lockedState);
// Unlocks a SIM that asks for its PIN. S_OK (also when the SIM was not locked),
// SIM_E_INCORRECTPASSWORD or SIM_E_SIMBLOCKED. Changing the PIN (`newPassword`) is not offered.
HRESULT SimUnlockPhone(HSIM sim, std::string_view password, std::string_view newPassword);

}  // namespace platform
