// The program's timed-notification arguments and registrations.
#include <gtest/gtest.h>

#include "app/TextFormat.h"
#include "app/TimerNotification.h"
#include "platform/Mosutil.h"
#include "support/TestDevice.h"

using namespace platform;
using namespace timernotification;

namespace {

TEST(TimerArgumentTest, FormatAndTolerantParsing) {
  EXPECT_EQ(TimerArgument(7, 12), "timer_notification_07_12");
  EXPECT_EQ(TimerArgument(5, 1), "timer_notification_05_01");
  int id = -1, param = -1;
  ParseTimerArgument("timer_notification_03_07", &id, &param);
  EXPECT_EQ(id, 3);
  EXPECT_EQ(param, 7);
  // Recognised by its substring elsewhere, but the numbers are read from the start.
  ParseTimerArgument("xtimer_notification_03_07", &id, &param);
  EXPECT_EQ(id, 0);
  EXPECT_EQ(param, 0);
  // At most two digits per field.
  ParseTimerArgument("timer_notification_123_4", &id, &param);
  EXPECT_EQ(id, 12);
  EXPECT_EQ(param, 0);
  ParseTimerArgument("timer_notification_09_x", &id, &param);
  EXPECT_EQ(id, 9);
  EXPECT_EQ(param, 0);
}

TEST(TimerRegistrationTest, RegistersForThisProgramAndClearsOnlyItsOwn) {
  TestDevice dev;
  SYSTEMTIME start;
  ParseSystemTime("2030-03-31 23:50:00", &start);
  Clock::UseVirtual(SystemTimeToMs(start));
  HNOTIFY mine = Register(TimerArgument(5, 1), DT_MINUTE, 30);
  ASSERT_NE(mine, 0u);
  CE_NOTIFICATION_TRIGGER t;
  ASSERT_TRUE(CeGetUserNotification(mine, &t));
  EXPECT_EQ(t.lpszApplication, ProgramPath());
  EXPECT_EQ(t.lpszArguments, "timer_notification_05_01");
  EXPECT_EQ(FormatSystemTime(t.stStartTime), "2030-04-01 00:20:00");
  EXPECT_TRUE(Exists(5, 1));
  EXPECT_FALSE(Exists(5, 2));

  CE_NOTIFICATION_TRIGGER other;
  other.lpszApplication = "/opt/other";
  other.stStartTime = start;
  HNOTIFY theirs = CeSetUserNotificationEx(0, other);
  Register("", DT_SECOND, 10);
  EXPECT_EQ(ClearAllOfThisProgram(), 2);
  EXPECT_TRUE(CeGetUserNotification(theirs, &t));
  Clock::UseReal();
}

TEST(LimitNotificationsTest, OneHandlePerTarget) {
  CLimitNotifications::Set(3, 11);
  CLimitNotifications::Set(3, 12);
  EXPECT_EQ(CLimitNotifications::Get(3), 12u);
  EXPECT_EQ(CLimitNotifications::Take(3), 12u);
  EXPECT_EQ(CLimitNotifications::Get(3), 0u);
  EXPECT_EQ(CLimitNotifications::Take(4), 0u);
}

TEST(FormatTextTest, FillsConversionsSafely) {
  EXPECT_EQ(FormatText("%s changed from %s to %s", {"Wi-Fi", "off", "on"}),
            "Wi-Fi changed from off to on");
  EXPECT_EQ(FormatText("100%% %s", {"done"}), "100% done");
  // A translation with more conversions than arguments cannot read past them.
  EXPECT_EQ(FormatText("%s %s %s", {"a"}), "a  ");
  EXPECT_EQ(FormatText("%d items, %x", {"3"}), "3 items, %x");
  EXPECT_EQ(FormatText("ñññññ %s", {"xyz"}, 7), "ñññññ x");
}

}  // namespace
