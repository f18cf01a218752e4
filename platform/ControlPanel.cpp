#include "platform/ControlPanel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Backlight.h"
#include "platform/Device.h"
#include "platform/Registry.h"
#include "platform/Store.h"
#include "platform/Text.h"
#include "platform/Window.h"

namespace platform {

namespace {

constexpr const char* kDialogClass = "Dialog";
constexpr const char* kStaticClass = "static";
constexpr int kDefaultScreenWidth = 240;
constexpr int kDefaultScreenHeight = 320;

// The page's geometry is laid out for a 240-pixel-wide screen and doubled on VGA screens.
int ScreenScale(int width, int height) {
  return (width > 320 || height > 320) ? 2 : 1;
}

bool SameDevice(const std::filesystem::path& folder) {
  Device* dev = Device::Current();
  return dev && dev->Folder() == folder;
}

struct Control {
  std::string cls;
  std::string name;  // how click records name a slider
  RECT rect;
  HWND firstChild = 0;
  HWND next = 0;
  int pos = 0;    // sliders: the thumb's tick
  int inset = 0;  // sliders: pixels before the first and after the last tick
};

class Page;

// Receives one window's messages (the window service gives no handle) and queues them for the
// page's thread; it never blocks the poster.
class ControlSink : public IWindowSink {
 public:
  explicit ControlSink(Page* page) : page_(page) {}
  void OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  std::atomic<HWND> hwnd{0};

 private:
  Page* page_;
};

// One open control-panel page with its own thread.
class Page {
 public:
  Page(Device& dev, bool sliders) : folder_(dev.Folder()), sliders_(sliders) {}
  ~Page() { Stop(false); }

  // Registers the windows and starts the page's thread.
  void Open(Device& dev);
  // Queues a message; returns its ticket (0 when the page no longer takes messages).
  std::uint64_t Queue(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  // Waits until the message with `ticket` was handled or the page ended.
  void WaitHandled(std::uint64_t ticket);
  bool WaitClosed(DWORD timeoutMs);
  // Ends the thread after the message it is handling; `cleanup` removes the page's windows
  // when its device is still the current one.
  void Stop(bool cleanup);

  bool IsOpen() {
    std::lock_guard lock(mutex_);
    return open_;
  }
  bool BelongsTo(const std::filesystem::path& folder) const { return folder_ == folder; }
  HWND PageWindow() const { return page_; }
  // Reads a control of the tree; false when the handle is not one of this page's.
  bool Find(HWND hwnd, Control* out) {
    std::lock_guard lock(mutex_);
    if (!open_)
      return false;
    auto it = controls_.find(hwnd);
    if (it == controls_.end())
      return false;
    *out = it->second;
    return true;
  }
  bool Owns(HWND hwnd) {
    std::lock_guard lock(mutex_);
    return open_ && controls_.count(hwnd) != 0;
  }

 private:
  struct Message {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    std::uint64_t ticket;
  };

  HWND AddWindow(Device& dev, const std::string& cls, const std::string& name, RECT rect,
                 HWND parent);
  void Run();
  // Handles one message; true when the page closed.
  bool Handle(const Message& m);
  void Click(HWND hwnd, LPARAM lParam);
  void Save();
  void Finish();

  const std::filesystem::path folder_;
  const bool sliders_;
  HWND page_ = 0;
  std::vector<std::unique_ptr<ControlSink>> sinks_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<HWND, Control> controls_;
  std::deque<Message> queue_;
  std::uint64_t nextTicket_ = 1;
  std::uint64_t handled_ = 0;
  bool open_ = false;
  bool stop_ = false;
  bool cleanup_ = true;

  std::mutex threadMutex_;
  std::thread thread_;
};

void ControlSink::OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  page_->Queue(hwnd.load(), msg, wParam, lParam);
}

HWND Page::AddWindow(Device& dev, const std::string& cls, const std::string& name, RECT rect,
                     HWND parent) {
  auto sink = std::make_unique<ControlSink>(this);
  HWND hwnd = RegisterTopLevelWindow(cls, sink.get());
  if (!hwnd)
    return 0;
  sink->hwnd.store(hwnd);
  sinks_.push_back(std::move(sink));
  Control control;
  control.cls = cls;
  control.name = name;
  control.rect = rect;
  std::lock_guard lock(mutex_);
  controls_[hwnd] = control;
  if (parent) {
    // Append as the parent's last child.
    Control& p = controls_[parent];
    if (!p.firstChild) {
      p.firstChild = hwnd;
    } else {
      HWND last = p.firstChild;
      while (controls_[last].next)
        last = controls_[last].next;
      controls_[last].next = hwnd;
    }
  }
  return hwnd;
}

void Page::Open(Device& dev) {
  int width = static_cast<int>(dev.GetStateInt("screen_width", kDefaultScreenWidth));
  int height = static_cast<int>(dev.GetStateInt("screen_height", kDefaultScreenHeight));
  int s = ScreenScale(width, height);
  int border = 10 * s;
  int sliderWidth = static_cast<int>(
      dev.GetStateInt(kBacklightSliderWidthState, std::max(width - 2 * border, 2 * border + 10)));
  LONG w = width, h = height;

  page_ = AddWindow(dev, kDialogClass, "page", {0, 0, w, h}, 0);
  HWND sheet = AddWindow(dev, kDialogClass, "sheet", {0, 26 * s, w, h}, page_);
  AddWindow(dev, kStaticClass, "caption", {border, 40 * s, w - border, 56 * s}, sheet);
  if (sliders_) {
    RECT battery{border, 60 * s, border + sliderWidth, 90 * s};
    RECT ac{border, 130 * s, border + sliderWidth, 160 * s};
    BacklightLevels levels = GetBacklightLevels();
    HWND b = AddWindow(dev, kTrackbarClass, "battery", battery, sheet);
    HWND a = AddWindow(dev, kTrackbarClass, "ac", ac, sheet);
    std::lock_guard lock(mutex_);
    for (auto [hwnd, level] : {std::pair{b, levels.battery}, std::pair{a, levels.ac}}) {
      if (!hwnd)
        continue;
      controls_[hwnd].pos = static_cast<int>(std::min(level, kMaxBrightness));
      controls_[hwnd].inset = border;
    }
  }
  AddWindow(dev, kStaticClass, "hint", {border, 170 * s, w - border, 186 * s}, sheet);
  {
    std::lock_guard lock(mutex_);
    open_ = true;
  }
  std::lock_guard lock(threadMutex_);
  thread_ = std::thread([this] { Run(); });
}

std::uint64_t Page::Queue(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::lock_guard lock(mutex_);
  if (!open_ || stop_)
    return 0;
  std::uint64_t ticket = nextTicket_++;
  queue_.push_back({hwnd, msg, wParam, lParam, ticket});
  changed_.notify_all();
  return ticket;
}

void Page::WaitHandled(std::uint64_t ticket) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return handled_ >= ticket || !open_; });
}

