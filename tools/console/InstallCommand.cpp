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
};

// Asset folders copied from the source tree into the program folder.
const char* kAssetFolders[] = {"themes", "traductions"};

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
  return 0;
}

ConsoleCommand install("install", "install [--backend simulated|linux]",
                       "Creates the program folder with its assets and the default settings; "
                       "--backend chooses the phone the device runs on (simulated by default, or "
                       "the machine's own services).",
                       Run);

}  // namespace
}  // namespace console
