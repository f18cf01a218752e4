// The phone's registry: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER trees of keys holding DWORD,
// string and binary values, kept in the device store and shared by every process of a device.
//
// Key and value names compare case-insensitively and a leading backslash is ignored
// ("\SOFTWARE\Orvella\Telvane" and "Software\Orvella\Telvane" are one key). Writing a value
// under a missing key fails unless the caller creates the key first.
//
// Change watches ("any change" of the masked value) are delivered, whichever process writes the
// value, either into a named message queue of the watching process or by a callback on that
// process's endpoint thread.
//
// All calls are thread-safe and may block briefly on the device store.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Types.h"

namespace platform {

class Device;

using HKEY = std::uintptr_t;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;

// Open and close keys. A handle from RegOpenKeyEx/RegCreateKeyEx stays usable until closed; its
// operations fail with ERROR_KEY_DELETED once the key itself was deleted.
LONG RegOpenKeyEx(HKEY root, std::string_view subKey, HKEY* out);
LONG RegCreateKeyEx(HKEY root, std::string_view subKey, HKEY* out, bool* created = nullptr);
LONG RegCloseKey(HKEY key);
// Deletes the key with every key and value below it.
LONG RegDeleteKey(HKEY root, std::string_view subKey);
LONG RegDeleteValue(HKEY key, std::string_view valueName);

// Enumeration in creation order; ERROR_NO_MORE_ITEMS past the end.
LONG RegEnumKeyEx(HKEY key, DWORD index, std::string* name);
LONG RegEnumValue(HKEY key, DWORD index, std::string* name, DWORD* type);

// Raw access. A string is stored as UTF-8 text without terminator.
LONG RegQueryValueEx(HKEY key, std::string_view valueName, DWORD* type, std::vector<BYTE>* data);
LONG RegSetValueEx(HKEY key, std::string_view valueName, DWORD type, const void* data,
                   std::size_t size);

// Typed access on an open key.
LONG RegQueryDWORD(HKEY key, std::string_view valueName, DWORD* out);
LONG RegQueryString(HKEY key, std::string_view valueName, std::string* out);
LONG RegSetDWORD(HKEY key, std::string_view valueName, DWORD value);
LONG RegSetString(HKEY key, std::string_view valueName, std::string_view value);

// The shell's registry helpers: `key` is a root or an open key, `subKey` may be empty (the
// value lives directly under `key`). They never create keys. S_OK or an error HRESULT.
HRESULT RegistryGetDWORD(HKEY key, std::string_view subKey, std::string_view valueName, DWORD* out);
HRESULT RegistrySetDWORD(HKEY key, std::string_view subKey, std::string_view valueName,
                         DWORD value);
HRESULT RegistryGetString(HKEY key, std::string_view subKey, std::string_view valueName,
                          std::string* out);
HRESULT RegistrySetString(HKEY key, std::string_view subKey, std::string_view valueName,
                          std::string_view value);

// Change watches.
using HREGNOTIFY = std::uint32_t;
inline constexpr DWORD REG_CT_ANYCHANGE = 0;

struct NOTIFICATIONCONDITION {
  DWORD ctComparisonType = REG_CT_ANYCHANGE;
  DWORD dwMask = 0xFFFFFFFF;
};

// Called on the watching process's endpoint thread with the watch's handle, the caller's user
// data and the value's new bytes (empty when it was deleted).
using REGISTRYNOTIFYCALLBACK =
    std::function<void(HREGNOTIFY handle, DWORD userData, const BYTE* data, UINT size)>;

// Layout of a message that a queue-mode watch writes into its queue.
struct RegistryNotifyMessage {
  HREGNOTIFY handle;  // always the first 32-bit word
  DWORD userData;
  DWORD type;
  DWORD size;  // bytes of value data that follow
};

// A watch notifies when the value is created, deleted or changed such that the masked DWORD
// differs (any byte change for strings and binaries). The value and its key need not exist yet.
HRESULT RegistryNotifyMsgQueue(HKEY root, std::string_view subKey, std::string_view valueName,
                               std::string_view queueName, DWORD userData,
                               const NOTIFICATIONCONDITION* condition, HREGNOTIFY* out);
HRESULT RegistryNotifyCallback(HKEY root, std::string_view subKey, std::string_view valueName,
                               REGISTRYNOTIFYCALLBACK callback, DWORD userData,
                               const NOTIFICATIONCONDITION* condition, HREGNOTIFY* out);
HRESULT RegistryCloseNotification(HREGNOTIFY handle);

// Normalised form of a key path: no leading or doubled backslashes, lower case.
std::string NormalizeKeyPath(std::string_view path);
// "HKLM"/"HKEY_LOCAL_MACHINE" and "HKCU"/"HKEY_CURRENT_USER" (any case); 0 when unknown.
HKEY ParseRoot(std::string_view name);

// Wiring used by Device::Open and Device::Close.
void InstallRegistryHandlers(Device& device);
void ResetLocalWatches();

}  // namespace platform
