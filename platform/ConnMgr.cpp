#include "platform/ConnMgr.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/Backend.h"
#include "platform/Device.h"
#include "platform/HardwareEvents.h"
#include "platform/Ras.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/Window.h"
#ifdef TELVANE_LINUX_BACKEND
#include "platform/linux/LinuxPhone.h"
#endif

namespace platform {

namespace {

const char* kSchema = "CREATE TABLE IF NOT EXISTS connmgr_windows(hwnd INTEGER PRIMARY KEY);";

// The hardware event that completes a pending link on the requesting process's endpoint thread.
constexpr const char* kDialEvent = "connmgr.dial";

std::atomic<std::uint64_t> g_nextToken{1};

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// A key below the providers key that names a destination network.
struct Candidate {
  std::string name;
  std::string keyPath;
};

void CollectCandidates(HKEY key, const std::string& path, const GUID& destination,
                       std::vector<Candidate>* out) {
  std::vector<std::string> children;
  std::string child;
  for (DWORD i = 0; RegEnumKeyEx(key, i, &child) == ERROR_SUCCESS; ++i)
    children.push_back(child);
  for (const auto& c : children) {
    HKEY sub;
    if (RegOpenKeyEx(key, c, &sub) != ERROR_SUCCESS)
      continue;
    std::string text;
    GUID guid;
    if (RegQueryString(sub, "ConnectionGUID", &text) == ERROR_SUCCESS &&
        CLSIDFromString(text, &guid) == S_OK && guid == destination) {
      out->push_back({c, path + "\\" + c});
    }
    CollectCandidates(sub, path + "\\" + c, destination, out);
    RegCloseKey(sub);
  }
}

bool IsEnabled(const std::string& keyPath) {
  DWORD enabled = 0;
  return RegistryGetDWORD(HKEY_LOCAL_MACHINE, keyPath, "enabled", &enabled) == S_OK && enabled == 1;
}

bool HasConnection(const std::string& entry) {
  std::vector<RASCONN> conns;
  RasEnumConnections(&conns, 1000);
  for (const auto& c : conns) {
    if (EqualsNoCase(c.szEntryName, entry))
      return true;
  }
  return false;
}

void Complete(HRASCONN handle) {
  DWORD status = dialup::CompleteConnection(handle, PhoneRadioOn());
  if (status != 0)
    ConnMgrNotifyStatusChange(status);
}

// Completes the link later, on this process's endpoint thread, as the phone's connection
// manager answers asynchronously. Without an endpoint to carry the event it completes at once.
void CompleteLater(HRASCONN handle) {
  std::string token = std::to_string(g_nextToken.fetch_add(1));
  auto subscription = std::make_shared<std::atomic<int>>(0);
  subscription->store(SubscribeHardwareEvent(
      kDialEvent, [handle, token, subscription](const std::string&, const std::string& payload) {
        if (payload != token)
          return;
        UnsubscribeHardwareEvent(subscription->load());
        Complete(handle);
      }));
  if (BroadcastHardwareEvent(kDialEvent, token) == 0) {
    UnsubscribeHardwareEvent(subscription->load());
    Complete(handle);
  }
}

}  // namespace

HRESULT CLSIDFromString(std::string_view text, GUID* out) {
  // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}
  static constexpr std::size_t kLength = 38;
  if (text.size() != kLength || text.front() != '{' || text.back() != '}')
    return CO_E_CLASSSTRING;
  std::string hex;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    char c = text[i];
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash) {
      if (c != '-')
        return CO_E_CLASSSTRING;
      continue;
    }
    if (HexDigit(c) < 0)
      return CO_E_CLASSSTRING;
    hex.push_back(c);
  }
  auto value = [&](std::size_t from, std::size_t digits) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < digits; ++i)
      v = (v << 4) | static_cast<std::uint64_t>(HexDigit(hex[from + i]));
    return v;
  };
  GUID g;
  g.Data1 = static_cast<std::uint32_t>(value(0, 8));
  g.Data2 = static_cast<std::uint16_t>(value(8, 4));
  g.Data3 = static_cast<std::uint16_t>(value(12, 4));
  for (std::size_t i = 0; i < 8; ++i)
    g.Data4[i] = static_cast<std::uint8_t>(value(16 + 2 * i, 2));
  *out = g;
  return S_OK;
}

