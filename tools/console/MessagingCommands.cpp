// accounts and outbox: the phone's mail accounts and what the program sent.
#include <iostream>
#include <optional>

#include "console/Console.h"
#include "platform/Json.h"
#include "platform/Messaging.h"

namespace console {
namespace {

using namespace platform;

int RunAccounts(const Args& args) {
  if (args.empty() || (args.size() == 1 && args[0] == "list")) {
    auto names = ListMessageStores();
    for (std::size_t i = 0; i < names.size(); ++i)
      std::cout << i << "  " << names[i] << "\n";
    return 0;
  }
  if (args.size() == 2 && args[0] == "add") {
    std::string error;
    if (!AddMessageStore(args[1], &error))
      return Fail(error);
    return 0;
  }
  return Usage("accounts");
}

int RunOutbox(const Args& all) {
  Args args = all;
  bool json = TakeFlag(args, "--json");
  if (!args.empty())
    return Usage("outbox");
  auto items = ListOutbox();
  if (json) {
    Json list = Json::array();
    for (const auto& item : items) {
      // A record that is not JSON (written by hand or by an older build) is shown as text.
      std::optional<Json> record = ParseJson(item.json);
      list.push_back(record ? *record : Json(item.json));
    }
    std::cout << JsonText(list) << "\n";
    return 0;
  }
  for (const auto& item : items)
    std::cout << item.time << "  " << item.json << "\n";
  return 0;
}

ConsoleCommand accounts("accounts", "accounts [list] | add NAME",
                        "The mail accounts (message stores) in table order, numbered as the "
                        "setting mail_provider counts them; or add one.",
                        RunAccounts);

ConsoleCommand outbox("outbox", "outbox [--json]",
                      "Every text message and e-mail the phone sent, oldest first.", RunOutbox);

}  // namespace
}  // namespace console
