// install: puts Telvane on the phone: the program folder with the themes and translations, and
// the program's settings key with its default settings. Settings already present are kept, so
// installing again only adds what a newer version needs.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <variant>

#include "InstalledAssets.h"
#include "console/Console.h"
#include "platform/Backend.h"
#include "platform/Device.h"
#include "platform/Process.h"
#include "platform/Registry.h"

namespace console {
namespace {

using namespace platform;
namespace fs = std::filesystem;

constexpr const char* kSettingsKey = "\\SOFTWARE\\Orvella\\Telvane";

struct Setting {
  const char* name;
  std::variant<DWORD, std::string> value;
};

// Every manager may switch ("2" at each manager id, up to the highest id, 52).
const std::string kAllManagersSwitchable(53, '2');

const Setting kDefaults[] = {
    {"mgr_config", kAllManagersSwitchable},
    {"language", std::string("en")},
    {"theme", std::string("default")},
    {"debug_info", DWORD{0}},
    {"events_log_write_to_file", DWORD{1}},
    {"events_log_path", std::string("\\Program Files\\Telvane\\log.txt")},
    {"events_log_items_screen", DWORD{100}},
    {"events_log_file_max_size", DWORD{256}},
    {"location_mode", DWORD{0}},
    {"refresh_location", DWORD{0}},
    {"awake_to_refresh_location", DWORD{0}},
    {"cell_history_list_number", DWORD{20}},
    {"intelligent_lac_mode", DWORD{1}},
    {"profile_change_mode", DWORD{0}},
    {"awake_to_execute_actions", DWORD{1}},
    {"today_print_place", DWORD{1}},
    {"tray_icon", DWORD{0}},
    {"allow_windows_close_tlv", DWORD{0}},
    {"intelligent_bt", DWORD{0}},
    {"activate_idle", DWORD{0}},
    {"seconds_idle", DWORD{600}},
    {"connection_prefered", std::string("")},
    {"backlight_mode", DWORD{0}},
    {"mail_provider", DWORD{0}},
    {"trace_days", DWORD{7}},
    // Seconds a departure from the current place is held against a cell that flaps (0: off).
    {"location_grace_seconds", DWORD{0}},
};

// Asset folders copied from the source tree into the program folder.
const char* kAssetFolders[] = {"themes", "traductions"};

// Telvane's home-screen item: the library goes into the program folder (its images are the
// themes' td_*.png beside it) and is registered with the phone's home screen, which loads it.
constexpr const char* kTodayItemKey = "Software\\Microsoft\\Today\\Items\\Telvane";
constexpr const char* kTodayItemFile = assets::kTodayItemFile;
constexpr DWORD kTodayItemTypeCustom = 4;

// The files this console ships with: beside the installed executable, else in the build tree.
assets::Locations AssetLocations() {
  assets::Locations buildTree;
  buildTree.sources = TELVANE_ASSET_DIR;
  buildTree.images = TELVANE_BUILT_ASSET_DIR;
  buildTree.units = fs::path(TELVANE_ASSET_DIR) / "dist" / "systemd";
#ifdef TELVANE_TODAY_ITEM_LIB
  buildTree.todayItem = TELVANE_TODAY_ITEM_LIB;
#endif
  return assets::Find(CurrentExecutablePath(), buildTree);
}

int InstallTodayItem(const fs::path& program, const fs::path& built) {
#ifdef TELVANE_TODAY_ITEM_LIB
  std::error_code ec;
  if (!fs::is_regular_file(built, ec))
    return 0;
  if (!fs::copy_file(built, program / kTodayItemFile, fs::copy_options::overwrite_existing, ec))
    return Fail("cannot copy the home-screen item: " + ec.message());
  HKEY key;
  if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, kTodayItemKey, &key) != ERROR_SUCCESS)
    return Fail("cannot register the home-screen item under HKLM\\" + std::string(kTodayItemKey));
  RegSetString(key, "DLL", "\\Program Files\\Telvane\\" + std::string(kTodayItemFile));
  RegSetDWORD(key, "Type", kTodayItemTypeCustom);
  RegSetDWORD(key, "Enabled", 1);
  RegSetDWORD(key, "Order", 0);
  RegCloseKey(key);
  std::cout << "home-screen item registered\n";
#else
  (void)program;
  (void)built;
#endif
  return 0;
}

