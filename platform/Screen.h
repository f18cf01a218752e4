// The phone's screen: its size and orientation, and screenshots of a program's windows.
//
// The size is hardware state ("screen_width", "screen_height", 240x320 on a new phone); a change
// is broadcast as the hardware event "screen" so that running programs lay their windows out
// again. A screenshot is asked of the process that owns a window class as a request of
// platform/Requests.h (the event "screenshot"); the owner saves the picture and answers.
//
// A picture of the whole screen is composed from the pictures of its visible windows: each
// window's owner saves its own picture, then one process with a user interface (the owner of the
// top-most window) paints them bottom first onto a screen-sized picture.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Types.h"

namespace platform {

inline constexpr const char* kScreenEvent = "screen";
inline constexpr int kDefaultScreenWidth = 240;
inline constexpr int kDefaultScreenHeight = 320;

struct ScreenSize {
  int width = kDefaultScreenWidth;
  int height = kDefaultScreenHeight;
};

ScreenSize GetScreenSize();
// Sets the size (each side from 100 to 4000 pixels) and tells every running program. False for
// a size out of range or without a device.
bool SetScreenSize(const ScreenSize& size);
// Turns the screen a quarter: width and height swap.
bool RotateScreen();

// Asks the process that owns the window of `className` to save it as a PNG file at `hostFile`.
// Waits at most `timeoutMs`. False with `error` set when no such window exists, no answer came,
// or the owner could not save the file.
bool RequestScreenshot(std::string_view className, const std::string& hostFile, DWORD timeoutMs,
                       std::string* error);

// The owner's side: `onRequest(id, hostFile)` is called on the endpoint thread for each request
// for `className`; the owner takes the picture on its own thread and calls CompleteScreenshot
// with the id and an empty error on success. Returns a subscription id for
// UnsubscribeHardwareEvent.
int ServeScreenshots(const std::string& className,
                     std::function<void(std::uint64_t id, const std::string& hostFile)> onRequest);
void CompleteScreenshot(std::uint64_t id, const std::string& error);

// A window picture placed on the screen.
struct ScreenLayer {
  std::string file;
  int x = 0;
  int y = 0;
};

// What a composing process paints: the layers bottom first on a picture of the screen's size,
// saved as a PNG file at `file`; screen left uncovered is black.
struct ScreenComposition {
  ScreenSize size;
  std::string file;
  std::vector<ScreenLayer> layers;
};

// Saves the screen as the phone shows it (every visible window in stacking order, at the
// screen's size) as a PNG file at `hostFile`. Waits at most `timeoutMs` in all. False with
// `error` set when no program could draw it or the file could not be written.
bool RequestScreenPicture(const std::string& hostFile, DWORD timeoutMs, std::string* error);

// The owner's side of window pictures and of the composition, called on the endpoint thread;
// the owner works on its own thread and answers with the id and an empty error on success.
int ServeWindowPictures(
    std::function<void(std::uint64_t id, HWND hwnd, const std::string& hostFile)> onRequest);
void CompleteWindowPicture(std::uint64_t id, const std::string& error);
int ServeScreenComposition(
    std::function<void(std::uint64_t id, const ScreenComposition& composition)> onRequest);
void CompleteScreenComposition(std::uint64_t id, const std::string& error);

}  // namespace platform
