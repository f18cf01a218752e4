// fail: failure injection into the simulated services (see FailCommand.h).
#include "console/FailCommand.h"

#include <iostream>

#include "console/Console.h"

namespace console {

std::map<std::string, Failure>& Failures() {
  static std::map<std::string, Failure> failures;
  return failures;
}

FailureKind::FailureKind(std::string name, std::string what, std::function<void(int count)> set,
                         std::function<int()> pending) {
  Failures()[name] = Failure{std::move(what), std::move(set), std::move(pending)};
}

namespace {

int Run(const Args& args) {
  if (args.empty()) {
    for (const auto& [name, failure] : Failures())
      std::cout << name << " " << failure.pending() << "  (" << failure.what << ")\n";
    return 0;
  }
  auto it = Failures().find(args[0]);
  if (it == Failures().end()) {
    std::string kinds;
    for (const auto& [name, failure] : Failures())
      kinds += (kinds.empty() ? "" : ", ") + name;
    return Fail("unknown failure \"" + args[0] + "\" (one of: " + kinds + ")");
  }
  if (args.size() == 1) {
    std::cout << it->second.pending() << "\n";
    return 0;
  }
  if (args.size() != 2)
    return Usage("fail");
  auto count = ParseInt(args[1]);
  if (!count || *count < 0 || *count > 1000000)
    return Fail("not a count \"" + args[1] + "\" (0 or more)");
  it->second.set(static_cast<int>(*count));
  std::cout << it->second.pending() << "\n";
  return 0;
}

ConsoleCommand fail("fail", "fail [KIND [NEXT-N]]",
                    "Makes the next N operations of a simulated service fail; lists the kinds.",
                    Run);

}  // namespace
}  // namespace console
