// The phone's touch screen and keys, as the device console drives them.
//
// A tap lands on the top-most visible window of the device at that screen point, whatever
// process owns it; a key goes to the device's active window. The request reaches the owning
// process as a datagram; its user interface delivers it on its own thread as a real press and
// release (platform/qt/WindowTracker.h does it for Qt windows) and answers once it has been
// handled, so that what the input caused is visible when the request returns.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Types.h"

namespace platform {

// The phone's keys: the direction pad, its action key (enter), tab, escape (the back key), F6
// (the key that hides the program) and the two soft keys under the screen.
enum class PhoneKey {
  kUp,
  kDown,
  kLeft,
  kRight,
  kTab,
  kEnter,
  kEscape,
  kF6,
  kSoftLeft,
  kSoftRight
};

inline constexpr std::array<std::string_view, 10> kPhoneKeyNames = {
    "up", "down", "left", "right", "tab", "enter", "escape", "f6", "softleft", "softright"};

// The key of a name of kPhoneKeyNames in any case, nullopt for any other name.
std::optional<PhoneKey> PhoneKeyFromName(std::string_view name);
std::string_view PhoneKeyName(PhoneKey key);

// What the owner of a window is asked to deliver. A tap's point is in screen coordinates.
struct InputRequest {
  HWND hwnd = 0;
  bool tap = false;
  int x = 0;
  int y = 0;
  PhoneKey key = PhoneKey::kEnter;
};

// Taps the screen at (x, y) and waits at most `timeoutMs` until the window's owner has handled
// it. False with `error` set when no window is there or the owner did not take the tap.
bool TapScreen(int x, int y, DWORD timeoutMs, std::string* error);
// Presses and releases `key` on the active window; false with `error` as for TapScreen.
bool PressKey(PhoneKey key, DWORD timeoutMs, std::string* error);

// The owner's side: `onInput(id, request)` is called on the endpoint thread for each tap or key
// on a window of this process; the owner delivers it on its own thread and calls CompleteInput
// with the id and an empty error once handled.
int ServeInput(std::function<void(std::uint64_t id, const InputRequest& request)> onInput);
void CompleteInput(std::uint64_t id, const std::string& error);

}  // namespace platform