std::string GuidToString(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2),
                static_cast<unsigned>(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

HRESULT ConnMgrEstablishConnection(const CONNMGR_CONNECTIONINFO& info, HCONNECTION* out) {
  if (info.cbSize != kConnMgrConnectionInfoSize || !(info.dwParams & CONNMGR_PARAM_GUIDDESTNET) ||
      !out) {
    return E_INVALIDARG;
  }
  *out = 0;
  std::vector<Candidate> candidates;
  HKEY providers;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kProvidersKey, &providers) == ERROR_SUCCESS) {
    CollectCandidates(providers, kProvidersKey, info.guidDestNet, &candidates);
    RegCloseKey(providers);
  }
  // Only phone-book entries can be dialled.
  std::erase_if(candidates, [](const Candidate& c) {
    RASENTRY entry;
    return RasGetEntryProperties(c.name, &entry) != ERROR_SUCCESS;
  });
  if (candidates.empty())
    return CONNMGR_E_NO_DESTINATION;
  const Candidate* chosen = nullptr;
  for (const auto& c : candidates) {
    if (HasConnection(c.name)) {
      chosen = &c;
      break;
    }
  }
  if (!chosen) {
    for (const auto& c : candidates) {
      if (IsEnabled(c.keyPath)) {
        chosen = &c;
        break;
      }
    }
  }
  if (!chosen)
    return CONNMGR_E_DISABLED;
  bool created = false;
  HRASCONN handle = dialup::BeginConnection(chosen->name, &created);
  if (!handle)
    return E_FAIL;
  *out = handle;
  // A link already up or on its way needs nothing more.
  if (!created)
    return S_OK;
#ifdef TELVANE_LINUX_BACKEND
  // The machine's network service brings the link up; the mirror reports it when it is.
  if (backend::IsLinux()) {
    if (linuxphone::ActivateConnection(chosen->name)) {
      linuxphone::SyncConnections();
    } else if (DWORD status = dialup::CompleteConnection(handle, false)) {
      ConnMgrNotifyStatusChange(status);
    }
    return S_OK;
  }
#endif
  CompleteLater(handle);
  return S_OK;
}

HRESULT ConnMgrRegisterForStatusChangeNotification(BOOL enable, HWND hwnd) {
  Device* dev = Device::Current();
  if (!dev || !hwnd)
    return E_INVALIDARG;
  try {
    dev->store().Exec(kSchema);
    auto st = dev->store().Prepare(enable ? "INSERT OR IGNORE INTO connmgr_windows(hwnd) VALUES(?)"
                                          : "DELETE FROM connmgr_windows WHERE hwnd=?");
    st.Bind(1, static_cast<std::int64_t>(hwnd)).Run();
  } catch (const StoreError&) {
    return E_FAIL;
  }
  return S_OK;
}

void ConnMgrNotifyStatusChange(DWORD status) {
  Device* dev = Device::Current();
  if (!dev)
    return;
  std::vector<HWND> windows;
  try {
    dev->store().Exec(kSchema);
    auto st = dev->store().Prepare("SELECT hwnd FROM connmgr_windows ORDER BY hwnd");
    while (st.Step())
      windows.push_back(static_cast<HWND>(st.Int(0)));
  } catch (const StoreError&) {
    return;
  }
  if (windows.empty())
    return;
  UINT msg = RegisterWindowMessage(kConnMgrStatusMessage);
  for (HWND hwnd : windows) {
    if (!PostMessage(hwnd, msg, status, 0) && !IsWindow(hwnd)) {
      dev->store()
          .Prepare("DELETE FROM connmgr_windows WHERE hwnd=?")
          .Bind(1, static_cast<std::int64_t>(hwnd))
          .Run();
    }
  }
  // Nothing may follow the last message: a caller that waits for it may close the device.
}

}  // namespace platform
