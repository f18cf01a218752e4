// radio, sim, call and the telephony failures: the phone's radio, SIM card and calls as the
// phone's own settings and the user would change them. Each change reaches the running program
// through the phone's state values and hardware events (see platform/PhoneHardware.h).
#include <iostream>

#include "console/Console.h"
#include "console/FailCommand.h"
#include "platform/PhoneHardware.h"

namespace console {
namespace {

using namespace platform;

int RunRadio(const Args& args) {
  if (args.size() > 1)
    return Usage("radio");
  if (!args.empty()) {
    if (args[0] != "on" && args[0] != "off")
      return Fail("unknown radio state \"" + args[0] + "\" (on or off)");
    phone::SetRadioPower(args[0] == "on");
  }
  std::cout << (phone::RadioIsOn() ? "on" : "off") << "\n";
  return 0;
}

int RunSim(const Args& args) {
  if (args.empty() || (args[0] == "state" && args.size() == 1)) {
    std::cout << phone::SimState() << "\n";
    return 0;
  }
  if (args[0] == "lock" && args.size() == 2) {
    if (!phone::LockSim(args[1]))
      return Fail("not a PIN \"" + args[1] + "\" (4 to 8 digits)");
  } else if (args[0] == "unlock" && args.size() == 1) {
    phone::UserUnlockSim();
  } else {
    return Usage("sim");
  }
  std::cout << phone::SimState() << "\n";
  return 0;
}

int RunCall(const Args& args) {
  if (args.size() > 1)
    return Usage("call");
  if (!args.empty()) {
    std::string error;
    if (args[0] == "start") {
      if (!phone::StartCall(&error))
        return Fail("no call started: " + error);
    } else if (args[0] == "end") {
      if (!phone::EndCall(&error))
        return Fail("no call ended: " + error);
    } else {
      return Fail("unknown call action \"" + args[0] + "\" (start or end)");
    }
  }
  std::cout << phone::ActiveCalls() << "\n";
  return 0;
}

ConsoleCommand radio("radio", "radio [on|off]",
                     "Shows the phone radio's state, or switches the radio on or off.", RunRadio);
ConsoleCommand sim("sim", "sim [state | lock PIN | unlock]",
                   "Shows the SIM's state (ready, pin, puk); lock gives the SIM a PIN and makes it "
                   "ask for it; unlock enters the PIN in the phone's prompt.",
                   RunSim);
ConsoleCommand call("call", "call [start|end]",
                    "Shows the number of calls in progress, or starts or ends a call.", RunCall);

FailureKind telephony(
    "telephony", "telephony requests, refused at once",
    [](int count) { phone::SetTelephonyFailures(count, false); },
    [] { return phone::TelephonyFailuresInReply() ? 0 : phone::PendingTelephonyFailures(); });
FailureKind telephonyReply(
    "telephony-reply", "telephony requests, failing in their reply",
    [](int count) { phone::SetTelephonyFailures(count, true); },
    [] { return phone::TelephonyFailuresInReply() ? phone::PendingTelephonyFailures() : 0; });

}  // namespace
}  // namespace console
