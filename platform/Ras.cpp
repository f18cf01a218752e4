#include "platform/Ras.h"

#include <functional>
#include <memory>

#include "platform/Backend.h"
#include "platform/ConnMgr.h"
#include "platform/Device.h"
#include "platform/HardwareEvents.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/Time.h"
#ifdef TELVANE_LINUX_BACKEND
#include "platform/linux/LinuxPhone.h"
#endif

namespace platform {

namespace {

// Phone-book entries and their connections. A connection row exists from the moment a link is
// requested until it ends; handles come from AUTOINCREMENT so an ended handle is never reused.
const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS ras_entries(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE COLLATE NOCASE,
  device_type TEXT NOT NULL,
  device_name TEXT NOT NULL,
  phone TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS ras_connections(
  handle INTEGER PRIMARY KEY AUTOINCREMENT,
  entry TEXT NOT NULL UNIQUE COLLATE NOCASE,
  state INTEGER NOT NULL,
  sent INTEGER NOT NULL DEFAULT 0,
  received INTEGER NOT NULL DEFAULT 0,
  up_ms INTEGER NOT NULL DEFAULT 0);
)SQL";

constexpr DWORD kRadioOffBit = 0x10;

Store* OpenStore() {
  Device* dev = Device::Current();
  if (!dev)
    return nullptr;
  dev->store().Exec(kSchema);
  return &dev->store();
}

// Runs `body` on the current device's store; false (with ERROR_GEN_FAILURE semantics) when no
// device is open or the store fails.
bool WithStore(const std::function<void(Store&)>& body) {
  Store* store = OpenStore();
  if (!store)
    return false;
  try {
    body(*store);
  } catch (const StoreError&) {
    return false;
  }
  return true;
}

// Publishes the number of connected links, as the phone's state values and a hardware value.
void PublishConnectedCount(Store& store) {
  std::int64_t count = 0;
  {
    auto st = store.Prepare("SELECT COUNT(*) FROM ras_connections WHERE state=?");
    st.Bind(1, static_cast<std::int64_t>(RASCS_Connected));
    if (st.Step())
      count = st.Int(0);
  }
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Connections", "Count",
                   static_cast<DWORD>(count));
  if (Device* dev = Device::Current())
    dev->SetStateInt("connections_connected", count);
}

struct ConnectionRow {
  HRASCONN handle = 0;
  std::string entry;
  DWORD state = RASCS_Disconnected;
  std::int64_t sent = 0;
  std::int64_t received = 0;
  std::int64_t upMs = 0;
};

bool ReadConnection(Store& store, const char* where, const std::string& key, HRASCONN handle,
                    ConnectionRow* out) {
  auto st = store.Prepare(std::string("SELECT handle, entry, state, sent, received, up_ms FROM "
                                      "ras_connections WHERE ") +
                          where);
  if (handle)
    st.Bind(1, static_cast<std::int64_t>(handle));
  else
    st.Bind(1, key);
  if (!st.Step())
    return false;
  out->handle = static_cast<HRASCONN>(st.Int(0));
  out->entry = st.Text(1);
  out->state = static_cast<DWORD>(st.Int(2));
  out->sent = st.Int(3);
  out->received = st.Int(4);
  out->upMs = st.Int(5);
  return true;
}

bool ConnectionByHandle(Store& store, HRASCONN handle, ConnectionRow* out) {
  return handle != 0 && ReadConnection(store, "handle=?", "", handle, out);
}

bool ConnectionByEntry(Store& store, const std::string& entry, ConnectionRow* out) {
  return ReadConnection(store, "entry=?", entry, 0, out);
}

bool EntryExists(Store& store, std::string_view name) {
  auto st = store.Prepare("SELECT 1 FROM ras_entries WHERE name=?");
  st.Bind(1, std::string(name));
  return st.Step();
}

// Deletes a connection; true when it existed.
bool EndConnection(Store& store, HRASCONN handle) {
  bool ended = false;
  store.Transaction([&] {
    store.Prepare("DELETE FROM ras_connections WHERE handle=?")
        .Bind(1, static_cast<std::int64_t>(handle))
        .Run();
    ended = store.Changes() > 0;
    if (ended)
      PublishConnectedCount(store);
  });
  return ended;
}

// A stable GUID for an entry that was added without one: FNV-1a over the name.
std::string DerivedGuid(const std::string& name) {
  std::uint64_t a = 14695981039346656037ULL, b = 1099511628211ULL * 31;
  for (unsigned char c : ToLowerAscii(name)) {
    a = (a ^ c) * 1099511628211ULL;
    b = (b ^ c) * 1099511628211ULL + 0x9E3779B97F4A7C15ULL;
  }
  GUID g;
  g.Data1 = static_cast<std::uint32_t>(a >> 32);
  g.Data2 = static_cast<std::uint16_t>(a >> 16);
  g.Data3 = static_cast<std::uint16_t>((a & 0x0FFF) | 0x4000);
  for (int i = 0; i < 8; ++i)
    g.Data4[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(b >> (8 * i));
  g.Data4[0] = static_cast<std::uint8_t>((g.Data4[0] & 0x3F) | 0x80);
  return GuidToString(g);
}

std::string FindKeyBelow(HKEY key, const std::string& path, std::string_view name) {
  std::vector<std::string> children;
  std::string child;
  for (DWORD i = 0; RegEnumKeyEx(key, i, &child) == ERROR_SUCCESS; ++i)
    children.push_back(child);
  for (const auto& c : children) {
    if (EqualsNoCase(c, name))
      return path + "\\" + c;
  }
  for (const auto& c : children) {
    HKEY sub;
    if (RegOpenKeyEx(key, c, &sub) != ERROR_SUCCESS)
      continue;
    std::string found = FindKeyBelow(sub, path + "\\" + c, name);
    RegCloseKey(sub);
    if (!found.empty())
      return found;
  }
  return "";
}

// A change made on the phone's side: the connection manager's listeners hear of it, and every
// process of the device gets the hardware event.
void NotifyFromPhone(DWORD status) {
  ConnMgrNotifyStatusChange(status);
  BroadcastHardwareEvent("connections", std::to_string(status));
}

}  // namespace

bool PhoneRadioOn() {
  DWORD status = 0;
  RegistryGetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", &status);
  return (status & kRadioOffBit) == 0;
}

std::string FindProviderKey(std::string_view entryName) {
  HKEY providers;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kProvidersKey, &providers) != ERROR_SUCCESS)
    return "";
  std::string found = FindKeyBelow(providers, kProvidersKey, entryName);
  RegCloseKey(providers);
  return found;
}

