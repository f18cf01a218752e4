// clock: show or move the phone's clock. Every process of the device sees a change at once, and
// running programs hear of it through the "clock" hardware event that Clock::SetOffsetMs raises.
#include <iostream>

#include "console/Console.h"
#include "platform/Time.h"

namespace console {
namespace {

using namespace platform;

void Show() {
  std::int64_t offset = Clock::OffsetMs();
  std::cout << FormatSystemTime(Clock::LocalTime()) << " (offset " << (offset >= 0 ? "+" : "")
            << offset / 1000 << "s)\n";
}

int Run(const Args& args) {
  if (args.empty()) {
    Show();
    return 0;
  }
  const std::string& a = args[0];
  if (a == "reset" && args.size() == 1) {
    Clock::SetOffsetMs(0);
  } else if (a == "set" && args.size() == 2) {
    SYSTEMTIME st;
    if (!ParseSystemTime(args[1], &st)) {
      return Fail("not a time \"" + args[1] + "\" (YYYY-MM-DD HH:MM:SS)");
    }
    Clock::SetOffsetMs(SystemTimeToMs(st) - Clock::HostLocalNowMs());
  } else if ((a[0] == '+' || a[0] == '-') && args.size() == 1) {
    std::string number = a.substr(1);
    std::int64_t unit = 1000;
    if (!number.empty()) {
      switch (number.back()) {
        case 's':
          unit = 1000;
          number.pop_back();
          break;
        case 'm':
          unit = 60000;
          number.pop_back();
          break;
        case 'h':
          unit = 3600000;
          number.pop_back();
          break;
        case 'd':
          unit = 86400000;
          number.pop_back();
          break;
        default:
          break;
      }
    }
    auto n = ParseInt(number);
    if (!n || *n < 0)
      return Fail("not an offset \"" + a + "\" (for example +90m)");
    std::int64_t delta = *n * unit * (a[0] == '-' ? -1 : 1);
    Clock::SetOffsetMs(Clock::OffsetMs() + delta);
  } else {
    return Usage("clock");
  }
  Show();
  return 0;
}

ConsoleCommand clock("clock",
                     "clock [+N[s|m|h|d] | -N[s|m|h|d] | set \"YYYY-MM-DD HH:MM:SS\" | reset]",
                     "Shows the device time, or moves the device clock.", Run);

}  // namespace
}  // namespace console
