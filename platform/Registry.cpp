#include "platform/Registry.h"

#include <cstring>
#include <map>
#include <mutex>

#include "platform/Device.h"
#include "platform/Endpoint.h"
#include "platform/MsgQueue.h"
#include "platform/Text.h"

namespace platform {

namespace {

struct OpenKey {
  HKEY root;
  std::int64_t id;
};

struct LocalWatch {
  int mode;  // 0 queue, 1 callback
  HMSGQUEUE queue = 0;
  REGISTRYNOTIFYCALLBACK callback;
  DWORD userData = 0;
};

std::mutex g_keysMutex;
std::map<HKEY, OpenKey> g_keys;
HKEY g_nextKey = 0x1000;

std::mutex g_watchMutex;
std::map<HREGNOTIFY, std::shared_ptr<LocalWatch>> g_watches;

constexpr HRESULT HResultFromWin32(LONG code) {
  return code == 0 ? S_OK : static_cast<HRESULT>(0x80070000u | (static_cast<DWORD>(code) & 0xFFFF));
}

Store* CurrentStore() {
  Device* dev = Device::Current();
  return dev ? &dev->store() : nullptr;
}

bool IsRoot(HKEY key) {
  return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER;
}

std::int64_t FindKey(Store& store, HKEY root, const std::string& path) {
  auto st = store.Prepare("SELECT id FROM reg_keys WHERE root=? AND path=?");
  st.Bind(1, static_cast<std::int64_t>(root)).Bind(2, path);
  return st.Step() ? st.Int(0) : 0;
}

bool KeyExists(Store& store, std::int64_t id) {
  auto st = store.Prepare("SELECT 1 FROM reg_keys WHERE id=?");
  st.Bind(1, id);
  return st.Step();
}

std::string KeyPath(Store& store, std::int64_t id) {
  auto st = store.Prepare("SELECT path FROM reg_keys WHERE id=?");
  st.Bind(1, id);
  return st.Step() ? st.Text(0) : std::string();
}

// Splits a key path into its original-case parts.
std::vector<std::string> KeyParts(std::string_view path) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : path) {
    if (c == '\\') {
      if (!cur.empty())
        parts.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty())
    parts.push_back(cur);
  return parts;
}

std::int64_t EnsureRoot(Store& store, HKEY root) {
  std::int64_t id = FindKey(store, root, "");
  if (id)
    return id;
  store.Prepare("INSERT INTO reg_keys(root,parent,name,path) VALUES(?,0,'','')")
      .Bind(1, static_cast<std::int64_t>(root))
      .Run();
  return store.LastInsertId();
}

// Resolves `key` (a root or an open handle) plus `subKey` to a key id; 0 when missing.
LONG Resolve(Store& store, HKEY key, std::string_view subKey, HKEY* root, std::int64_t* id) {
  std::string base;
  if (IsRoot(key)) {
    *root = key;
  } else {
    OpenKey open;
    {
      std::lock_guard lock(g_keysMutex);
      auto it = g_keys.find(key);
      if (it == g_keys.end())
        return ERROR_INVALID_HANDLE;
      open = it->second;
    }
    if (!KeyExists(store, open.id))
      return ERROR_KEY_DELETED;
    *root = open.root;
    base = KeyPath(store, open.id);
  }
  std::string sub = NormalizeKeyPath(subKey);
  std::string path = base.empty() ? sub : (sub.empty() ? base : base + "\\" + sub);
  *id = path.empty() ? EnsureRoot(store, *root) : FindKey(store, *root, path);
  return *id ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

HKEY NewHandle(HKEY root, std::int64_t id) {
  std::lock_guard lock(g_keysMutex);
  HKEY h = g_nextKey++;
  g_keys[h] = OpenKey{root, id};
  return h;
}

struct PendingNotify {
  int pid;
  HREGNOTIFY watch;
  DWORD type;
  std::vector<BYTE> data;
};

bool Changed(DWORD oldType, const std::vector<BYTE>& oldData, bool oldPresent, DWORD newType,
             const std::vector<BYTE>& newData, bool newPresent, DWORD mask) {
  auto asDword = [](DWORD type, const std::vector<BYTE>& d, bool present) -> DWORD {
    if (!present || type != REG_DWORD || d.size() < 4)
      return 0;
    DWORD v;
    std::memcpy(&v, d.data(), 4);
    return v;
  };
  bool dwordish = (!oldPresent || oldType == REG_DWORD) && (!newPresent || newType == REG_DWORD);
  if (dwordish) {
    return ((asDword(oldType, oldData, oldPresent) ^ asDword(newType, newData, newPresent)) &
            mask) != 0;
  }
  return oldPresent != newPresent || oldType != newType || oldData != newData;
}

std::vector<BYTE> ValueBytes(const Statement& st, int col, DWORD type) {
  if (type == REG_DWORD) {
    DWORD v = static_cast<DWORD>(st.Int(col));
    std::vector<BYTE> b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
  }
  if (type == REG_SZ) {
    std::string s = st.Text(col);
    return std::vector<BYTE>(s.begin(), s.end());
  }
  return st.Blob(col);
}

// Writes (or, with `remove`, deletes) one value and collects the watches it triggers. Runs in
// its own transaction; the notifications are sent after the commit.
LONG WriteValue(Store& store, std::int64_t keyId, HKEY root, std::string_view name, DWORD type,
                const void* data, std::size_t size, bool remove,
                std::vector<PendingNotify>* pending) {
  LONG result = ERROR_SUCCESS;
  store.Transaction([&] {
    if (!KeyExists(store, keyId)) {
      result = ERROR_KEY_DELETED;
      return;
    }
    std::string valueName(name);
    DWORD oldType = REG_NONE;
    std::vector<BYTE> oldData;
    bool oldPresent = false;
    {
      auto st = store.Prepare("SELECT type, data FROM reg_values WHERE key_id=? AND name=?");
      st.Bind(1, keyId).Bind(2, valueName);
      if (st.Step()) {
        oldPresent = true;
        oldType = static_cast<DWORD>(st.Int(0));
        oldData = ValueBytes(st, 1, oldType);
      }
    }
    std::vector<BYTE> newData;
    if (remove) {
      if (!oldPresent) {
        result = ERROR_FILE_NOT_FOUND;
        return;
      }
      store.Prepare("DELETE FROM reg_values WHERE key_id=? AND name=?")
          .Bind(1, keyId)
          .Bind(2, valueName)
          .Run();
    } else {
      auto* bytes = static_cast<const BYTE*>(data);
      newData.assign(bytes, bytes + size);
      auto st = store.Prepare(
          "INSERT INTO reg_values(key_id,name,type,data) VALUES(?,?,?,?) "
          "ON CONFLICT(key_id,name) DO UPDATE SET type=excluded.type, data=excluded.data");
      st.Bind(1, keyId).Bind(2, valueName).Bind(3, static_cast<std::int64_t>(type));
      if (type == REG_DWORD) {
        DWORD v = 0;
        std::memcpy(&v, data, std::min<std::size_t>(size, 4));
        st.Bind(4, static_cast<std::int64_t>(v));
        newData.resize(4);
        std::memcpy(newData.data(), &v, 4);
      } else if (type == REG_SZ) {
        std::string s(reinterpret_cast<const char*>(bytes), size);
        // A stored string ends at its first terminator, as the phone's readers see it.
        s = s.substr(0, s.find('\0'));
        st.Bind(4, s);
        newData.assign(s.begin(), s.end());
      } else {
        st.BindBlob(4, data, size);
      }
      st.Run();
    }
    auto st =
        store.Prepare("SELECT id, mask, pid FROM reg_watches WHERE root=? AND path=? AND value=?");
    st.Bind(1, static_cast<std::int64_t>(root)).Bind(2, KeyPath(store, keyId)).Bind(3, valueName);
    while (st.Step()) {
      DWORD mask = static_cast<DWORD>(st.Int(1));
      if (Changed(oldType, oldData, oldPresent, type, newData, !remove, mask)) {
        pending->push_back({static_cast<int>(st.Int(2)), static_cast<HREGNOTIFY>(st.Int(0)),
                            remove ? REG_NONE : type, newData});
      }
    }
  });
  return result;
}

void SendNotifications(const std::vector<PendingNotify>& pending) {
  Device* dev = Device::Current();
  if (!dev)
    return;
  for (const auto& p : pending) {
    Packer packer;
    packer.U32(p.watch).U32(p.type).Bytes(p.data);
    dev->endpoint().Send(p.pid, PacketKind::kRegistryChange, packer.Data());
  }
}

LONG SetValue(HKEY key, std::string_view subKey, std::string_view name, DWORD type,
              const void* data, std::size_t size) {
  Store* store = CurrentStore();
  if (!store)
    return ERROR_INVALID_HANDLE;
  std::vector<PendingNotify> pending;
  LONG rc;
  try {
    HKEY root;
    std::int64_t id;
    rc = Resolve(*store, key, subKey, &root, &id);
    if (rc == ERROR_SUCCESS) {
      rc = WriteValue(*store, id, root, name, type, data, size, false, &pending);
    }
  } catch (const StoreError&) {
    return ERROR_GEN_FAILURE;
  }
  SendNotifications(pending);
  return rc;
}

LONG GetValue(HKEY key, std::string_view subKey, std::string_view name, DWORD* type,
              std::vector<BYTE>* data) {
  Store* store = CurrentStore();
  if (!store)
    return ERROR_INVALID_HANDLE;
  try {
    HKEY root;
    std::int64_t id;
    LONG rc = Resolve(*store, key, subKey, &root, &id);
    if (rc != ERROR_SUCCESS)
      return rc;
    auto st = store->Prepare("SELECT type, data FROM reg_values WHERE key_id=? AND name=?");
    st.Bind(1, id).Bind(2, std::string(name));
    if (!st.Step())
      return ERROR_FILE_NOT_FOUND;
    DWORD t = static_cast<DWORD>(st.Int(0));
    if (type)
      *type = t;
    if (data)
      *data = ValueBytes(st, 1, t);
    return ERROR_SUCCESS;
  } catch (const StoreError&) {
    return ERROR_GEN_FAILURE;
  }
}

HRESULT AddWatch(HKEY root, std::string_view subKey, std::string_view valueName,
                 std::shared_ptr<LocalWatch> local, const NOTIFICATIONCONDITION* condition,
                 HREGNOTIFY* out) {
  Device* dev = Device::Current();
  if (!dev || !out || !IsRoot(root))
    return E_INVALIDARG;
  DWORD mask = condition ? condition->dwMask : 0xFFFFFFFF;
  HREGNOTIFY handle = 0;
  try {
    Store& store = dev->store();
    store.Transaction([&] {
      store.Prepare("INSERT INTO reg_watches(root,path,value,mask,pid,mode) VALUES(?,?,?,?,?,?)")
          .Bind(1, static_cast<std::int64_t>(root))
          .Bind(2, NormalizeKeyPath(subKey))
          .Bind(3, std::string(valueName))
          .Bind(4, static_cast<std::int64_t>(mask))
          .Bind(5, dev->endpoint().Pid())
          .Bind(6, local->mode)
          .Run();
      handle = static_cast<HREGNOTIFY>(store.LastInsertId());
    });
  } catch (const StoreError&) {
    return E_FAIL;
  }
  {
    std::lock_guard lock(g_watchMutex);
    g_watches[handle] = std::move(local);
  }
  *out = handle;
  return S_OK;
}

void Deliver(const std::vector<std::uint8_t>& payload) {
  Unpacker in(payload);
  HREGNOTIFY handle = in.U32();
  DWORD type = in.U32();
  std::vector<BYTE> data = in.Bytes();
  if (!in.Ok())
    return;
  std::shared_ptr<LocalWatch> watch;
  {
    std::lock_guard lock(g_watchMutex);
    auto it = g_watches.find(handle);
    if (it == g_watches.end())
      return;
    watch = it->second;
  }
  if (watch->mode == 1) {
    if (watch->callback) {
      watch->callback(handle, watch->userData, data.data(), static_cast<UINT>(data.size()));
    }
    return;
  }
  std::vector<BYTE> msg(sizeof(RegistryNotifyMessage) + data.size());
  RegistryNotifyMessage header{handle, watch->userData, type, static_cast<DWORD>(data.size())};
  std::memcpy(msg.data(), &header, sizeof header);
  if (!data.empty())
    std::memcpy(msg.data() + sizeof header, data.data(), data.size());
  WriteMsgQueue(watch->queue, msg.data(), static_cast<DWORD>(msg.size()), 0);
}

}  // namespace

std::string NormalizeKeyPath(std::string_view path) {
  std::string out;
  for (const auto& part : KeyParts(path)) {
    if (!out.empty())
      out += '\\';
    out += ToLowerAscii(part);
  }
  return out;
}

HKEY ParseRoot(std::string_view name) {
  if (EqualsNoCase(name, "HKLM") || EqualsNoCase(name, "HKEY_LOCAL_MACHINE")) {
    return HKEY_LOCAL_MACHINE;
  }
  if (EqualsNoCase(name, "HKCU") || EqualsNoCase(name, "HKEY_CURRENT_USER")) {
    return HKEY_CURRENT_USER;
  }
  return 0;
}

LONG RegOpenKeyEx(HKEY root, std::string_view subKey, HKEY* out) {
  Store* store = CurrentStore();
  if (!store || !out)
    return ERROR_INVALID_PARAMETER;
  try {
    HKEY r;
    std::int64_t id;
    LONG rc = Resolve(*store, root, subKey, &r, &id);
    if (rc != ERROR_SUCCESS)
      return rc;
    *out = NewHandle(r, id);
    return ERROR_SUCCESS;
  } catch (const StoreError&) {
    return ERROR_GEN_FAILURE;
  }
}

LONG RegCreateKeyEx(HKEY root, std::string_view subKey, HKEY* out, bool* created) {
  Store* store = CurrentStore();
  if (!store)
    return ERROR_INVALID_PARAMETER;
  if (created)
    *created = false;
  try {
    HKEY r;
    std::int64_t base;
    LONG rc = Resolve(*store, root, "", &r, &base);
    if (rc != ERROR_SUCCESS)
      return rc;
    std::int64_t id = base;
    store->Transaction([&] {
      std::string path = KeyPath(*store, base);
      for (const auto& part : KeyParts(subKey)) {
        path = path.empty() ? ToLowerAscii(part) : path + "\\" + ToLowerAscii(part);
        std::int64_t child = FindKey(*store, r, path);
        if (!child) {
          store->Prepare("INSERT INTO reg_keys(root,parent,name,path) VALUES(?,?,?,?)")
              .Bind(1, static_cast<std::int64_t>(r))
              .Bind(2, id)
              .Bind(3, part)
              .Bind(4, path)
              .Run();
          child = store->LastInsertId();
          if (created)
            *created = true;
        }
        id = child;
      }
    });
    if (out)
      *out = NewHandle(r, id);
    return ERROR_SUCCESS;
  } catch (const StoreError&) {
    return ERROR_GEN_FAILURE;
  }
}

LONG RegCloseKey(HKEY key) {
  if (IsRoot(key))
    return ERROR_SUCCESS;
  std::lock_guard lock(g_keysMutex);
  return g_keys.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegDeleteKey(HKEY root, std::string_view subKey) {
  Store* store = CurrentStore();
  if (!store)
    return ERROR_INVALID_PARAMETER;
  if (NormalizeKeyPath(subKey).empty() && IsRoot(root))
    return ERROR_INVALID_PARAMETER;
  try {
    HKEY r;
    std::int64_t id;
    LONG rc = Resolve(*store, root, subKey, &r, &id);
    if (rc != ERROR_SUCCESS)
      return rc;
    store->Transaction([&] {
      std::string path = KeyPath(*store, id);
      store
          ->Prepare(
              "DELETE FROM reg_keys WHERE root=? AND (path=? OR "
              "substr(path,1,length(?)+1)=?||'\\')")
          .Bind(1, static_cast<std::int64_t>(r))
          .Bind(2, path)
          .Bind(3, path)
          .Bind(4, path)
          .Run();
    });
    return ERROR_SUCCESS;
  } catch (const StoreError&) {
    return ERROR_GEN_FAILURE;
  }
}

LONG RegDeleteValue(HKEY key, std::string_view valueName) {
  Store* store = CurrentStore();
  if (!store)
    return ERROR_INVALID_PARAMETER;
  std::vector<PendingNotify> pending;
  LONG rc;
  try {
    HKEY r;
    std::int64_t id;
    rc = Resolve(*store, key, "", &r, &id);
    if (rc == ERROR_SUCCESS) {
      rc = WriteValue(*store, id, r, valueName, REG_NONE, nullptr, 0, true, &pending);
    }
  } catch (const StoreError&) {
    return ERROR_GEN_FAILURE;
  }
  SendNotifications(pending);
  return rc;
}

LONG RegEnumKeyEx(HKEY key, DWORD index, std::string* name) {
  Store* store = CurrentStore();
  if (!store)
    return ERROR_INVALID_PARAMETER;
  try {
    HKEY r;
    std::int64_t id;
    LONG rc = Resolve(*store, key, "", &r, &id);
    if (rc != ERROR_SUCCESS)
      return rc;
    auto st =
        store->Prepare("SELECT name FROM reg_keys WHERE parent=? ORDER BY id LIMIT 1 OFFSET ?");
    st.Bind(1, id).Bind(2, static_cast<std::int64_t>(index));
    if (!st.Step())
      return ERROR_NO_MORE_ITEMS;
    if (name)
      *name = st.Text(0);
    return ERROR_SUCCESS;
  } catch (const StoreError&) {
    return ERROR_GEN_FAILURE;
  }
}

LONG RegEnumValue(HKEY key, DWORD index, std::string* name, DWORD* type) {
  Store* store = CurrentStore();
  if (!store)
    return ERROR_INVALID_PARAMETER;
  try {
    HKEY r;
    std::int64_t id;
    LONG rc = Resolve(*store, key, "", &r, &id);
    if (rc != ERROR_SUCCESS)
      return rc;
    auto st = store->Prepare(
        "SELECT name, type FROM reg_values WHERE key_id=? ORDER BY id LIMIT 1 OFFSET ?");
    st.Bind(1, id).Bind(2, static_cast<std::int64_t>(index));
    if (!st.Step())
      return ERROR_NO_MORE_ITEMS;
    if (name)
      *name = st.Text(0);
    if (type)
      *type = static_cast<DWORD>(st.Int(1));
    return ERROR_SUCCESS;
  } catch (const StoreError&) {
    return ERROR_GEN_FAILURE;
  }
}

LONG RegQueryValueEx(HKEY key, std::string_view valueName, DWORD* type, std::vector<BYTE>* data) {
  return GetValue(key, "", valueName, type, data);
}

LONG RegSetValueEx(HKEY key, std::string_view valueName, DWORD type, const void* data,
                   std::size_t size) {
  if (type == REG_DWORD && size < 4)
    return ERROR_INVALID_PARAMETER;
  return SetValue(key, "", valueName, type, data, size);
}

LONG RegQueryDWORD(HKEY key, std::string_view valueName, DWORD* out) {
  DWORD type;
  std::vector<BYTE> data;
  LONG rc = GetValue(key, "", valueName, &type, &data);
  if (rc != ERROR_SUCCESS)
    return rc;
  if (type != REG_DWORD || data.size() < 4)
    return ERROR_INVALID_PARAMETER;
  std::memcpy(out, data.data(), 4);
  return ERROR_SUCCESS;
}

LONG RegQueryString(HKEY key, std::string_view valueName, std::string* out) {
  DWORD type;
  std::vector<BYTE> data;
  LONG rc = GetValue(key, "", valueName, &type, &data);
  if (rc != ERROR_SUCCESS)
    return rc;
  if (type != REG_SZ)
    return ERROR_INVALID_PARAMETER;
  out->assign(data.begin(), data.end());
  return ERROR_SUCCESS;
}

LONG RegSetDWORD(HKEY key, std::string_view valueName, DWORD value) {
  return SetValue(key, "", valueName, REG_DWORD, &value, 4);
}

LONG RegSetString(HKEY key, std::string_view valueName, std::string_view value) {
  return SetValue(key, "", valueName, REG_SZ, value.data(), value.size());
}

HRESULT RegistryGetDWORD(HKEY key, std::string_view subKey, std::string_view valueName,
                         DWORD* out) {
  DWORD type;
  std::vector<BYTE> data;
  LONG rc = GetValue(key, subKey, valueName, &type, &data);
  if (rc != ERROR_SUCCESS)
    return HResultFromWin32(rc);
  if (type != REG_DWORD || data.size() < 4)
    return E_INVALIDARG;
  std::memcpy(out, data.data(), 4);
  return S_OK;
}

HRESULT RegistrySetDWORD(HKEY key, std::string_view subKey, std::string_view valueName,
                         DWORD value) {
  return HResultFromWin32(SetValue(key, subKey, valueName, REG_DWORD, &value, 4));
}

HRESULT RegistryGetString(HKEY key, std::string_view subKey, std::string_view valueName,
                          std::string* out) {
  DWORD type;
  std::vector<BYTE> data;
  LONG rc = GetValue(key, subKey, valueName, &type, &data);
  if (rc != ERROR_SUCCESS)
    return HResultFromWin32(rc);
  if (type != REG_SZ)
    return E_INVALIDARG;
  out->assign(data.begin(), data.end());
  return S_OK;
}

HRESULT RegistrySetString(HKEY key, std::string_view subKey, std::string_view valueName,
                          std::string_view value) {
  return HResultFromWin32(SetValue(key, subKey, valueName, REG_SZ, value.data(), value.size()));
}

HRESULT RegistryNotifyMsgQueue(HKEY root, std::string_view subKey, std::string_view valueName,
                               std::string_view queueName, DWORD userData,
                               const NOTIFICATIONCONDITION* condition, HREGNOTIFY* out) {
  MSGQUEUEOPTIONS options;
  options.dwFlags = MSGQUEUE_ALLOW_BROKEN;
  options.cbMaxMessage = 4096 + sizeof(RegistryNotifyMessage);
  options.bReadAccess = 0;
  HMSGQUEUE writer = CreateMsgQueue(queueName, options);
  if (!writer)
    return E_FAIL;
  auto local = std::make_shared<LocalWatch>();
  local->mode = 0;
  local->queue = writer;
  local->userData = userData;
  HRESULT hr = AddWatch(root, subKey, valueName, local, condition, out);
  if (hr != S_OK)
    CloseMsgQueue(writer);
  return hr;
}

HRESULT RegistryNotifyCallback(HKEY root, std::string_view subKey, std::string_view valueName,
                               REGISTRYNOTIFYCALLBACK callback, DWORD userData,
                               const NOTIFICATIONCONDITION* condition, HREGNOTIFY* out) {
  if (!callback)
    return E_INVALIDARG;
  auto local = std::make_shared<LocalWatch>();
  local->mode = 1;
  local->callback = std::move(callback);
  local->userData = userData;
  return AddWatch(root, subKey, valueName, local, condition, out);
}

HRESULT RegistryCloseNotification(HREGNOTIFY handle) {
  std::shared_ptr<LocalWatch> local;
  {
    std::lock_guard lock(g_watchMutex);
    auto it = g_watches.find(handle);
    if (it == g_watches.end())
      return E_INVALIDARG;
    local = it->second;
    g_watches.erase(it);
  }
  if (local->queue)
    CloseMsgQueue(local->queue);
  if (Store* store = CurrentStore()) {
    try {
      store->Prepare("DELETE FROM reg_watches WHERE id=?")
          .Bind(1, static_cast<std::int64_t>(handle))
          .Run();
    } catch (const StoreError&) {
    }
  }
  return S_OK;
}

void InstallRegistryHandlers(Device& device) {
  device.endpoint().SetHandler(PacketKind::kRegistryChange, Deliver);
}

void ResetLocalWatches() {
  std::map<HREGNOTIFY, std::shared_ptr<LocalWatch>> old;
  {
    std::lock_guard lock(g_watchMutex);
    old.swap(g_watches);
  }
  for (auto& [h, w] : old) {
    if (w->queue)
      CloseMsgQueue(w->queue);
  }
  std::lock_guard lock(g_keysMutex);
  g_keys.clear();
}

}  // namespace platform
