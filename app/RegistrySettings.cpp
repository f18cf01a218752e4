#include "app/RegistrySettings.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "app/Trace.h"
#include "platform/Registry.h"

using namespace platform;

namespace {

// Opens the root key for one operation and closes it again.
class KeyHandle {
 public:
  explicit KeyHandle(const std::string& path) {
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, &key_) != ERROR_SUCCESS)
      key_ = 0;
  }
  ~KeyHandle() {
    if (key_)
      RegCloseKey(key_);
  }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = 0;
};

std::atomic<CRegistrySettings*> g_current{nullptr};
// The store created on first use. Never destroyed: callers may still hold it after another
// store has become current.
CRegistrySettings* g_firstUse = nullptr;
std::mutex g_instanceMutex;
std::atomic<bool> g_debugInfo{false};

}  // namespace

CBaseRegistrySettings::CBaseRegistrySettings(std::string rootPath)
    : rootPath_(std::move(rootPath)) {}

CBaseRegistrySettings::~CBaseRegistrySettings() = default;

// The shell helpers take the root path as their sub-key: each call opens the key, reads or
// writes the one value and closes the key again, in a single step of the registry.

std::string CBaseRegistrySettings::GetString(std::string_view name) {
  std::string value;
  if (RegistryGetString(HKEY_LOCAL_MACHINE, rootPath_, name, &value) != S_OK)
    return {};
  if (auto zero = value.find('\0'); zero != std::string::npos)
    value.resize(zero);
  return value;
}

void CBaseRegistrySettings::SetString(std::string_view name, std::string_view value) {
  RegistrySetString(HKEY_LOCAL_MACHINE, rootPath_, name, value);
}

DWORD CBaseRegistrySettings::GetDWORD(std::string_view name) {
  DWORD value = 0;
  if (RegistryGetDWORD(HKEY_LOCAL_MACHINE, rootPath_, name, &value) != S_OK)
    return 0;
  return value;
}

void CBaseRegistrySettings::SetDWORD(std::string_view name, DWORD value) {
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, rootPath_, name, value);
}

LONG CBaseRegistrySettings::GetBinary(std::string_view name, BYTE* buffer, DWORD* length) {
  if (!length)
    return ERROR_INVALID_PARAMETER;
  KeyHandle key(rootPath_);
  if (!key.get())
    return ERROR_FILE_NOT_FOUND;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  LONG rc = RegQueryValueEx(key.get(), name, &type, &data);
  if (rc != ERROR_SUCCESS)
    return rc;
  DWORD capacity = *length;
  *length = static_cast<DWORD>(data.size());
  if (!buffer || capacity < data.size())
    return ERROR_MORE_DATA;
  if (!data.empty())
    std::memcpy(buffer, data.data(), data.size());
  return ERROR_SUCCESS;
}

LONG CBaseRegistrySettings::SetBinary(std::string_view name, const BYTE* data, DWORD length) {
  KeyHandle key(rootPath_);
  if (!key.get())
    return ERROR_FILE_NOT_FOUND;
  return RegSetValueEx(key.get(), name, REG_BINARY, data, length);
}

CRegistrySettings::CRegistrySettings() : CBaseRegistrySettings(kRootPath) {
  g_debugInfo = GetDWORD(kDebugInfo) == 1;
  g_current = this;
  Trace(TRACE_DEBUG, "CRegistrySettings::CRegistrySettings(debug_info %d)",
        g_debugInfo.load() ? 1 : 0);
}

CRegistrySettings::~CRegistrySettings() {
  std::lock_guard lock(g_instanceMutex);
  CRegistrySettings* self = this;
  g_current.compare_exchange_strong(self, g_firstUse != this ? g_firstUse : nullptr);
}

CRegistrySettings* CRegistrySettings::Instance() {
  if (CRegistrySettings* current = g_current.load())
    return current;
  std::lock_guard lock(g_instanceMutex);
  if (CRegistrySettings* current = g_current.load())
    return current;
  if (!g_firstUse) {
    g_firstUse = new CRegistrySettings();
  } else {
    g_current = g_firstUse;
  }
  return g_current.load();
}

bool CRegistrySettings::DebugInfo() {
  return g_debugInfo.load();
}
