#include "platform/Screen.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Device.h"
#include "platform/HardwareEvents.h"
#include "platform/Json.h"
#include "platform/Requests.h"
#include "platform/Window.h"

namespace platform {
namespace {

constexpr const char* kWidthState = "screen_width";
constexpr const char* kHeightState = "screen_height";
constexpr const char* kRequestEvent = "screenshot";
constexpr const char* kWindowPictureEvent = "window_picture";
constexpr const char* kComposeEvent = "screen_compose";
constexpr int kMinSide = 100;
constexpr int kMaxSide = 4000;

// Numbers the folders of window pictures, unique within this process.
std::uint32_t NextFolderNumber() {
  static std::atomic<std::uint32_t> counter{0};
  return ++counter;
}

}  // namespace

ScreenSize GetScreenSize() {
  ScreenSize size;
  // One transaction, so that a rotation is never read half done (320 wide and 320 high).
  if (Device* dev = Device::Current()) {
    dev->store().Transaction([&] {
      size.width = static_cast<int>(dev->GetStateInt(kWidthState, kDefaultScreenWidth));
      size.height = static_cast<int>(dev->GetStateInt(kHeightState, kDefaultScreenHeight));
    });
  }
  return size;
}

bool SetScreenSize(const ScreenSize& size) {
  Device* dev = Device::Current();
  if (!dev || size.width < kMinSide || size.width > kMaxSide || size.height < kMinSide ||
      size.height > kMaxSide) {
    return false;
  }
  dev->store().Transaction([&] {
    dev->SetStateInt(kWidthState, size.width);
    dev->SetStateInt(kHeightState, size.height);
  });
  BroadcastHardwareEvent(kScreenEvent,
                         std::to_string(size.width) + "x" + std::to_string(size.height));
  return true;
}

bool RotateScreen() {
  ScreenSize size = GetScreenSize();
  return SetScreenSize({size.height, size.width});
}

bool RequestScreenshot(std::string_view className, const std::string& hostFile, DWORD timeoutMs,
                       std::string* error) {
  HWND window = Device::Current() ? FindWindow(className) : 0;
  int owner = window ? WindowProcess(window) : 0;
  if (!owner) {
    *error = "no window of class " + std::string(className);
    return false;
  }
  return AskProcess(owner, kRequestEvent, std::string(className) + "\t" + hostFile, timeoutMs,
                    error, "the window's program");
}

int ServeScreenshots(const std::string& className,
                     std::function<void(std::uint64_t id, const std::string& hostFile)> onRequest) {
  return ServeRequests(kRequestEvent, [className, onRequest = std::move(onRequest)](
                                          std::uint64_t id, const std::string& payload) {
    // "CLASS\tFILE": the file is all after the first tab, tabs included.
    std::size_t tab = payload.find('\t');
    if (tab == std::string::npos || payload.compare(0, tab, className) != 0 ||
        tab + 1 == payload.size()) {
      return;
    }
    onRequest(id, payload.substr(tab + 1));
  });
}

void CompleteScreenshot(std::uint64_t id, const std::string& error) {
  AnswerRequest(kRequestEvent, id, error);
}

}  // namespace platform

namespace platform {

bool RequestScreenPicture(const std::string& hostFile, DWORD timeoutMs, std::string* error) {
  namespace fs = std::filesystem;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto remaining = [&] {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<DWORD>(std::max<std::int64_t>(left.count(), 1));
  };
  std::vector<WindowInfo> shown;
  int composer = 0;
  for (const WindowInfo& w : ListWindows()) {
    if (w.state.visible && w.state.width > 0 && w.state.height > 0)
      shown.push_back(w);
    // Any process that has recorded a window's state has a user interface that can compose.
    if (!composer && (w.state.visible || w.state.width > 0))
      composer = w.pid;
  }
  if (!shown.empty())
    composer = shown.front().pid;
  if (!composer) {
    *error = "no program with a window runs on the device";
    return false;
  }
  std::error_code ec;
  fs::path folder = fs::temp_directory_path(ec) / ("telvane-screen-" + std::to_string(getpid()) +
                                                   "-" + std::to_string(NextFolderNumber()));
  if (ec || !fs::create_directories(folder, ec)) {
    *error = "cannot create a folder for the window pictures";
    return false;
  }
  ScreenComposition composition;
  composition.size = GetScreenSize();
  composition.file = hostFile;
  // Bottom first. A window that went away or was hidden since the list was read is left out.
  for (auto it = shown.rbegin(); it != shown.rend(); ++it) {
    std::string file = (folder / ("window-" + std::to_string(it->hwnd) + ".png")).string();
    Json request = {{"hwnd", it->hwnd}, {"file", file}};
    std::string ignored;
    if (AskProcess(it->pid, kWindowPictureEvent, JsonText(request), remaining(), &ignored))
      composition.layers.push_back({file, it->state.x, it->state.y});
  }
  Json layers = Json::array();
  for (const ScreenLayer& layer : composition.layers)
    layers.push_back({{"file", layer.file}, {"x", layer.x}, {"y", layer.y}});
  Json request = {{"width", composition.size.width},
                  {"height", composition.size.height},
                  {"file", hostFile},
                  {"layers", std::move(layers)}};
  bool composed = AskProcess(composer, kComposeEvent, JsonText(request), remaining(), error);
  fs::remove_all(folder, ec);
  return composed;
}

int ServeWindowPictures(
    std::function<void(std::uint64_t id, HWND hwnd, const std::string& hostFile)> onRequest) {
  return ServeRequests(kWindowPictureEvent, [onRequest = std::move(onRequest)](
                                                std::uint64_t id, const std::string& payload) {
    auto json = ParseJson(payload);
    if (!json || !json->is_object() || !json->contains("hwnd") || !json->contains("file") ||
        !(*json)["hwnd"].is_number_unsigned() || !(*json)["file"].is_string()) {
      CompleteWindowPicture(id, "malformed picture request");
      return;
    }
    onRequest(id, (*json)["hwnd"].get<HWND>(), (*json)["file"].get<std::string>());
  });
}

void CompleteWindowPicture(std::uint64_t id, const std::string& error) {
  AnswerRequest(kWindowPictureEvent, id, error);
}

int ServeScreenComposition(
    std::function<void(std::uint64_t id, const ScreenComposition& composition)> onRequest) {
  return ServeRequests(kComposeEvent, [onRequest = std::move(onRequest)](
                                          std::uint64_t id, const std::string& payload) {
    ScreenComposition composition;
    bool ok = false;
    if (auto json = ParseJson(payload); json && json->is_object()) {
      try {
        composition.size.width = json->at("width").get<int>();
        composition.size.height = json->at("height").get<int>();
        composition.file = json->at("file").get<std::string>();
        for (const auto& layer : json->at("layers")) {
          composition.layers.push_back({layer.at("file").get<std::string>(),
                                        layer.at("x").get<int>(), layer.at("y").get<int>()});
        }
        ok = composition.size.width >= kMinSide && composition.size.width <= kMaxSide &&
             composition.size.height >= kMinSide && composition.size.height <= kMaxSide &&
             !composition.file.empty();
      } catch (const std::exception&) {
        ok = false;
      }
    }
    if (!ok) {
      CompleteScreenComposition(id, "malformed composition request");
      return;
    }
    onRequest(id, composition);
  });
}

void CompleteScreenComposition(std::uint64_t id, const std::string& error) {
  AnswerRequest(kComposeEvent, id, error);
}

}  // namespace platform
