#include "platform/BaseRegistry.h"

#include <cstdint>
#include <string>
#include <variant>

#include "platform/Registry.h"
#include "platform/Store.h"
#include "platform/Text.h"

namespace platform {

namespace {

struct BaseValue {
  HKEY root;
  const char* key;
  const char* name;
  std::variant<DWORD, const char*> value;
};

// What a phone of this kind publishes and keeps before any program is installed.
const BaseValue kBaseValues[] = {
    // State values the system publishes. Phone "Status" bit 0x10 = radio off.
    {HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", DWORD{0}},
    {HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Active Call Count", DWORD{0}},
    {HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Signal Strength", DWORD{70}},
    {HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Current Operator Name", "Simulated Network"},
    // Battery "Main": high word = charge in percent, low word = flags (1 = on mains power).
    {HKEY_LOCAL_MACHINE, "System\\State\\Battery", "Main", DWORD{(80u << 16) | 0u}},
    {HKEY_LOCAL_MACHINE, "System\\State\\Hardware", "Wifi", DWORD{6}},
    {HKEY_LOCAL_MACHINE, "System\\State\\Hardware", "Bluetooth", DWORD{0}},
    {HKEY_LOCAL_MACHINE, "System\\State\\Connections", "Count", DWORD{0}},
    // Band selection read by the radio when it restarts: 0 automatic, 1 2G, 2 3G.
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\OEM\\UMTS", "OpMode", DWORD{0}},
    // Power state of each power-managed device, named by its device class and instance (0 = on).
    {HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Power\\State",
     "{98C5250D-C29A-4985-AE5F-AFE5367E5006}\\WLAN1", DWORD{0}},
    // Control panel: sounds, ring and backlight.
    {HKEY_CURRENT_USER, "ControlPanel\\Sounds\\RingTone0", "Sound", "\\Windows\\Ring.wav"},
    {HKEY_CURRENT_USER, "ControlPanel\\Sounds\\RingTone0", "Script", "p"},
    {HKEY_CURRENT_USER, "ControlPanel\\SoundCategories\\Ring", "InitVol", DWORD{3}},
    {HKEY_CURRENT_USER, "ControlPanel\\Volume", "Volume", DWORD{0x99999999u}},
    {HKEY_CURRENT_USER, "ControlPanel\\Volume", "Mute", DWORD{7}},
    {HKEY_CURRENT_USER, "ControlPanel\\Notifications\\ShellOverrides", "Mode", DWORD{0}},
    {HKEY_CURRENT_USER, "ControlPanel\\Backlight", "BatteryTimeout", DWORD{30}},
    {HKEY_CURRENT_USER, "ControlPanel\\Backlight", "ACTimeout", DWORD{60}},
    {HKEY_CURRENT_USER, "ControlPanel\\Backlight", "Brightness", DWORD{3}},
    {HKEY_CURRENT_USER, "ControlPanel\\Backlight", "ACBrightness", DWORD{10}},
    {HKEY_CURRENT_USER, "ControlPanel\\Backlight", "UseBattery", DWORD{1}},
    {HKEY_CURRENT_USER, "ControlPanel\\Backlight", "UseExt", DWORD{1}},
    // Today screen.
    {HKEY_CURRENT_USER, "Software\\Microsoft\\Today", "Skin", "\\Windows\\default.tsk"},
    // Connection manager providers (entries are added by the dial-up service).
    {HKEY_LOCAL_MACHINE, "Comm\\ConnMgr\\Providers", "", ""},
};

std::int64_t EnsureKey(Store& store, HKEY root, const std::string& keyPath) {
  std::int64_t id = 0;
  std::string path;
  // The root key itself.
  {
    auto st = store.Prepare("SELECT id FROM reg_keys WHERE root=? AND path=''");
    st.Bind(1, static_cast<std::int64_t>(root));
    if (st.Step())
      id = st.Int(0);
  }
  if (!id) {
    store.Prepare("INSERT INTO reg_keys(root,parent,name,path) VALUES(?,0,'','')")
        .Bind(1, static_cast<std::int64_t>(root))
        .Run();
    id = store.LastInsertId();
  }
  std::string part;
  auto step = [&](const std::string& name) {
    path = path.empty() ? ToLowerAscii(name) : path + "\\" + ToLowerAscii(name);
    auto st = store.Prepare("SELECT id FROM reg_keys WHERE root=? AND path=?");
    st.Bind(1, static_cast<std::int64_t>(root)).Bind(2, path);
    if (st.Step()) {
      id = st.Int(0);
      return;
    }
    store.Prepare("INSERT INTO reg_keys(root,parent,name,path) VALUES(?,?,?,?)")
        .Bind(1, static_cast<std::int64_t>(root))
        .Bind(2, id)
        .Bind(3, name)
        .Bind(4, path)
        .Run();
    id = store.LastInsertId();
  };
  for (char c : keyPath) {
    if (c == '\\') {
      if (!part.empty())
        step(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty())
    step(part);
  return id;
}

}  // namespace

void WriteBaseRegistry(Store& store) {
  EnsureKey(store, HKEY_LOCAL_MACHINE, "");
  EnsureKey(store, HKEY_CURRENT_USER, "");
  for (const auto& v : kBaseValues) {
    std::int64_t key = EnsureKey(store, v.root, v.key);
    if (std::string(v.name).empty())
      continue;  // the entry only creates the key
    auto st =
        store.Prepare("INSERT OR REPLACE INTO reg_values(key_id,name,type,data) VALUES(?,?,?,?)");
    st.Bind(1, key).Bind(2, v.name);
    if (std::holds_alternative<DWORD>(v.value)) {
      st.Bind(3, static_cast<std::int64_t>(REG_DWORD))
          .Bind(4, static_cast<std::int64_t>(std::get<DWORD>(v.value)));
    } else {
      st.Bind(3, static_cast<std::int64_t>(REG_SZ)).Bind(4, std::get<const char*>(v.value));
    }
    st.Run();
  }
}

}  // namespace platform
