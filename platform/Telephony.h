// The phone's telephony line: line applications, the radio's equipment state, network
// registration and unconditional call forwarding.
//
// A program initialises a line application with a callback, opens line device 0 on it and makes
// requests on the line. A request returns at once with a positive request id, or with a negative
// LINEERR_ code when it is refused on the spot; the outcome arrives later as a LINE_REPLY message
// (param1 = the request id, param2 = 0 or a negative LINEERR_ code) through the application's
// callback.
//
// The simulated implementation (TelephonySim.cpp) runs every request of a process on one
// telephony thread, in request order, changes the phone's state in the device store (so every
// process sees it, see PhoneHardware.h) and then calls the callback of the application that made
// the request on that same thread. A real backend would answer from its modem the same way.
//
// Threads: every call may be made from any thread, including from inside a callback. lineShutdown
// does not return while a callback of that application runs on another thread, and no callback of
// the application is called after it returned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/Types.h"

namespace platform {

using HLINEAPP = std::uint32_t;
using HLINE = std::uint32_t;
using HCALL = std::uint32_t;

// Line messages delivered to a callback.
inline constexpr DWORD LINE_REPLY = 12;

// API version the program negotiates, and the only one the line accepts.
inline constexpr DWORD TAPI_VERSION_2_0 = 0x00020000;
inline constexpr DWORD LINECALLPRIVILEGE_NONE = 0x00000001;

// Equipment states of the radio: minimum (radio off) and full (radio on). The states in between
// are not offered by this line.
inline constexpr DWORD LINEEQUIPSTATE_MINIMUM = 1;
inline constexpr DWORD LINEEQUIPSTATE_FULL = 5;

inline constexpr DWORD LINEREGMODE_AUTOMATIC = 1;

inline constexpr DWORD LINEFORWARDMODE_UNCOND = 0x00000001;

// Result codes (negative when seen as LONG).
inline constexpr LONG LINEERR_BADDEVICEID = static_cast<LONG>(0x80000002);
inline constexpr LONG LINEERR_INCOMPATIBLEAPIVERSION = static_cast<LONG>(0x8000000C);
inline constexpr LONG LINEERR_INVALADDRESS = static_cast<LONG>(0x80000010);
inline constexpr LONG LINEERR_INVALAPPHANDLE = static_cast<LONG>(0x80000014);
inline constexpr LONG LINEERR_INVALLINEHANDLE = static_cast<LONG>(0x8000002B);
inline constexpr LONG LINEERR_INVALPARAM = static_cast<LONG>(0x80000032);
inline constexpr LONG LINEERR_INVALPOINTER = static_cast<LONG>(0x80000035);
inline constexpr LONG LINEERR_NOMEM = static_cast<LONG>(0x80000044);
inline constexpr LONG LINEERR_OPERATIONFAILED = static_cast<LONG>(0x80000048);
inline constexpr LONG LINEERR_OPERATIONUNAVAIL = static_cast<LONG>(0x80000049);
inline constexpr LONG LINEERR_RESOURCEUNAVAIL = static_cast<LONG>(0x8000004B);
inline constexpr LONG LINEERR_STRUCTURETOOSMALL = static_cast<LONG>(0x8000004D);
inline constexpr LONG LINEERR_UNINITIALIZED = static_cast<LONG>(0x80000050);

// The name of a LINEERR_ code ("LINEERR_INVALADDRESS"); "LINEERR_UNKNOWN" for other values.
const char* LineErrorName(LONG code);

// Called for every line message: (device, message, callback instance, param1, param2, param3).
// For LINE_REPLY param1 is the request id and param2 the result, a LONG stored in the word.
using LINECALLBACK =
    std::function<void(DWORD device, DWORD message, std::uintptr_t instance, std::uintptr_t param1,
                       std::uintptr_t param2, std::uintptr_t param3)>;

// One entry of a forwarding list. Offsets count bytes from the start of the list.
struct LINEFORWARD {
  DWORD dwForwardMode;
  DWORD dwCallerAddressSize;
  DWORD dwCallerAddressOffset;
  DWORD dwDestCountryCode;
  DWORD dwDestAddressSize;
  DWORD dwDestAddressOffset;
};

// A forwarding list: a header and its entries, followed in the same block of dwTotalSize bytes
// by the addresses (UTF-16LE, zero-terminated within their size).
struct LINEFORWARDLIST {
  DWORD dwTotalSize;
  DWORD dwNumEntries;
  LINEFORWARD ForwardList[1];
};

// Starts a line application; `numDevices` receives the number of lines (1). 0 or a LINEERR_ code.
LONG lineInitialize(HLINEAPP* app, std::uintptr_t instance, LINECALLBACK callback,
                    std::string_view appName, DWORD* numDevices);
// Ends the application: closes its lines and drops replies not yet delivered to it (requests
// already made still take effect on the phone).
LONG lineShutdown(HLINEAPP app);
// Opens line device 0. `apiVersion` must be TAPI_VERSION_2_0.
LONG lineOpen(HLINEAPP app, DWORD deviceId, HLINE* line, DWORD apiVersion, DWORD extVersion,
              std::uintptr_t callbackInstance, DWORD privileges, DWORD mediaModes,
              const void* callParams);
LONG lineClose(HLINE line);

// Asynchronous requests: a request id (> 0) answered by LINE_REPLY, or a negative LINEERR_ code.
//
// Sets the radio's equipment state. Switching to full power reads the band the radio runs in
// ("\SOFTWARE\OEM\UMTS" "OpMode") and asks the SIM for its PIN again; see PhoneHardware.h.
LONG lineSetEquipmentState(HLINE line, DWORD state);
// Registers on the network. Fails (in the reply) while the radio is off or the SIM is locked.
LONG lineRegister(HLINE line, DWORD registerMode, std::string_view operatorId,
                  DWORD operatorFormat);
// Sets unconditional forwarding of incoming calls to the list's first destination, or cancels
// forwarding when `list` is null. A list that is malformed, or whose destination is empty, is
// not zero-terminated within its size or is not a dialable number, is refused at once. Needs
// the radio on and registered (else the reply is LINEERR_OPERATIONFAILED).
LONG lineForward(HLINE line, DWORD allAddresses, DWORD addressId, const LINEFORWARDLIST* list,
                 DWORD numRingsNoAnswer, HCALL* consultCall, const void* callParams);

// Tests: while held, requests of this process are queued but neither carried out nor answered;
// releasing the hold carries them out in order.
void HoldTelephonyReplies(bool hold);
// Tests: requests of this process made and not yet carried out.
std::size_t PendingTelephonyRequests();

}  // namespace platform