// A value for a unit file's quoted word: systemd expands % and takes \ and " as escapes.
std::string UnitQuoted(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '%')
      out += "%%";
    else if (c == '\\' || c == '"')
      out += std::string("\\") + c;
    else
      out += c;
  }
  return out;
}

std::string Substitute(std::string text, const std::string& name, const std::string& value) {
  const std::string token = "@" + name + "@";
  for (size_t at = text.find(token); at != std::string::npos;
       at = text.find(token, at + value.size()))
    text.replace(at, token.size(), value);
  return text;
}

constexpr const char* kUserUnits[] = {"telvane-runner.service", "telvane.service"};

// The line of a unit that ties it to one device folder.
std::string DeviceEnvironment(const fs::path& device) {
  return "Environment=\"TELVANE_DEVICE=" + UnitQuoted(device.string()) + "\"";
}

// The user's systemd folder, or empty when neither XDG_CONFIG_HOME nor HOME is set.
fs::path UserUnitFolder() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
    return fs::path(xdg) / "systemd" / "user";
  if (const char* home = std::getenv("HOME"); home && *home)
    return fs::path(home) / ".config" / "systemd" / "user";
  return {};
}

// Back on the simulated phone, the user services written for this device folder would start the
// program on the real phone's services at the next login: they go. Units of other device folders
// stay. Returns the console's exit status.
int RemoveUserUnits(const fs::path& device) {
  fs::path target = UserUnitFolder();
  if (target.empty())
    return 0;
  const std::string mine = DeviceEnvironment(device) + "\n";
  int removed = 0;
  for (const char* unit : kUserUnits) {
    bool found = false;
    std::string text = ReadHostFile(target / unit, &found);
    if (!found || text.find(mine) == std::string::npos)
      continue;
    std::error_code ec;
    if (!fs::remove(target / unit, ec))
      return Fail("cannot remove " + (target / unit).string() + ": " + ec.message());
    std::cout << "user service removed " << (target / unit).string() << "\n";
    ++removed;
  }
  if (removed > 0)
    std::cout << "stop them with: systemctl --user disable --now telvane-runner.service "
                 "telvane.service; systemctl --user daemon-reload\n";
  return 0;
}

// The user services of a phone on the Linux backend: the notification runner (`serve`) and the
// program, written into the user's systemd folder for this device folder and these executables.
// Returns the console's exit status.
int InstallUserUnits(const fs::path& templates, const fs::path& device) {
  fs::path target = UserUnitFolder();
  if (target.empty())
    return Fail("cannot write the user services: neither XDG_CONFIG_HOME nor HOME is set");
  fs::path self = CurrentExecutablePath();
  // The program sits beside the installed console, or in the build tree's ui folder.
  fs::path program = self.parent_path() / "telvane";
  std::error_code ec;
  if (!fs::exists(program, ec))
    program = self.parent_path().parent_path() / "ui" / "telvane";
  fs::create_directories(target, ec);
  if (ec)
    return Fail("cannot create " + target.string() + ": " + ec.message());
  for (const char* unit : kUserUnits) {
    bool found = false;
    std::string body = ReadHostFile(templates / (std::string(unit) + ".in"), &found);
    if (!found)
      return Fail("missing user-service template " + (templates / unit).string() + ".in");
    body = Substitute(body, "TELVANE_UNIT_ENVIRONMENT", DeviceEnvironment(device));
    body = Substitute(body, "TELVANE_DEVICE_BIN", UnitQuoted(self.string()));
    body = Substitute(body, "TELVANE_BIN", UnitQuoted(program.string()));
    std::ofstream out(target / unit, std::ios::trunc);
    if (!(out << body) || !out.flush())
      return Fail("cannot write " + (target / unit).string());
    std::cout << "user service " << (target / unit).string() << "\n";
  }
  std::cout << "enable them with: systemctl --user daemon-reload && systemctl --user enable "
               "--now telvane-runner.service telvane.service\n";
  return 0;
}

