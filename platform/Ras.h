// The phone's dial-up service: the phone book of dial-up (GPRS, modem) entries and the
// connections made from them, with their state and link statistics.
//
// Entries and connections live in the device store, so every process of a device sees the same
// ones. A connection's byte counters grow only when the device console adds traffic, which keeps
// tests deterministic. Whoever ends a connection (the program hanging up, the network dropping
// it) tells the connection manager's listeners (see ConnMgr.h).
//
// Every call works on the current device and may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Types.h"

namespace platform {

// A connection handle: unique within a device and never reused. 0 = none.
using HRASCONN = std::uint64_t;

// Connection states (the values the dial-up service reports).
inline constexpr DWORD RASCS_OpenPort = 0;
inline constexpr DWORD RASCS_ConnectDevice = 2;
inline constexpr DWORD RASCS_Connected = 0x2000;
inline constexpr DWORD RASCS_Disconnected = 0x2001;

// Result codes of the dial-up service.
inline constexpr DWORD ERROR_BUFFER_TOO_SMALL = 603;
inline constexpr DWORD ERROR_CANNOT_FIND_PHONEBOOK_ENTRY = 623;
inline constexpr DWORD ERROR_NO_CONNECTION = 668;

// Sizes of the records as the program's callers lay them out.
inline constexpr DWORD kRasConnRecordSize = 52;
inline constexpr DWORD kRasStatsRecordSize = 60;

struct RASCONN {
  HRASCONN hrasconn = 0;
  std::string szEntryName;
};

struct RASCONNSTATUS {
  DWORD rasconnstate = RASCS_Disconnected;
  DWORD dwError = 0;
  std::string szDeviceType;
  std::string szDeviceName;
};

struct RASENTRY {
  std::string szDeviceType;  // "GPRS", "modem"
  std::string szDeviceName;
  std::string szLocalPhoneNumber;
};

// Link statistics of a connection. The byte counters are 32-bit and wrap like the phone's.
struct RAS_STATS {
  DWORD dwSize = kRasStatsRecordSize;
  DWORD dwBytesXmited = 0;
  DWORD dwBytesRcved = 0;
  DWORD dwFramesXmited = 0;
  DWORD dwFramesRcved = 0;
  DWORD dwConnectDuration = 0;  // milliseconds of device time since the link came up
};

// At most `max` entry names in phone-book order; `total` receives how many exist. Returns
// ERROR_BUFFER_TOO_SMALL (with the first `max` names) when there are more.
DWORD RasEnumEntries(std::vector<std::string>* names, std::size_t max, DWORD* total = nullptr);
// ERROR_CANNOT_FIND_PHONEBOOK_ENTRY for a name the phone book does not hold.
DWORD RasGetEntryProperties(std::string_view entryName, RASENTRY* out);
// The connections that exist (connected or still connecting), at most `max` of them, oldest
// first; ERROR_BUFFER_TOO_SMALL when there are more.
DWORD RasEnumConnections(std::vector<RASCONN>* out, std::size_t max, DWORD* total = nullptr);
// ERROR_INVALID_HANDLE for a handle that names no connection (any more).
DWORD RasGetConnectStatus(HRASCONN conn, RASCONNSTATUS* out);
// `subEntry` 1 is the connection's only link. `out->dwSize` must be kRasStatsRecordSize.
DWORD RasGetLinkStatistics(HRASCONN conn, DWORD subEntry, RAS_STATS* out);
// Ends the connection and tells the connection manager's listeners. ERROR_INVALID_HANDLE for a
// handle that names no connection.
DWORD RasHangUp(HRASCONN conn);

// ---- The phone's own side: the device console and the simulated network ------------------

// One phone-book entry as the device console shows it.
struct DialUpEntry {
  std::string name;
  std::string keyPath;  // its connection-manager provider key; empty when it has none
  bool enabled = false;
  std::string guid;  // its "ConnectionGUID"
  HRASCONN handle = 0;
  DWORD state = RASCS_Disconnected;
  std::uint64_t bytesSent = 0;
  std::uint64_t bytesReceived = 0;
};

// The connection manager's providers, and the key below them that holds a new entry's key (the
// dial-up provider is named by a GUID, so that no entry name can be mistaken for it).
inline constexpr const char* kProvidersKey = "Comm\\ConnMgr\\Providers";
inline constexpr const char* kDialUpProviderKey =
    "Comm\\ConnMgr\\Providers\\{7B9C3D2E-51A4-4F8B-9E06-2C4D8A1F3B57}\\Connections";

// Every entry, in phone-book order.
std::vector<DialUpEntry> ListDialUpEntries();
// Adds a GPRS entry to the phone book with its provider key ("enabled", "AlwaysOn" 0 and
// "ConnectionGUID"). An empty `guid` gets one derived from the name. False, with a reason in
// `error`, when the name is taken or empty or the GUID is not one.
bool AddDialUpEntry(const std::string& name, const std::string& guid, bool enabled,
                    std::string* error);
// The phone-side changes below tell the connection manager's listeners and raise the hardware
// event "connections" (payload: the status) in every process of the device.
//
// The entry's link comes up at once, as when the user dials it from the phone itself.
bool ConnectDialUpEntry(const std::string& name, std::string* error);
// Adds received bytes to the entry's connection.
bool AddConnectionTraffic(const std::string& name, std::uint64_t bytes, std::string* error);
// The network drops the entry's connection.
bool DropConnection(const std::string& name, std::string* error);

// Depth-first search below "\Comm\ConnMgr\Providers" for a key named `entryName`; the full key
// path (without root) or empty.
std::string FindProviderKey(std::string_view entryName);

// Used by the connection manager (ConnMgr.cpp).
namespace dialup {
// Starts a link for the entry in the connecting state (`created` set); an existing connection
// of the entry is returned as it is. 0 when the store cannot be written.
HRASCONN BeginConnection(const std::string& entryName, bool* created);
// Brings a connecting link up or, when `linkUp` is false, abandons it. Returns the status to
// report (CONNMGR_STATUS_...), 0 when nothing changed.
DWORD CompleteConnection(HRASCONN handle, bool linkUp);
// The entry a connection belongs to; empty when the handle names none.
std::string EntryOfConnection(HRASCONN handle);
// The link of an entry as the machine's network service reports it (the Linux backend): none
// (nullopt), connecting or connected, with the byte counters. A link that came up or went away
// tells the listeners, as a change made on the phone does; a link this program is still
// setting up (connecting, with no report yet) is left alone.
void MirrorLink(const std::string& entryName, std::optional<DWORD> state, std::uint64_t sent,
                std::uint64_t received);
}  // namespace dialup

// True when the phone radio is on (the phone's "Status" state value without its radio-off bit).
bool PhoneRadioOn();

}  // namespace platform
