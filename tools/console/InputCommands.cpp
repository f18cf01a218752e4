// tap, key: the phone's touch screen and keys, delivered to the window that would receive them.
#include <string>

#include "console/Console.h"
#include "platform/Input.h"

namespace console {
namespace {

using namespace platform;

// How long the window's program may take to handle the input.
constexpr DWORD kInputTimeoutMs = 10000;

int RunTap(const Args& args) {
  if (args.size() != 2)
    return Usage("tap");
  auto x = ParseInt(args[0]);
  auto y = ParseInt(args[1]);
  if (!x || !y || *x < -100000 || *x > 100000 || *y < -100000 || *y > 100000)
    return Usage("tap");
  std::string error;
  if (!TapScreen(static_cast<int>(*x), static_cast<int>(*y), kInputTimeoutMs, &error))
    return Fail(error);
  return 0;
}

int RunKey(const Args& args) {
  if (args.size() != 1)
    return Usage("key");
  auto key = PhoneKeyFromName(args[0]);
  if (!key)
    return Usage("key");
  std::string error;
  if (!PressKey(*key, kInputTimeoutMs, &error))
    return Fail(error);
  return 0;
}

std::string KeyNames() {
  std::string names;
  for (std::string_view name : kPhoneKeyNames)
    names += (names.empty() ? "" : "|") + std::string(name);
  return names;
}

ConsoleCommand tap("tap", "tap X Y",
                   "Taps the screen at X,Y: the top-most visible window there gets a press and "
                   "release; fails when no window is there.",
                   RunTap);
ConsoleCommand key("key", "key " + KeyNames(),
                   "Presses and releases a phone key on the active window (softleft and "
                   "softright are the soft keys under the screen).",
                   RunKey);

}  // namespace
}  // namespace console