int Run(const Args& args) {
  Args rest = args;
  bool missing = false;
  std::optional<std::string> backendName = TakeOption(rest, "--backend", &missing);
  if (!rest.empty() || missing)
    return Usage("install");
  // The phone the device runs on: chosen before anything is installed, so a refused choice
  // changes nothing.
  std::optional<backend::Kind> kind;
  if (backendName) {
    kind = backend::Parse(*backendName);
    if (!kind)
      return Fail("unknown backend \"" + *backendName + "\" (simulated or linux)");
    if (*kind == backend::Kind::kLinux && !backend::LinuxBuiltIn())
      return Fail("this build has no Linux backend (it needs sdbus-c++)");
  }
  Device& dev = *Device::Current();
  fs::path program = dev.ProgramFolder();
  fs::create_directories(program);
  const assets::Locations shipped = AssetLocations();
  const fs::path& sources = shipped.sources;
  int copied = 0;
  for (const char* folder : kAssetFolders) {
    fs::path from = sources / folder;
    if (!fs::is_directory(from))
      continue;
    fs::copy(from, program / folder,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    ++copied;
  }
  // The images drawn by the build join the skins of the same themes (and the program folder's
  // background lands beside the executable).
  const fs::path& built = shipped.images;
  if (fs::is_directory(built)) {
    fs::copy(built, program, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }

  // The help files (one per language, "en.txt") sit in the program folder itself.
  if (fs::is_directory(sources / "help")) {
    for (const auto& file : fs::directory_iterator(sources / "help"))
      fs::copy_file(file.path(), program / file.path().filename(),
                    fs::copy_options::overwrite_existing);
  }

  HKEY key;
  bool created = false;
  if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, kSettingsKey, &key, &created) != ERROR_SUCCESS) {
    return Fail("cannot create the settings key HKLM" + std::string(kSettingsKey));
  }
  int added = 0;
  for (const auto& s : kDefaults) {
    DWORD type;
    if (RegQueryValueEx(key, s.name, &type, nullptr) == ERROR_SUCCESS)
      continue;
    if (std::holds_alternative<DWORD>(s.value)) {
      RegSetDWORD(key, s.name, std::get<DWORD>(s.value));
    } else {
      RegSetString(key, s.name, std::get<std::string>(s.value));
    }
    ++added;
  }
  RegCloseKey(key);
  if (kind)
    backend::Select(*kind);
  std::cout << "installed in " << program.string() << " (" << copied << " asset folders, " << added
            << " new settings)\n";
  std::cout << "assets from " << sources.string() << "\n";
  if (kind)
    std::cout << "backend: " << backend::Name(*kind) << "\n";
  // Only a real phone runs the runner and the program as the user's services; the simulated
  // phone's are started by hand or by the program.
  if (kind == backend::Kind::kLinux) {
    if (int rc = InstallUserUnits(shipped.units, fs::absolute(dev.Folder())); rc != 0)
      return rc;
  } else if (kind == backend::Kind::kSimulated) {
    if (int rc = RemoveUserUnits(fs::absolute(dev.Folder())); rc != 0)
      return rc;
  }
  return InstallTodayItem(program, shipped.todayItem);
}

ConsoleCommand install("install", "install [--backend simulated|linux]",
                       "Creates the program folder with its assets and the default settings; "
                       "--backend chooses the phone the device runs on (simulated by default, or "
                       "the machine's own services).",
                       Run);

}  // namespace
}  // namespace console