bool Page::WaitClosed(DWORD timeoutMs) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !open_; });
}

void Page::Stop(bool cleanup) {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    cleanup_ = cleanup;
    changed_.notify_all();
  }
  std::lock_guard lock(threadMutex_);
  if (thread_.joinable())
    thread_.join();
}

void Page::Run() {
  for (;;) {
    Message m;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || !queue_.empty(); });
      if (stop_)
        break;
      m = queue_.front();
      queue_.pop_front();
    }
    bool closed = Handle(m);
    {
      std::lock_guard lock(mutex_);
      handled_ = m.ticket;
      changed_.notify_all();
    }
    if (closed)
      break;
  }
  Finish();
}

bool Page::Handle(const Message& m) {
  // A page whose device was closed under it does nothing more.
  if (!SameDevice(folder_))
    return false;
  if (m.msg == WM_LBUTTONDOWN) {
    Click(m.hwnd, m.lParam);
  } else if (m.msg == WM_CLOSE && m.hwnd == page_) {
    if (sliders_)
      Save();
    return true;
  }
  return false;
}

void Page::Click(HWND hwnd, LPARAM lParam) {
  int x = static_cast<std::int16_t>(lParam & 0xFFFF);
  int y = static_cast<std::int16_t>((lParam >> 16) & 0xFFFF);
  std::string name;
  {
    std::lock_guard lock(mutex_);
    auto it = controls_.find(hwnd);
    if (it == controls_.end() || it->second.cls != kTrackbarClass)
      return;
    Control& c = it->second;
    int track = (c.rect.right - c.rect.left) - 2 * c.inset;
    if (track > 0) {
      // Nearest tick, rounding halves up.
      int scaled = (x - c.inset) * static_cast<int>(kMaxBrightness);
      int tick = scaled >= 0 ? (2 * scaled + track) / (2 * track) : 0;
      c.pos = std::clamp(tick, 0, static_cast<int>(kMaxBrightness));
    }
    name = c.name;
  }
  if (Device* dev = Device::Current()) {
    try {
      dev->AddActivity("click", "{\"control\":\"" + name + "\",\"x\":" + std::to_string(x) +
                                    ",\"y\":" + std::to_string(y) + "}");
    } catch (const StoreError&) {
      // The click happened all the same.
    }
  }
}

void Page::Save() {
  BacklightLevels levels = GetBacklightLevels();
  {
    std::lock_guard lock(mutex_);
    for (const auto& [hwnd, c] : controls_) {
      if (c.name == "battery")
        levels.battery = static_cast<DWORD>(c.pos);
      else if (c.name == "ac")
        levels.ac = static_cast<DWORD>(c.pos);
    }
  }
  RegistrySetDWORD(HKEY_CURRENT_USER, kBacklightKey, kBatteryBrightnessValue, levels.battery);
  RegistrySetDWORD(HKEY_CURRENT_USER, kBacklightKey, kAcBrightnessValue, levels.ac);
  SetNamedEvent(kBackLightChangeEvent);
}

