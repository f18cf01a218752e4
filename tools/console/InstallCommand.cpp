// install: puts Telvane on the phone: the program folder with the themes and translations, and
// the program's settings key with its default settings. Settings already present are kept, so
// installing again only adds what a newer version needs.
#include <filesystem>
#include <iostream>
#include <optional>
#include <variant>

#include "console/Console.h"
#include "platform/Backend.h"
#include "platform/Device.h"
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
constexpr const char* kTodayItemFile = "libTodayTelvane.so";
constexpr DWORD kTodayItemTypeCustom = 4;

int InstallTodayItem(const fs::path& program) {
#ifdef TELVANE_TODAY_ITEM_LIB
  fs::path built = TELVANE_TODAY_ITEM_LIB;
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
#endif
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
  fs::path assets = TELVANE_ASSET_DIR;
  int copied = 0;
  for (const char* folder : kAssetFolders) {
    fs::path from = assets / folder;
    if (!fs::is_directory(from))
      continue;
    fs::copy(from, program / folder,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    ++copied;
  }
  // The images drawn by the build join the skins of the same themes (and the program folder's
  // background lands beside the executable).
  fs::path built = TELVANE_BUILT_ASSET_DIR;
  if (fs::is_directory(built)) {
    fs::copy(built, program, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }

  // The help files (one per language, "en.txt") sit in the program folder itself.
  if (fs::is_directory(assets / "help")) {
    for (const auto& file : fs::directory_iterator(assets / "help"))
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
  if (kind)
    std::cout << "backend: " << backend::Name(*kind) << "\n";
  return InstallTodayItem(program);
}

ConsoleCommand install("install", "install [--backend simulated|linux]",
                       "Creates the program folder with its assets and the default settings; "
                       "--backend chooses the phone the device runs on (simulated by default, or "
                       "the machine's own services).",
                       Run);

}  // namespace
}  // namespace console