DWORD RasEnumEntries(std::vector<std::string>* names, std::size_t max, DWORD* total) {
  names->clear();
  DWORD count = 0;
  bool ok = WithStore([&](Store& store) {
    auto st = store.Prepare("SELECT name FROM ras_entries ORDER BY id");
    while (st.Step()) {
      if (names->size() < max)
        names->push_back(st.Text(0));
      ++count;
    }
  });
  if (!ok)
    return static_cast<DWORD>(ERROR_GEN_FAILURE);
  if (total)
    *total = count;
  return count > max ? ERROR_BUFFER_TOO_SMALL : ERROR_SUCCESS;
}

DWORD RasGetEntryProperties(std::string_view entryName, RASENTRY* out) {
  DWORD rc = ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  bool ok = WithStore([&](Store& store) {
    auto st = store.Prepare("SELECT device_type, device_name, phone FROM ras_entries WHERE name=?");
    st.Bind(1, std::string(entryName));
    if (st.Step()) {
      out->szDeviceType = st.Text(0);
      out->szDeviceName = st.Text(1);
      out->szLocalPhoneNumber = st.Text(2);
      rc = ERROR_SUCCESS;
    }
  });
  return ok ? rc : static_cast<DWORD>(ERROR_GEN_FAILURE);
}

DWORD RasEnumConnections(std::vector<RASCONN>* out, std::size_t max, DWORD* total) {
  out->clear();
  DWORD count = 0;
  bool ok = WithStore([&](Store& store) {
    auto st = store.Prepare("SELECT handle, entry FROM ras_connections ORDER BY handle");
    while (st.Step()) {
      if (out->size() < max)
        out->push_back({static_cast<HRASCONN>(st.Int(0)), st.Text(1)});
      ++count;
    }
  });
  if (!ok)
    return static_cast<DWORD>(ERROR_GEN_FAILURE);
  if (total)
    *total = count;
  return count > max ? ERROR_BUFFER_TOO_SMALL : ERROR_SUCCESS;
}

