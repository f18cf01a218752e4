// boxes: every message box the program showed, and how the device answers them.
#include <iostream>

#include "console/Console.h"
#include "platform/Json.h"
#include "platform/Mosutil.h"

namespace console {
namespace {

int Run(const Args& all) {
  Args args = all;
  bool json = TakeFlag(args, "--json");
  if (!args.empty() && args[0] == "answer") {
    if (json || args.size() != 2 || (args[1] != "yes" && args[1] != "no" && args[1] != "ui")) {
      return Usage("boxes");
    }
    platform::SetBoxAnswerMode(args[1]);
    return 0;
  }
  if (!args.empty() && !(args.size() == 1 && args[0] == "list"))
    return Usage("boxes");
  auto boxes = platform::ListBoxes();
  if (json) {
    platform::Json list = platform::Json::array();
    for (const auto& b : boxes) {
      list.push_back({{"time", b.time}, {"kind", b.kind}, {"text", b.text}, {"answer", b.answer}});
    }
    std::cout << platform::JsonText(list) << "\n";
    return 0;
  }
  for (const auto& b : boxes) {
    std::string text = b.text;
    for (char& c : text) {
      if (c == '\n' || c == '\r')
        c = ' ';
    }
    std::cout << b.kind << "  " << text << "  -> " << b.answer << "\n";
  }
  return 0;
}

ConsoleCommand boxes("boxes", "boxes [list] [--json] | answer yes|no|ui",
                     "Every box the program showed (kind, text, answer); or how boxes are answered "
                     "(ui: real modal boxes when there is a display).",
                     Run);

}  // namespace
}  // namespace console