void Page::Finish() {
  bool cleanup;
  std::vector<HWND> windows;
  {
    std::lock_guard lock(mutex_);
    cleanup = cleanup_;
    for (const auto& entry : controls_)
      windows.push_back(entry.first);
  }
  // The window service of a device that was closed has forgotten the windows already.
  if (cleanup && SameDevice(folder_)) {
    for (HWND hwnd : windows)
      DestroyTopLevelWindow(hwnd);
  }
  std::lock_guard lock(mutex_);
  open_ = false;
  queue_.clear();
  changed_.notify_all();
}

std::mutex g_pageMutex;
std::shared_ptr<Page> g_page;

// Ends the thread of a page still open when the process ends. Such a page is left in memory,
// since the window service may still hold its sinks; a closed page is destroyed as usual.
struct PageReaper {
  ~PageReaper() {
    std::shared_ptr<Page> page;
    {
      std::lock_guard lock(g_pageMutex);
      page = g_page;
    }
    if (page && page->IsOpen()) {
      page->Stop(false);
      new std::shared_ptr<Page>(page);
    }
  }
} g_pageReaper;

std::shared_ptr<Page> CurrentPage() {
  std::lock_guard lock(g_pageMutex);
  return g_page;
}

// The open page of the current device, or null.
std::shared_ptr<Page> OpenPage() {
  std::shared_ptr<Page> page = CurrentPage();
  Device* dev = Device::Current();
  if (!page || !dev || !page->BelongsTo(dev->Folder()) || !page->IsOpen())
    return nullptr;
  return page;
}

std::string BacklightPageArgument() {
  HKEY key;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kMakerAppletKey, &key) == ERROR_SUCCESS) {
    RegCloseKey(key);
    return kMakerBacklightPage;
  }
  return kStandardBacklightPage;
}

}  // namespace

BOOL StartDeviceProgram(std::string_view image, std::string_view args) {
  Device* dev = Device::Current();
  if (!dev || ToLowerAscii(image) != kControlPanelImage)
    return 0;
  try {
    dev->AddActivity("process", "{\"image\":\"" + std::string(kControlPanelImage) +
                                    "\",\"args\":\"" + std::string(args) + "\"}");
    dev->SetState(kLastProgramState, std::string(kControlPanelImage) + " " + std::string(args));
  } catch (const StoreError&) {
    return 0;
  }
  std::shared_ptr<Page> old;
  {
    std::lock_guard lock(g_pageMutex);
    if (g_page && g_page->BelongsTo(dev->Folder()) && g_page->IsOpen())
      return 1;  // the open page comes to the front
    old = std::move(g_page);
  }
  if (old)
    old->Stop(true);

  bool backlightPage = ToLowerAscii(args) == BacklightPageArgument();
  std::string layout = dev->GetState(kBacklightPageState).value_or("sliders");
  if (backlightPage && layout == "none")
    return 1;
  auto page = std::make_shared<Page>(*dev, backlightPage && layout != "plain");
  page->Open(*dev);
  std::lock_guard lock(g_pageMutex);
  g_page = std::move(page);
  return 1;
}

bool WaitForControlPanelExit(DWORD timeoutMs) {
  std::shared_ptr<Page> page = CurrentPage();
  return !page || page->WaitClosed(timeoutMs);
}

HWND GetForegroundWindow() {
  std::shared_ptr<Page> page = OpenPage();
  return page ? page->PageWindow() : 0;
}

HWND GetWindow(HWND hwnd, UINT relation) {
  std::shared_ptr<Page> page = OpenPage();
  Control c;
  if (!page || !page->Find(hwnd, &c))
    return 0;
  if (relation == GW_CHILD)
    return c.firstChild;
  if (relation == GW_HWNDNEXT)
    return c.next;
  return 0;
}

int GetClassName(HWND hwnd, std::string* out, int maxChars) {
  std::shared_ptr<Page> page = OpenPage();
  Control c;
  if (!out || maxChars <= 0 || !page || !page->Find(hwnd, &c))
    return 0;
  *out = Utf8Truncate(c.cls, static_cast<std::size_t>(maxChars));
  return static_cast<int>(Utf8Length(*out));
}

BOOL GetWindowRect(HWND hwnd, RECT* out) {
  std::shared_ptr<Page> page = OpenPage();
  Control c;
  if (!out || !page || !page->Find(hwnd, &c))
    return 0;
  *out = c.rect;
  return 1;
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<Page> page = OpenPage();
  if (page && page->Owns(hwnd)) {
    if (std::uint64_t ticket = page->Queue(hwnd, msg, wParam, lParam))
      page->WaitHandled(ticket);
    return 0;
  }
  PostMessage(hwnd, msg, wParam, lParam);
  return 0;
}

}  // namespace platform