DWORD RasGetConnectStatus(HRASCONN conn, RASCONNSTATUS* out) {
  DWORD rc = static_cast<DWORD>(ERROR_INVALID_HANDLE);
  bool ok = WithStore([&](Store& store) {
    ConnectionRow row;
    if (!ConnectionByHandle(store, conn, &row))
      return;
    out->rasconnstate = row.state;
    out->dwError = 0;
    auto st = store.Prepare("SELECT device_type, device_name FROM ras_entries WHERE name=?");
    st.Bind(1, row.entry);
    if (st.Step()) {
      out->szDeviceType = st.Text(0);
      out->szDeviceName = st.Text(1);
    }
    rc = ERROR_SUCCESS;
  });
  return ok ? rc : static_cast<DWORD>(ERROR_GEN_FAILURE);
}

DWORD RasGetLinkStatistics(HRASCONN conn, DWORD subEntry, RAS_STATS* out) {
  if (!out || out->dwSize != kRasStatsRecordSize || subEntry != 1)
    return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
  DWORD rc = static_cast<DWORD>(ERROR_INVALID_HANDLE);
  bool ok = WithStore([&](Store& store) {
    ConnectionRow row;
    if (!ConnectionByHandle(store, conn, &row))
      return;
    if (row.state != RASCS_Connected) {
      rc = ERROR_NO_CONNECTION;
      return;
    }
    out->dwBytesXmited = static_cast<DWORD>(row.sent);
    out->dwBytesRcved = static_cast<DWORD>(row.received);
    out->dwFramesXmited = static_cast<DWORD>((row.sent + 1499) / 1500);
    out->dwFramesRcved = static_cast<DWORD>((row.received + 1499) / 1500);
    std::int64_t up = Clock::LocalNowMs() - row.upMs;
    out->dwConnectDuration = static_cast<DWORD>(up > 0 ? up : 0);
    rc = ERROR_SUCCESS;
  });
  return ok ? rc : static_cast<DWORD>(ERROR_GEN_FAILURE);
}

DWORD RasHangUp(HRASCONN conn) {
#ifdef TELVANE_LINUX_BACKEND
  std::unique_ptr<linuxphone::MirrorLock> held;
  // The machine's network service ends the link first; a link it refuses to end stays. The
  // mirror waits until the device has the link ended too: a read it took while the link was
  // still up must not bring the link back afterwards.
  if (backend::IsLinux()) {
    held = linuxphone::HoldConnections();
    std::string entry = dialup::EntryOfConnection(conn);
    if (!entry.empty() && !linuxphone::DeactivateConnection(entry))
      return static_cast<DWORD>(ERROR_GEN_FAILURE);
  }
#endif
  bool ended = false;
  bool ok = WithStore([&](Store& store) { ended = conn != 0 && EndConnection(store, conn); });
#ifdef TELVANE_LINUX_BACKEND
  held.reset();
#endif
  if (!ok)
    return static_cast<DWORD>(ERROR_GEN_FAILURE);
  if (!ended)
    return static_cast<DWORD>(ERROR_INVALID_HANDLE);
  ConnMgrNotifyStatusChange(CONNMGR_STATUS_DISCONNECTED);
  return ERROR_SUCCESS;
}

std::vector<DialUpEntry> ListDialUpEntries() {
  std::vector<DialUpEntry> entries;
  WithStore([&](Store& store) {
    {
      auto st = store.Prepare("SELECT name FROM ras_entries ORDER BY id");
      while (st.Step()) {
        DialUpEntry e;
        e.name = st.Text(0);
        entries.push_back(e);
      }
    }
    for (auto& e : entries) {
      ConnectionRow row;
      if (ConnectionByEntry(store, e.name, &row)) {
        e.handle = row.handle;
        e.state = row.state;
        e.bytesSent = static_cast<std::uint64_t>(row.sent);
        e.bytesReceived = static_cast<std::uint64_t>(row.received);
      }
    }
  });
  for (auto& e : entries) {
    e.keyPath = FindProviderKey(e.name);
    if (e.keyPath.empty())
      continue;
    DWORD enabled = 0;
    e.enabled = RegistryGetDWORD(HKEY_LOCAL_MACHINE, e.keyPath, "enabled", &enabled) == S_OK &&
                enabled == 1;
    RegistryGetString(HKEY_LOCAL_MACHINE, e.keyPath, "ConnectionGUID", &e.guid);
  }
  return entries;
}

