// The real telvane closing an idle data connection: the network side is the device console,
// time moves with `clock`, and the device's notification runner starts the idle checks.
#include <gtest/gtest.h>

#include "platform/Notify.h"
#include "platform/Time.h"
#include "platform/Window.h"
#include "support/Programs.h"

using namespace platform;

namespace {

// Milliseconds until the program's pending idle check, or -1 when none is registered.
std::int64_t IdleCheckDueInMs() {
  std::vector<HNOTIFY> handles;
  CeGetUserNotificationHandles(&handles, 500);
  for (HNOTIFY h : handles) {
    CE_NOTIFICATION_TRIGGER t;
    if (CeGetUserNotification(h, &t) && t.lpszApplication == TELVANE_BIN &&
        t.lpszArguments == "iddle_notification") {
      return SystemTimeToMs(t.stStartTime) - Clock::LocalNowMs();
    }
  }
  return -1;
}

class ConnectionsIdleTest : public ::testing::Test {
 protected:
  std::string Connections() {
    std::string out;
    dev.Console({"connections"}, &out);
    return out;
  }
  void SetSetting(const std::string& name, const std::string& value) {
    ASSERT_EQ(
        dev.Console({"reg", "set", "HKLM", "SOFTWARE\\Orvella\\Telvane", name, "dword", value}), 0);
  }

  TestDevice dev;
  TelvaneProcess telvane{dev};
};

TEST_F(ConnectionsIdleTest, ConnectionWhoseTrafficStoppedIsHungUp) {
  SetSetting("activate_idle", "1");
  SetSetting("seconds_idle", "60");
  ASSERT_EQ(dev.Console({"connections", "add", "GPRS"}), 0);
  // Start-up ends with the main window subscribed to connection changes.
  ASSERT_TRUE(telvane.StartAndWaitUntilReady());

  // The link comes up: the program schedules its first idle check 20 seconds ahead.
  ASSERT_EQ(dev.Console({"connections", "connect", "GPRS"}), 0);
  ASSERT_TRUE(WaitUntil([] { return IdleCheckDueInMs() > 0; })) << telvane.TraceText();
  EXPECT_LE(IdleCheckDueInMs(), 20000);
  ASSERT_EQ(dev.Console({"connections", "traffic", "GPRS", "5000"}), 0);

  // The first check only starts tracking and schedules the next one a full period later.
  ASSERT_EQ(dev.Console({"clock", "+21s"}), 0);
  ASSERT_TRUE(WaitUntil([] { return IdleCheckDueInMs() > 40000; }, 15000)) << telvane.TraceText();

  // Traffic during the period keeps the link up.
  ASSERT_EQ(dev.Console({"connections", "traffic", "GPRS", "5000"}), 0);
  ASSERT_EQ(dev.Console({"clock", "+61s"}), 0);
  ASSERT_TRUE(WaitUntil([] { return IdleCheckDueInMs() > 40000; }, 15000)) << telvane.TraceText();
  EXPECT_NE(Connections().find("GPRS  enabled  connected"), std::string::npos);

  // A period without traffic closes it.
  ASSERT_EQ(dev.Console({"clock", "+61s"}), 0);
  EXPECT_TRUE(WaitUntil(
      [&] { return Connections().find("GPRS  enabled  disconnected") != std::string::npos; },
      15000))
      << telvane.TraceText();
  EXPECT_EQ(IdleCheckDueInMs(), -1) << "no idle check stays behind";
}

}  // namespace
