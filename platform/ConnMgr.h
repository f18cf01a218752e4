// The phone's connection manager: connects a destination network through one of the dial-up
// entries configured for it, and tells registered windows whenever a connection's state changes.
//
// Destination networks are named by GUID: each entry's provider key below
// "\Comm\ConnMgr\Providers" holds the "ConnectionGUID" of the network it reaches. A request
// returns at once; the link comes up asynchronously (on this process's endpoint thread), after
// which every registered window receives the registered message
// "CONNMGR_STATUS_CHANGE_NOTIFICATION_MSG". Registrations live in the device store, so a change
// made in any process (the device console dropping a connection) reaches the program's window.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Types.h"

namespace platform {

struct GUID {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::array<std::uint8_t, 8> Data4{};

  friend bool operator==(const GUID&, const GUID&) = default;
};

inline constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3);

// Reads "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" (any case); CO_E_CLASSSTRING otherwise.
HRESULT CLSIDFromString(std::string_view text, GUID* out);
// The braced upper-case form.
std::string GuidToString(const GUID& guid);

using HCONNECTION = std::uint64_t;

inline constexpr DWORD CONNMGR_PARAM_GUIDDESTNET = 0x1;
inline constexpr DWORD CONNMGR_PRIORITY_USERINTERACTIVE = 0x8000;
inline constexpr DWORD kConnMgrConnectionInfoSize = 64;

// Connection states carried in the status message's wParam.
inline constexpr DWORD CONNMGR_STATUS_CONNECTED = 0x10;
inline constexpr DWORD CONNMGR_STATUS_DISCONNECTED = 0x20;
inline constexpr DWORD CONNMGR_STATUS_CONNECTIONFAILED = 0x21;

// Result codes.
inline constexpr HRESULT CONNMGR_E_NO_DESTINATION = static_cast<HRESULT>(0x80041001);
inline constexpr HRESULT CONNMGR_E_DISABLED = static_cast<HRESULT>(0x80041002);

// The name of the status-change message (RegisterWindowMessage gives its number).
inline constexpr const char* kConnMgrStatusMessage = "CONNMGR_STATUS_CHANGE_NOTIFICATION_MSG";

struct CONNMGR_CONNECTIONINFO {
  DWORD cbSize = kConnMgrConnectionInfoSize;
  DWORD dwParams = 0;
  DWORD dwFlags = 0;
  DWORD dwPriority = 0;
  BOOL bExclusive = 0;
  BOOL bDisabled = 0;
  GUID guidDestNet{};
};

// Connects the destination network `info.guidDestNet` through the first enabled entry that
// reaches it (an entry already connected or connecting is reused). S_OK with a handle once the
// request is under way; CONNMGR_E_NO_DESTINATION when no entry reaches that network,
// CONNMGR_E_DISABLED when none of those entries is enabled, E_INVALIDARG for a malformed
// record. The link comes up asynchronously, and not at all while the phone radio is off.
HRESULT ConnMgrEstablishConnection(const CONNMGR_CONNECTIONINFO& info, HCONNECTION* out);

// Adds (enable) or removes `hwnd` from the windows told of every connection state change.
HRESULT ConnMgrRegisterForStatusChangeNotification(BOOL enable, HWND hwnd);

// Posts the status message with `status` to every registered window, dropping windows that
// are gone. Called by the dial-up service.
void ConnMgrNotifyStatusChange(DWORD status);

}  // namespace platform
