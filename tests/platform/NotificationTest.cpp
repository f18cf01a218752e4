// The notification database and the runner that starts programs at their due device time.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/NotificationRunner.h"
#include "platform/Notify.h"
#include "support/TestDevice.h"
#include "support/Wait.h"

extern char** environ;

using namespace platform;

namespace {

CE_NOTIFICATION_TRIGGER At(std::int64_t ms, const std::string& app, const std::string& args) {
  CE_NOTIFICATION_TRIGGER t;
  t.lpszApplication = app;
  t.lpszArguments = args;
  t.stStartTime = MsToSystemTime(ms);
  return t;
}

class NotificationTest : public ::testing::Test {
 protected:
  void TearDown() override { Clock::UseReal(); }
  TestDevice dev;
};

TEST_F(NotificationTest, RegisterListReadClear) {
  std::int64_t now = Clock::LocalNowMs();
  HNOTIFY a = CeSetUserNotificationEx(0, At(now + 60000, "/opt/app", "timer_notification_07_12"));
  HNOTIFY b = CeSetUserNotificationEx(0, At(now + 120000, "/opt/app", ""));
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  std::vector<HNOTIFY> handles;
  DWORD total = 0;
  ASSERT_TRUE(CeGetUserNotificationHandles(&handles, 1, &total));
  EXPECT_EQ(handles, std::vector<HNOTIFY>{a});
  EXPECT_EQ(total, 2u);
  CE_NOTIFICATION_TRIGGER t;
  ASSERT_TRUE(CeGetUserNotification(a, &t));
  EXPECT_EQ(t.lpszApplication, "/opt/app");
  EXPECT_EQ(t.lpszArguments, "timer_notification_07_12");
  EXPECT_TRUE(CeClearUserNotification(a));
  EXPECT_FALSE(CeClearUserNotification(a));
  EXPECT_FALSE(CeClearUserNotification(0));
  // A record that is not a time notification, or has no program, is refused.
  CE_NOTIFICATION_TRIGGER bad = At(now, "", "");
  EXPECT_EQ(CeSetUserNotificationEx(0, bad), 0u);
  bad = At(now, "/opt/app", "");
  bad.dwType = 1;
  EXPECT_EQ(CeSetUserNotificationEx(0, bad), 0u);
}

TEST_F(NotificationTest, RunnerFiresDueEntriesOnceInDueOrder) {
  SYSTEMTIME start;
  ParseSystemTime("2030-01-31 23:00:00", &start);
  Clock::UseVirtual(SystemTimeToMs(start));
  std::vector<std::string> started;
  NotificationRunner runner([&](const std::string& app, const std::string& args) {
    started.push_back(app + " " + args);
    return true;
  });
  std::int64_t now = Clock::LocalNowMs();
  CeSetUserNotificationEx(0, At(now + 3600000, "/opt/app", "later"));
  CeSetUserNotificationEx(0, At(now + 60000, "/opt/app", "sooner"));
  EXPECT_EQ(runner.RunDue(Clock::LocalNowMs()), 0);
  Clock::AdvanceVirtual(60000);
  EXPECT_EQ(runner.RunDue(Clock::LocalNowMs()), 1);
  Clock::AdvanceVirtual(3600000);
  EXPECT_EQ(runner.RunDue(Clock::LocalNowMs()), 1);
  EXPECT_EQ(runner.RunDue(Clock::LocalNowMs()), 0);
  EXPECT_EQ(started, (std::vector<std::string>{"/opt/app sooner", "/opt/app later"}));
  std::vector<HNOTIFY> handles;
  CeGetUserNotificationHandles(&handles, 10);
  EXPECT_TRUE(handles.empty());
}

// The real runner process, the real clock moved by the console, and a real program started.
TEST_F(NotificationTest, RunnerProcessStartsTheProgramWhenTheClockReachesIt) {
  auto out = dev.folder() / "started.txt";
  auto script = dev.folder() / "app.sh";
  {
    std::ofstream s(script);
    s << "#!/bin/sh\necho \"$1 $TELVANE_DEVICE\" >> \"" << out.string() << "\"\n";
  }
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);

  std::string device = dev.folder().string();
  std::vector<std::string> argvStore{TELVANE_DEVICE_TOOL, "--device", device, "serve"};
  std::vector<char*> argv;
  for (auto& a : argvStore)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t runner;
  ASSERT_EQ(posix_spawn(&runner, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  auto waitFor = [&](auto pred) { return testsupport::WaitUntil(pred, 5000, 50); };
  auto lines = [&] {
    std::ifstream in(out);
    std::vector<std::string> read;
    for (std::string line; std::getline(in, line);)
      read.push_back(line);
    return read;
  };
  // A marker notification due now: once its program has run, the runner has been through every
  // entry that was stored before it.
  auto runMarker = [&](const std::string& name) {
    std::string expected = name + " " + device;
    if (CeSetUserNotificationEx(0, At(Clock::LocalNowMs(), script.string(), name)) == 0)
      return false;
    return waitFor([&] {
      auto read = lines();
      return std::find(read.begin(), read.end(), expected) != read.end();
    });
  };
  ASSERT_TRUE(waitFor([&] { return NotificationRunner::IsServing(dev.device()); }));
  // A second runner for the same device refuses to start.
  EXPECT_NE(dev.Console({"serve"}), 0);

  HNOTIFY h = CeSetUserNotificationEx(
      0, At(Clock::LocalNowMs() + 3600000, script.string(), "timer_notification_03_07"));
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(runMarker("marker_1"));
  CE_NOTIFICATION_TRIGGER t;
  EXPECT_TRUE(CeGetUserNotification(h, &t)) << "started before its time";
  EXPECT_EQ(lines(), (std::vector<std::string>{"marker_1 " + device})) << "started before its time";

  ASSERT_EQ(dev.Console({"clock", "+1h"}), 0);
  EXPECT_TRUE(waitFor([&] { return lines().size() == 2; }));
  ASSERT_TRUE(runMarker("marker_2"));
  kill(runner, SIGTERM);
  int status;
  waitpid(runner, &status, 0);

  auto started = lines();
  ASSERT_EQ(started.size(), 3u) << "the program must start exactly once";
  EXPECT_EQ(started[1], "timer_notification_03_07 " + device);
  EXPECT_FALSE(CeGetUserNotification(h, &t));
}

TEST_F(NotificationTest, ConsoleListsAddsAndClears) {
  std::string out;
  ASSERT_EQ(dev.Console({"notifications", "add", "--at", "2031-01-02 03:04:05", "--app",
                         "/bin/true", "--args", "iddle_notification"},
                        &out),
            0);
  std::string handle = out.substr(0, out.find('\n'));
  ASSERT_EQ(dev.Console({"notifications"}, &out), 0);
  EXPECT_EQ(out, handle + "  2031-01-02 03:04:05  /bin/true  iddle_notification\n");
  EXPECT_EQ(dev.Console({"notifications", "clear", handle}), 0);
  EXPECT_NE(dev.Console({"notifications", "clear", handle}), 0);
  ASSERT_EQ(dev.Console({"notifications", "list"}, &out), 0);
  EXPECT_EQ(out, "");
  std::string err;
  EXPECT_NE(dev.Console({"notifications", "add", "--at", "tomorrow", "--app", "/bin/true"}, nullptr,
                        &err),
            0);
  EXPECT_NE(err.find("tomorrow"), std::string::npos);
}

}  // namespace