bool AddDialUpEntry(const std::string& name, const std::string& guid, bool enabled,
                    std::string* error) {
  if (name.empty() || name.find('\\') != std::string::npos) {
    *error = "an entry name must be non-empty and without backslashes";
    return false;
  }
  std::string destination = guid.empty() ? DerivedGuid(name) : guid;
  GUID parsed;
  if (CLSIDFromString(destination, &parsed) != S_OK) {
    *error = "not a GUID \"" + guid + "\" (for example {436EF144-B4FB-4863-A041-8F905A62C572})";
    return false;
  }
  bool added = false;
  bool ok = WithStore([&](Store& store) {
    store.Transaction([&] {
      if (EntryExists(store, name))
        return;
      store
          .Prepare(
              "INSERT INTO ras_entries(name, device_type, device_name, phone) "
              "VALUES(?, 'GPRS', 'Cellular Line (GPRS)', '*99#')")
          .Bind(1, name)
          .Run();
      std::string keyPath = std::string(kDialUpProviderKey) + "\\" + name;
      HKEY key;
      if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, keyPath, &key) != ERROR_SUCCESS)
        throw StoreError("cannot create the provider key");
      RegSetDWORD(key, "enabled", enabled ? 1 : 0);
      RegSetDWORD(key, "AlwaysOn", 0);
      RegSetString(key, "ConnectionGUID", GuidToString(parsed));
      RegCloseKey(key);
      added = true;
    });
  });
  if (!ok) {
    *error = "the device store could not be written";
    return false;
  }
  if (!added) {
    *error = "an entry named \"" + name + "\" exists already";
    return false;
  }
  return true;
}

bool ConnectDialUpEntry(const std::string& name, std::string* error) {
  if (!PhoneRadioOn()) {
    *error = "the phone radio is off";
    return false;
  }
  std::string problem;
  bool ok = WithStore([&](Store& store) {
    store.Transaction([&] {
      if (!EntryExists(store, name)) {
        problem = "no entry named \"" + name + "\"";
        return;
      }
      ConnectionRow row;
      if (ConnectionByEntry(store, name, &row)) {
        store.Prepare("UPDATE ras_connections SET state=?, up_ms=? WHERE handle=?")
            .Bind(1, static_cast<std::int64_t>(RASCS_Connected))
            .Bind(2, Clock::LocalNowMs())
            .Bind(3, static_cast<std::int64_t>(row.handle))
            .Run();
      } else {
        store.Prepare("INSERT INTO ras_connections(entry, state, up_ms) VALUES(?, ?, ?)")
            .Bind(1, name)
            .Bind(2, static_cast<std::int64_t>(RASCS_Connected))
            .Bind(3, Clock::LocalNowMs())
            .Run();
      }
      PublishConnectedCount(store);
    });
  });
  if (!ok)
    problem = "the device store could not be written";
  if (!problem.empty()) {
    *error = problem;
    return false;
  }
  NotifyFromPhone(CONNMGR_STATUS_CONNECTED);
  return true;
}

bool AddConnectionTraffic(const std::string& name, std::uint64_t bytes, std::string* error) {
  std::string problem;
  bool ok = WithStore([&](Store& store) {
    ConnectionRow row;
    if (!ConnectionByEntry(store, name, &row) || row.state != RASCS_Connected) {
      problem = EntryExists(store, name) ? "\"" + name + "\" is not connected"
                                         : "no entry named \"" + name + "\"";
      return;
    }
    store.Prepare("UPDATE ras_connections SET received=received+? WHERE handle=?")
        .Bind(1, static_cast<std::int64_t>(bytes))
        .Bind(2, static_cast<std::int64_t>(row.handle))
        .Run();
  });
  if (!ok)
    problem = "the device store could not be written";
  if (!problem.empty()) {
    *error = problem;
    return false;
  }
  return true;
}

bool DropConnection(const std::string& name, std::string* error) {
  std::string problem;
  bool ok = WithStore([&](Store& store) {
    ConnectionRow row;
    if (!ConnectionByEntry(store, name, &row)) {
      problem = EntryExists(store, name) ? "\"" + name + "\" is not connected"
                                         : "no entry named \"" + name + "\"";
      return;
    }
    EndConnection(store, row.handle);
  });
  if (!ok)
    problem = "the device store could not be written";
  if (!problem.empty()) {
    *error = problem;
    return false;
  }
  NotifyFromPhone(CONNMGR_STATUS_DISCONNECTED);
  return true;
}

