// The real telvane program on a temporary device, driven only through the device console and
// its own command line.
#include <gtest/gtest.h>

#include "platform/Notify.h"
#include "platform/Time.h"
#include "platform/Window.h"
#include "support/Programs.h"

using namespace platform;

namespace {

std::vector<CE_NOTIFICATION_TRIGGER> ProgramNotifications() {
  std::vector<HNOTIFY> handles;
  CeGetUserNotificationHandles(&handles, 500);
  std::vector<CE_NOTIFICATION_TRIGGER> out;
  for (HNOTIFY h : handles) {
    CE_NOTIFICATION_TRIGGER t;
    if (CeGetUserNotification(h, &t) && t.lpszApplication == TELVANE_BIN)
      out.push_back(t);
  }
  return out;
}

class SpineTest : public ::testing::Test {
 protected:
  TestDevice dev;
  TelvaneProcess telvane{dev};
};

TEST_F(SpineTest, SecondStartBringsTheFirstToTheFrontAndExits) {
  ASSERT_TRUE(telvane.Start());
  ASSERT_TRUE(telvane.WaitForWindow());
  ASSERT_TRUE(WaitUntil([&] { return dev.device().GetState("main_window") == "shown"; }));
  ASSERT_EQ(dev.Console({"post", "MainWindow", "273", "5", "0"}), 0);  // Hide
  ASSERT_TRUE(WaitUntil([&] { return dev.device().GetState("main_window") == "hidden"; }));

  EXPECT_EQ(telvane.Run({}), 0);
  EXPECT_TRUE(WaitUntil([&] { return dev.device().GetState("main_window") == "shown"; }));
  // Still one program, one window.
  EXPECT_NE(FindWindow("MainWindow"), 0u);
  std::string out;
  dev.Console({"state", "--json"}, &out);
  EXPECT_EQ(out.find("MainWindow"), out.rfind("MainWindow")) << out;
}

TEST_F(SpineTest, LaterInstancesRelayTheirCommandLine) {
  ASSERT_TRUE(telvane.Start());
  ASSERT_TRUE(telvane.WaitForWindow());
  EXPECT_EQ(telvane.Run({"timer_notification_03_07"}), 0);
  EXPECT_EQ(telvane.Run({"xtimer_notification_03_07"}), 0);
  EXPECT_EQ(telvane.Run({"idle_notification"}), 0);
  EXPECT_EQ(telvane.Run({"iddle_notification"}), 0);
  EXPECT_TRUE(WaitUntil([&] {
    std::string t = telvane.TraceText();
    return t.find("CWindowMain::OnTimerNotification(3, 7)") != std::string::npos &&
           t.find("CWindowMain::OnTimerNotification(0, 0)") != std::string::npos &&
           t.find("CWindowMain::OnIdleNotification") != std::string::npos;
  })) << telvane.TraceText();
  std::string trace = telvane.TraceText();
  EXPECT_NE(trace.find("Enviando notificacion a aplicacion(3,7)"), std::string::npos);
  EXPECT_NE(trace.find("Notificacion desconocida"), std::string::npos);
}

TEST_F(SpineTest, ArgumentWithoutARunningProgramStartsNothing) {
  EXPECT_EQ(telvane.Run({"timer_notification_03_07"}), 0);
  EXPECT_EQ(FindWindow("MainWindow"), 0u);
}

TEST_F(SpineTest, ExitAsksThenLeavesNoNotificationOfTheProgram) {
  ASSERT_TRUE(telvane.Start());
  ASSERT_TRUE(telvane.WaitForWindow());
  ASSERT_EQ(dev.Console({"notifications", "add", "--at", "2040-01-01 00:00:00", "--app",
                         TELVANE_BIN, "--args", "timer_notification_01_00"}),
            0);
  ASSERT_EQ(
      dev.Console({"notifications", "add", "--at", "2040-01-01 00:00:00", "--app", "/bin/true"}),
      0);
  // Answered no: the program stays.
  ASSERT_EQ(dev.Console({"boxes", "answer", "no"}), 0);
  ASSERT_EQ(dev.Console({"post", "MainWindow", "273", "1234", "0"}), 0);
  std::string boxes;
  ASSERT_TRUE(WaitUntil([&] {
    dev.Console({"boxes"}, &boxes);
    return boxes.find("question") != std::string::npos;
  }));
  EXPECT_FALSE(telvane.WaitForExit(500));

  // A system close request is ignored while "allow_windows_close_tlv" is 0.
  ASSERT_EQ(dev.Console({"post", "MainWindow", "16", "0", "0"}), 0);
  EXPECT_FALSE(telvane.WaitForExit(500));

  ASSERT_EQ(dev.Console({"boxes", "answer", "yes"}), 0);
  ASSERT_EQ(dev.Console({"post", "MainWindow", "273", "1234", "0"}), 0);
  ASSERT_TRUE(telvane.WaitForExit());
  EXPECT_TRUE(ProgramNotifications().empty());
  EXPECT_EQ(dev.device().GetState("main_window"), "closed");
  // The exit traces the counters and finds no worker thread left.
  std::string trace = telvane.TraceText();
  EXPECT_NE(trace.find("CWindowMain::OnPaint()["), std::string::npos);
  EXPECT_NE(trace.find("CScheduleEngine::StartPeriod()["), std::string::npos);
  EXPECT_NE(trace.find("-WorkerThreads(0)"), std::string::npos) << trace;
  std::vector<HNOTIFY> all;
  CeGetUserNotificationHandles(&all, 100);
  EXPECT_EQ(all.size(), 1u) << "other programs' notifications stay";
}

TEST_F(SpineTest, OrderlyRestartRelaunchesTheProgramOnce) {
  ASSERT_TRUE(telvane.Start());
  ASSERT_TRUE(telvane.WaitForWindow());
  int firstPid = WindowProcess(FindWindow("MainWindow"));
  ASSERT_EQ(dev.Console({"post", "MainWindow", "273", "40057", "0"}), 0);  // test: restart
  ASSERT_TRUE(telvane.WaitForExit());
  auto pending = ProgramNotifications();
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].lpszArguments, "");
  std::int64_t ahead = SystemTimeToMs(pending[0].stStartTime) - Clock::LocalNowMs();
  EXPECT_GT(ahead, 5000);
  EXPECT_LE(ahead, 10000);

  // The runner the program started brings it back when the time comes.
  ASSERT_EQ(dev.Console({"clock", "+15s"}), 0);
  ASSERT_TRUE(WaitUntil([] { return FindWindow("MainWindow") != 0; }, 15000));
  EXPECT_NE(WindowProcess(FindWindow("MainWindow")), firstPid);
  EXPECT_TRUE(ProgramNotifications().empty());
}

}  // namespace
