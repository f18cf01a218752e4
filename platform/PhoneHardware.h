// The simulated phone's radio, SIM, calls and call forwarding, kept in the device store so that
// every process of the device sees one phone. The telephony line (Telephony.h), the SIM manager
// (SimManager.h) and the device console change it only through these functions.
//
// What the phone publishes:
// - registry HKLM "System\State\Phone" "Status": bit 0x10 set while the radio is off (the radio's
//   equipment state is minimum); "Active Call Count": calls in progress;
// - hardware state values, shown by the console's `state`:
//     "radio"          "on" / "off"
//     "radio_mode"     band the radio runs in: "auto", "2g", "3g"
//     "network"        "registered" / "none"
//     "network_mode"   band of the last network registration
//     "sim"            "ready", "pin" (asks for its PIN), "puk" (blocked)
//     "sim_pin"        the SIM's PIN; empty when the SIM has none
//     "sim_attempts"   wrong PINs the SIM still accepts before it blocks
//     "call_forward"   number that incoming calls are forwarded to, or "off"
//     "active_calls"   calls in progress
//     "fail_telephony" telephony requests still to fail, "fail_telephony_mode" "now" / "reply"
// - hardware events to every process: "radio" ("on"/"off"), "sim" (the new SIM state, or
//   "user-unlock" when the user entered the PIN in the platform's prompt), "call" (the count).
//
// How the radio behaves: it reads the band value HKLM "\SOFTWARE\OEM\UMTS" "OpMode" (0 automatic,
// 1 2G, 2 3G; anything else automatic) only when it powers up. A SIM with a PIN asks for it again
// at every power-up. A radio that powers up under the band it was last registered in, with a
// ready SIM, finds its network by itself; under a new band it stays unregistered until it is
// told to register.
//
// Threads: every function may be called from any thread of any process of the device; the
// changes of one call are one transaction of the store.
#pragma once

#include <string>

#include "platform/Types.h"

namespace platform::phone {

inline constexpr const char* kStatusKey = "System\\State\\Phone";
inline constexpr const char* kStatusValue = "Status";
inline constexpr const char* kActiveCallCountValue = "Active Call Count";
inline constexpr DWORD kStatusRadioOff = 0x10;
inline constexpr const char* kBandKey = "\\SOFTWARE\\OEM\\UMTS";
inline constexpr const char* kBandValue = "OpMode";

inline constexpr const char* kRadioState = "radio";
inline constexpr const char* kRadioModeState = "radio_mode";
inline constexpr const char* kNetworkState = "network";
inline constexpr const char* kNetworkModeState = "network_mode";
inline constexpr const char* kSimState = "sim";
inline constexpr const char* kSimPinState = "sim_pin";
inline constexpr const char* kSimAttemptsState = "sim_attempts";
inline constexpr const char* kCallForwardState = "call_forward";
inline constexpr const char* kActiveCallsState = "active_calls";
inline constexpr const char* kFailTelephonyState = "fail_telephony";
inline constexpr const char* kFailTelephonyModeState = "fail_telephony_mode";

inline constexpr const char* kRadioEvent = "radio";
inline constexpr const char* kSimEvent = "sim";
inline constexpr const char* kCallEvent = "call";
// Payload of kSimEvent when the user entered the PIN in the platform's prompt.
inline constexpr const char* kSimUserUnlock = "user-unlock";

inline constexpr int kSimAttempts = 3;

// Writes the state values above that are still missing, from the registry where it has them.
void EnsureState();

// The radio is on when "Status" lacks bit 0x10 (also when the value cannot be read).
bool RadioIsOn();
// Powers the radio up (equipment state full) or down (minimum), as described above. Nothing
// changes when it already is in that state. False when the radio refused (only a real modem
// does; the simulated radio always obeys).
bool SetRadioPower(bool on);
// Registers on the network under the band the radio runs in. False (nothing changes) while the
// radio is off or the SIM is not ready.
bool RegisterNetwork();

// "ready", "pin" or "puk".
std::string SimState();
// True when `pin` can be a PIN (4 to 8 digits).
bool IsPinFormat(const std::string& pin);
// Gives the SIM the PIN `pin` and makes it ask for it now (a fresh SIM put in). False when `pin`
// is not a PIN.
bool LockSim(const std::string& pin);
// The user enters the right PIN in the platform's prompt (also unblocks a blocked SIM).
void UserUnlockSim();
// Unlocks through the SIM manager: S_OK, SIM_E_INCORRECTPASSWORD or SIM_E_SIMBLOCKED.
HRESULT UnlockSimWithPin(const std::string& pin);

int ActiveCalls();
// A call starts (needs the radio on and registered) or ends (needs one in progress). False with
// the reason in `error` otherwise.
bool StartCall(std::string* error);
bool EndCall(std::string* error);

// The forwarding number, or "off".
std::string CallForward();
// Forwards calls to `number`, or cancels forwarding for an empty one. 0, or
// LINEERR_OPERATIONFAILED while the radio is off or not registered.
LONG SetCallForward(const std::string& number);

// Makes the next `count` telephony requests fail: at once (negative result) or, with `inReply`,
// in their LINE_REPLY.
enum class Failure { kNone, kNow, kReply };
void SetTelephonyFailures(int count, bool inReply);
int PendingTelephonyFailures();
bool TelephonyFailuresInReply();
// Takes one pending failure, if any, for the request being made.
Failure TakeTelephonyFailure();

namespace detail {
// The SIM's state changed (payload as in kSimEvent); implemented by the SIM manager, which shows
// or closes the platform's prompt in this process at once rather than when the event arrives.
void OnSimChanged(const std::string& payload);
}  // namespace detail

}  // namespace platform::phone
