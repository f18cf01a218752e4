#include "home/HomeTheme.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Device.h"
#include "platform/Registry.h"
#include "platform/Shell.h"

namespace home {
namespace {

namespace fs = std::filesystem;
using namespace platform;

constexpr std::size_t kMaxThemeBytes = 64 * 1024;

struct StockTheme {
  const char* name;
  const char* text;
};

// The phone's own themes. "default" is the look of a new phone.
const StockTheme kStockThemes[] = {
    {"default",
     "# The phone's default home screen\n"
     "background_top=#e9f1fa\nbackground_bottom=#b0c9e6\n"
     "title_background=#1a3e72\ntitle_text=#ffffff\ntext=#102038\n"},
    {"dark",
     "# A dark home screen\n"
     "background_top=#2a2f3a\nbackground_bottom=#0c0e12\n"
     "title_background=#000000\ntitle_text=#e8e8e8\ntext=#f0f0f0\n"},
    {"ocean",
     "# Blue water\n"
     "background_top=#1d6fa5\nbackground_bottom=#06304f\n"
     "title_background=#06304f\ntitle_text=#ffffff\ntext=#ffffff\n"},
};

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos)
    return std::string();
  std::size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

void SetColour(const std::string& value, QColor* out) {
  QColor c = QColor::fromString(QString::fromStdString(value));
  if (c.isValid())
    *out = c;
}

}  // namespace

HomeTheme ParseTheme(const std::string& text) {
  HomeTheme theme;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == '#')
      continue;
    std::size_t eq = line.find('=');
    if (eq == std::string::npos)
      continue;
    std::string key = Trim(line.substr(0, eq));
    std::string value = Trim(line.substr(eq + 1));
    if (key == "background_top") {
      SetColour(value, &theme.backgroundTop);
    } else if (key == "background_bottom") {
      SetColour(value, &theme.backgroundBottom);
    } else if (key == "title_background") {
      SetColour(value, &theme.titleBackground);
    } else if (key == "title_text") {
      SetColour(value, &theme.titleText);
    } else if (key == "text") {
      SetColour(value, &theme.text);
    } else if (key == "watermark" && !value.empty()) {
      if (Device* dev = Device::Current()) {
        if (auto path = dev->ConfinedHostPath(value))
          theme.watermark = QImage(QString::fromStdString(path->string()));
      }
    }
  }
  return theme;
}

HomeTheme LoadTheme(const std::string& devicePath) {
  Device* dev = Device::Current();
  if (!dev || devicePath.empty())
    return HomeTheme();
  auto path = dev->ConfinedHostPath(devicePath);
  std::error_code ec;
  if (!path || !fs::is_regular_file(*path, ec) || fs::file_size(*path, ec) > kMaxThemeBytes)
    return HomeTheme();
  std::ifstream in(*path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return ParseTheme(text.str());
}

HomeTheme LoadCurrentTheme() {
  std::string skin;
  if (RegistryGetString(HKEY_CURRENT_USER, kTodayKey, kTodaySkinValue, &skin) != S_OK)
    return HomeTheme();
  return LoadTheme(skin);
}

void InstallStockThemes() {
  Device* dev = Device::Current();
  if (!dev)
    return;
  std::error_code ec;
  for (const StockTheme& theme : kStockThemes) {
    fs::path file = dev->HostPath(std::string("\\Windows\\") + theme.name + ".tsk");
    if (fs::exists(file, ec))
      continue;
    fs::create_directories(file.parent_path(), ec);
    std::ofstream(file, std::ios::binary) << theme.text;
  }
}

}  // namespace home
