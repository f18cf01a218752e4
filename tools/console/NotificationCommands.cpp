// notifications and serve: the phone's notification database and its runner.
#include <signal.h>

#include <iostream>

#include "console/Console.h"
#include "platform/Device.h"
#include "platform/NotificationRunner.h"
#include "platform/Notify.h"

namespace console {
namespace {

using namespace platform;

int List() {
  std::vector<HNOTIFY> handles;
  CeGetUserNotificationHandles(&handles, 100000);
  for (HNOTIFY h : handles) {
    CE_NOTIFICATION_TRIGGER t;
    if (!CeGetUserNotification(h, &t))
      continue;
    std::cout << h << "  " << FormatSystemTime(t.stStartTime) << "  " << t.lpszApplication;
    if (!t.lpszArguments.empty())
      std::cout << "  " << t.lpszArguments;
    std::cout << "\n";
  }
  return 0;
}

int Add(Args args) {
  bool missing = false;
  auto at = TakeOption(args, "--at", &missing);
  auto app = TakeOption(args, "--app", &missing);
  auto arguments = TakeOption(args, "--args", &missing);
  if (missing || !at || !app || !args.empty())
    return Usage("notifications");
  CE_NOTIFICATION_TRIGGER t;
  t.lpszApplication = *app;
  t.lpszArguments = arguments.value_or("");
  if (!ParseSystemTime(*at, &t.stStartTime)) {
    return Fail("not a time \"" + *at + "\" (YYYY-MM-DD HH:MM:SS)");
  }
  HNOTIFY h = CeSetUserNotificationEx(0, t);
  if (!h)
    return Fail("the notification was refused");
  std::cout << h << "\n";
  return 0;
}

int Clear(const Args& args) {
  if (args.size() != 1)
    return Usage("notifications");
  auto h = ParseInt(args[0]);
  if (!h || *h <= 0)
    return Fail("not a handle \"" + args[0] + "\"");
  if (!CeClearUserNotification(static_cast<HNOTIFY>(*h))) {
    return Fail("no notification with handle " + args[0]);
  }
  return 0;
}

int Run(const Args& all) {
  if (all.empty() || all[0] == "list")
    return all.size() <= 1 ? List() : Usage("notifications");
  Args rest(all.begin() + 1, all.end());
  if (all[0] == "add")
    return Add(rest);
  if (all[0] == "clear")
    return Clear(rest);
  return Usage("notifications");
}

int Serve(const Args& args) {
  Args rest = args;
  bool once = TakeFlag(rest, "--once");
  if (!rest.empty())
    return Usage("serve");
  // Started programs are detached; nothing is left to reap.
  signal(SIGCHLD, SIG_IGN);
  NotificationRunner runner;
  if (once) {
    runner.Serve(true);
    return 0;
  }
  // Runs until the process is ended; the runner lock and the endpoint go with the process.
  if (!runner.Serve(false))
    return Fail("a notification runner already serves this device");
  return 0;
}

ConsoleCommand notifications(
    "notifications",
    "notifications [list] | add --at \"YYYY-MM-DD HH:MM:SS\" --app PATH [--args TEXT] | clear "
    "HANDLE",
    "One line per notification: handle, due device time, application, arguments.", Run);
ConsoleCommand serve("serve", "serve [--once]",
                     "Runs the notification runner: starts each program at its due device time.",
                     Serve);

}  // namespace
}  // namespace console
