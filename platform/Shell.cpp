#include "platform/Shell.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/Device.h"
#include "platform/Json.h"
#include "platform/Registry.h"
#include "platform/Text.h"

namespace platform {

namespace {

constexpr const char* kThemeFolder = "\\Windows";
constexpr const char* kThemeExtension = ".tsk";

}  // namespace

BOOL ShellExecuteEx(SHELLEXECUTEINFO* info) {
  Device* dev = Device::Current();
  if (!info || !dev)
    return 0;
  std::error_code ec;
  bool found =
      !info->lpFile.empty() && std::filesystem::is_regular_file(dev->HostPath(info->lpFile), ec);
  std::int64_t id = dev->AddActivity(
      "open_file", JsonText({{"file", info->lpFile}, {"verb", info->lpVerb}, {"found", found}}));
  if (!found)
    return 0;
  dev->SetState(kLastOpenedFileState, info->lpFile);
  info->hProcess = (info->fMask & SEE_MASK_NOCLOSEPROCESS) ? static_cast<std::uint64_t>(id) : 0;
  return 1;
}

BOOL PlaySoundFile(const std::string& path) {
  Device* dev = Device::Current();
  if (!dev)
    return 0;
  std::error_code ec;
  bool found = !path.empty() && std::filesystem::is_regular_file(dev->HostPath(path), ec);
  dev->AddActivity("play_sound", JsonText({{"file", path}, {"found", found}}));
  return found ? 1 : 0;
}

HRESULT SetRingToneLine1(const std::string& path) {
  if (path.empty() || Utf8Length(path) > kRingToneChars)
    return E_INVALIDARG;
  Device* dev = Device::Current();
  if (!dev)
    return E_FAIL;
  HKEY key = 0;
  if (RegCreateKeyEx(HKEY_CURRENT_USER, kRingToneKey, &key) != ERROR_SUCCESS)
    return E_FAIL;
  LONG rc = RegSetString(key, kRingToneSoundValue, path);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS)
    return E_FAIL;
  dev->SetState(kRingToneState, path);
  dev->AddActivity("ring_tone", JsonText({{"line", 1}, {"file", path}}));
  return S_OK;
}

std::vector<std::string> ListTodayThemes() {
  std::vector<std::string> names;
  Device* dev = Device::Current();
  if (!dev)
    return names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dev->HostPath(kThemeFolder), ec)) {
    if (entry.is_regular_file(ec) && entry.path().extension() == kThemeExtension)
      names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool SelectTodayTheme(const std::string& name) {
  Device* dev = Device::Current();
  if (!dev)
    return false;
  std::vector<std::string> themes = ListTodayThemes();
  bool found = std::find(themes.begin(), themes.end(), name) != themes.end();
  dev->AddActivity("theme", JsonText({{"name", name}, {"found", found}}));
  if (!found)
    return false;
  std::string file = std::string(kThemeFolder) + "\\" + name + kThemeExtension;
  HKEY key = 0;
  if (RegCreateKeyEx(HKEY_CURRENT_USER, kTodayKey, &key) == ERROR_SUCCESS) {
    RegSetString(key, kTodaySkinValue, file);
    RegCloseKey(key);
  }
  dev->SetState(kTodayThemeState, name);
  return true;
}

}  // namespace platform
