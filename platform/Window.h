// Top-level windows and window messages across the processes of a device.
//
// A process registers a top-level window by class name and gives a sink that receives the
// window's messages. `FindWindow` finds a window of a class in any process of the device;
// `PostMessage` to a window of this process hands the message to its sink at once, to a window
// of another process it travels as a datagram and reaches the sink on that process's endpoint
// thread. Sinks must therefore be thread-safe and must not block: a user interface queues the
// message onto its own thread.
//
// The registry also holds what the phone's screen shows: each window's title, visibility,
// enabled state, geometry in screen coordinates, stacking order and which window is active. The
// owner's user interface records them as they change (platform/qt/WindowTracker.h does it for
// Qt windows); the device console reads them to list windows and to find where a tap lands.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Types.h"

namespace platform {

class Device;

class IWindowSink {
 public:
  virtual ~IWindowSink() = default;
  // Called on any thread, in posting order for each sender.
  virtual void OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};

// Registers a top-level window of `className` owned by this process. Returns its handle, 0 when
// no device is open.
HWND RegisterTopLevelWindow(std::string_view className, IWindowSink* sink);
// Forgets the window; messages posted to it afterwards are dropped.
void DestroyTopLevelWindow(HWND hwnd);

// The most recently registered live window of the class (any title), or 0.
HWND FindWindow(std::string_view className);
bool IsWindow(HWND hwnd);
// The process that owns the window, 0 when unknown.
int WindowProcess(HWND hwnd);

// Queues a message to the window. False when the window does not exist.
BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Requests that the window be shown or brought to the front; delivered to its sink as
// WM_PLATFORM_SHOW (wParam = show command) or WM_PLATFORM_FOREGROUND.
BOOL ShowWindow(HWND hwnd, int showCommand);
BOOL SetForegroundWindow(HWND hwnd);

// What the screen shows of a window. Geometry is the client area in screen coordinates.
struct WindowState {
  std::string title;
  bool visible = false;
  bool enabled = true;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  // The window that receives the phone's keys; at most one window of the device is active.
  bool active = false;

  bool Contains(int px, int py) const {
    return px >= x && py >= y && px - x < width && py - y < height;
  }
  bool operator==(const WindowState&) const = default;
};

struct WindowInfo {
  HWND hwnd = 0;
  std::string className;
  int pid = 0;
  WindowState state;
};

// Records the window's state. `toTop` puts it above every other window of the device (it was
// shown, raised or activated); an active window makes every other window of the device inactive.
// False when the window is not registered. Called by the owner's user-interface thread.
bool SetWindowState(HWND hwnd, const WindowState& state, bool toTop);
// Every window of a live process of the device, top-most first.
std::vector<WindowInfo> ListWindows();
// The top-most visible window whose rectangle holds the screen point, 0 when none.
HWND WindowFromPoint(int x, int y);
// The window that takes the phone's keys: the visible window that is active, else the top-most
// visible window; 0 when none is visible.
HWND ActiveWindow();

// A message number for `name`, the same in every process of the device (from 0xC000 up).
UINT RegisterWindowMessage(std::string_view name);

// A sink that keeps the messages in a queue, for programs without a user interface and tests.
class MessageQueueSink : public IWindowSink {
 public:
  struct Message {
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
  };
  void OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  // Takes the oldest message, waiting at most `timeoutMs`. False on time-out.
  bool Get(Message* out, DWORD timeoutMs);
  std::size_t Size();

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Message> messages_;
};

// Wiring used by Device::Open and Device::Close. The first adds the state columns to a store
// created before windows had them.
void InstallWindowHandlers(Device& device);
void ResetLocalWindows();

}  // namespace platform
