// post: posts a window message to a window found by its class, as another program would.
#include "console/Console.h"
#include "platform/Window.h"

namespace console {
namespace {

using namespace platform;

int Run(const Args& args) {
  if (args.size() != 4)
    return Usage("post");
  auto msg = ParseInt(args[1]);
  auto wParam = ParseInt(args[2]);
  auto lParam = ParseInt(args[3]);
  if (!msg || !wParam || !lParam)
    return Fail("MSG, WPARAM and LPARAM must be numbers");
  HWND hwnd = FindWindow(args[0]);
  if (!hwnd)
    return Fail("no window of class \"" + args[0] + "\"");
  if (!PostMessage(hwnd, static_cast<UINT>(*msg), static_cast<WPARAM>(*wParam),
                   static_cast<LPARAM>(*lParam))) {
    return Fail("the message could not be posted to \"" + args[0] + "\"");
  }
  return 0;
}

ConsoleCommand post("post", "post CLASS MSG WPARAM LPARAM",
                    "Posts a window message (numbers in decimal or 0x hex) to the window of CLASS.",
                    Run);

}  // namespace
}  // namespace console