// ---- Used by the connection manager ---------------------------------------------------------

namespace dialup {

HRASCONN BeginConnection(const std::string& entryName, bool* created) {
  HRASCONN handle = 0;
  *created = false;
  WithStore([&](Store& store) {
    store.Transaction([&] {
      ConnectionRow row;
      if (ConnectionByEntry(store, entryName, &row)) {
        handle = row.handle;
        return;
      }
      store.Prepare("INSERT INTO ras_connections(entry, state) VALUES(?, ?)")
          .Bind(1, entryName)
          .Bind(2, static_cast<std::int64_t>(RASCS_ConnectDevice))
          .Run();
      handle = static_cast<HRASCONN>(store.LastInsertId());
      *created = true;
    });
  });
  return handle;
}

DWORD CompleteConnection(HRASCONN handle, bool linkUp) {
  DWORD result = 0;
  WithStore([&](Store& store) {
    store.Transaction([&] {
      ConnectionRow row;
      if (!ConnectionByHandle(store, handle, &row) || row.state == RASCS_Connected)
        return;
      if (linkUp) {
        store.Prepare("UPDATE ras_connections SET state=?, up_ms=? WHERE handle=?")
            .Bind(1, static_cast<std::int64_t>(RASCS_Connected))
            .Bind(2, Clock::LocalNowMs())
            .Bind(3, static_cast<std::int64_t>(handle))
            .Run();
        result = CONNMGR_STATUS_CONNECTED;
      } else {
        store.Prepare("DELETE FROM ras_connections WHERE handle=?")
            .Bind(1, static_cast<std::int64_t>(handle))
            .Run();
        result = CONNMGR_STATUS_CONNECTIONFAILED;
      }
      PublishConnectedCount(store);
    });
  });
  return result;
}

std::string EntryOfConnection(HRASCONN handle) {
  std::string entry;
  WithStore([&](Store& store) {
    ConnectionRow row;
    if (ConnectionByHandle(store, handle, &row))
      entry = row.entry;
  });
  return entry;
}

void MirrorLink(const std::string& entryName, std::optional<DWORD> state, std::uint64_t sent,
                std::uint64_t received) {
  DWORD status = 0;
  WithStore([&](Store& store) {
    store.Transaction([&] {
      if (!EntryExists(store, entryName))
        return;
      ConnectionRow row;
      bool has = ConnectionByEntry(store, entryName, &row);
      if (!state) {
        if (has && row.state == RASCS_Connected) {
          EndConnection(store, row.handle);
          status = CONNMGR_STATUS_DISCONNECTED;
        }
        return;
      }
      bool up = *state == RASCS_Connected;
      if (!has) {
        store
            .Prepare(
                "INSERT INTO ras_connections(entry, state, sent, received, up_ms) "
                "VALUES(?, ?, ?, ?, ?)")
            .Bind(1, entryName)
            .Bind(2, static_cast<std::int64_t>(*state))
            .Bind(3, static_cast<std::int64_t>(sent))
            .Bind(4, static_cast<std::int64_t>(received))
            .Bind(5, Clock::LocalNowMs())
            .Run();
      } else {
        bool cameUp = up && row.state != RASCS_Connected;
        store
            .Prepare(
                "UPDATE ras_connections SET state=?, sent=?, received=?, "
                "up_ms=CASE WHEN ? THEN ? ELSE up_ms END WHERE handle=?")
            .Bind(1, static_cast<std::int64_t>(*state))
            .Bind(2, static_cast<std::int64_t>(sent))
            .Bind(3, static_cast<std::int64_t>(received))
            .Bind(4, static_cast<std::int64_t>(cameUp ? 1 : 0))
            .Bind(5, Clock::LocalNowMs())
            .Bind(6, static_cast<std::int64_t>(row.handle))
            .Run();
      }
      if (up && (!has || row.state != RASCS_Connected)) {
        status = CONNMGR_STATUS_CONNECTED;
        PublishConnectedCount(store);
      }
    });
  });
  if (status != 0)
    NotifyFromPhone(status);
}

}  // namespace dialup

}  // namespace platform
