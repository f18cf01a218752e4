// The library's entry points: the home screen's item entry point, and the lines it writes to the
// phone's log when the home screen loads and unloads it.
#include <dlfcn.h>

#include <string>

#include "platform/Mosutil.h"
#include "platform/qt/TodayItem.h"
#include "today/ItemWindow.h"

namespace {

constexpr int kLogInfo = 3;

// The library's own path, read when it is loaded. A function's static, so that it exists before
// the load handler runs, whatever the order of the library's initialisers.
std::string& LoadedPath() {
  static std::string path;
  return path;
}

std::string ModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModulePath), &info) == 0 || !info.dli_fname)
    return std::string();
  return info.dli_fname;
}

__attribute__((constructor)) void OnLoad() {
  LoadedPath() = ModulePath();
  platform::LogFormateado(kLogInfo, "DLL_PROCESS_ATTACH %s", LoadedPath().c_str());
}

__attribute__((destructor)) void OnUnload() {
  platform::LogFormateado(kLogInfo, "DLL_PROCESS_DETACH %s", LoadedPath().c_str());
}

}  // namespace

extern "C" __attribute__((visibility("default"))) QWidget* InitializeCustomItem(
    platform::qt::TODAYLISTITEM* item, QWidget* parent) {
  auto* window = new today::CItemWindow(item, parent, LoadedPath());
  if (item)
    item->hwndCustom = window;
  return window;
}
