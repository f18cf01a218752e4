// connections: the phone's dial-up entries and their links, as the network sees them.
#include <iostream>

#include "console/Console.h"
#include "platform/Ras.h"

namespace console {
namespace {

using namespace platform;

int List() {
  for (const auto& e : ListDialUpEntries()) {
    bool connected = e.handle != 0 && e.state == RASCS_Connected;
    std::cout << e.name << "  " << (e.enabled ? "enabled" : "disabled") << "  "
              << (connected ? "connected" : "disconnected");
    if (connected)
      std::cout << "  " << (e.bytesSent + e.bytesReceived) << " bytes";
    std::cout << "\n";
  }
  return 0;
}

int Run(const Args& all) {
  Args args = all;
  if (args.empty() || (args.size() == 1 && args[0] == "list"))
    return List();
  const std::string verb = args[0];
  args.erase(args.begin());
  std::string error;
  if (verb == "add") {
    bool missing = false;
    auto guid = TakeOption(args, "--guid", &missing);
    bool disabled = TakeFlag(args, "--disabled");
    if (missing || args.size() != 1)
      return Usage("connections");
    if (!AddDialUpEntry(args[0], guid.value_or(""), !disabled, &error))
      return Fail(error);
    return 0;
  }
  if (verb == "traffic") {
    if (args.size() != 2)
      return Usage("connections");
    auto bytes = ParseInt(args[1]);
    if (!bytes || *bytes < 0)
      return Fail("not a byte count \"" + args[1] + "\"");
    if (!AddConnectionTraffic(args[0], static_cast<std::uint64_t>(*bytes), &error))
      return Fail(error);
    return 0;
  }
  if (verb == "drop" || verb == "connect") {
    if (args.size() != 1)
      return Usage("connections");
    bool ok =
        verb == "drop" ? DropConnection(args[0], &error) : ConnectDialUpEntry(args[0], &error);
    if (!ok)
      return Fail(error);
    return 0;
  }
  return Usage("connections");
}

ConsoleCommand connections(
    "connections",
    "connections [list] | add NAME [--guid GUID] [--disabled] | connect NAME | "
    "traffic NAME BYTES | drop NAME",
    "The dial-up entries (enabled or disabled, connected or disconnected); add an entry; bring "
    "its link up from the phone itself; add received bytes to its link; or let the network drop "
    "it.",
    Run);

}  // namespace
}  // namespace console
