#include "platform/Screen.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Device.h"
#include "platform/HardwareEvents.h"
#include "platform/Window.h"

namespace platform {
namespace {

constexpr const char* kWidthState = "screen_width";
constexpr const char* kHeightState = "screen_height";
constexpr const char* kRequestEvent = "screenshot";
constexpr const char* kDoneEvent = "screenshot_done";
constexpr int kMinSide = 100;
constexpr int kMaxSide = 4000;

// Splits "a\tb\tc" into at most `parts` fields; the last keeps any further tabs.
std::vector<std::string> Fields(const std::string& payload, std::size_t parts) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (out.size() + 1 < parts) {
    std::size_t tab = payload.find('\t', start);
    if (tab == std::string::npos)
      break;
    out.push_back(payload.substr(start, tab - start));
    start = tab + 1;
  }
  out.push_back(payload.substr(start));
  return out;
}

std::uint64_t NewRequestId() {
  static std::atomic<std::uint32_t> counter{0};
  return (static_cast<std::uint64_t>(getpid()) << 32) | ++counter;
}

}  // namespace

ScreenSize GetScreenSize() {
  ScreenSize size;
  if (Device* dev = Device::Current()) {
    size.width = static_cast<int>(dev->GetStateInt(kWidthState, kDefaultScreenWidth));
    size.height = static_cast<int>(dev->GetStateInt(kHeightState, kDefaultScreenHeight));
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
  if (!Device::Current() || !FindWindow(className)) {
    *error = "no window of class " + std::string(className);
    return false;
  }
  // Shared with the subscription, which may still run after this function returned.
  struct Answer {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    std::string error;
  };
  auto answer = std::make_shared<Answer>();
  const std::uint64_t id = NewRequestId();
  int subscription =
      SubscribeHardwareEvent(kDoneEvent, [answer, id](const std::string&, const std::string& p) {
        auto fields = Fields(p, 2);
        if (fields.size() != 2 || fields[0] != std::to_string(id))
          return;
        std::lock_guard lock(answer->mutex);
        answer->done = true;
        answer->error = fields[1];
        answer->cv.notify_all();
      });
  BroadcastHardwareEvent(kRequestEvent,
                         std::to_string(id) + "\t" + std::string(className) + "\t" + hostFile);
  bool answered;
  {
    std::unique_lock lock(answer->mutex);
    answered = answer->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return answer->done; });
    *error = answered ? answer->error : "no answer from the window's program";
  }
  UnsubscribeHardwareEvent(subscription);
  return answered && error->empty();
}

int ServeScreenshots(const std::string& className,
                     std::function<void(std::uint64_t id, const std::string& hostFile)> onRequest) {
  return SubscribeHardwareEvent(
      kRequestEvent, [className, onRequest](const std::string&, const std::string& payload) {
        auto fields = Fields(payload, 3);
        if (fields.size() != 3 || fields[1] != className || fields[2].empty())
          return;
        std::uint64_t id = 0;
        try {
          id = std::stoull(fields[0]);
        } catch (const std::exception&) {
          return;
        }
        onRequest(id, fields[2]);
      });
}

void CompleteScreenshot(std::uint64_t id, const std::string& error) {
  BroadcastHardwareEvent(kDoneEvent, std::to_string(id) + "\t" + error);
}

}  // namespace platform
