// The Bluetooth manager on the simulated radio: switching, time limits, stack events, the
// bounded retry of failed reads and call-time Bluetooth.
#include <gtest/gtest.h>

#include "app/SystemStateBroker.h"
#include "app/TimerNotification.h"
#include "managers/BTMgr.h"
#include "managers/RadioTestSupport.h"
#include "platform/Bluetooth.h"

using namespace platform;
using radiotest::WaitUntil;

namespace {

class BTMgrThreadTest : public radiotest::RadioFixture {
 protected:
  static DWORD Mode() {
    auto name = Device::Current()->GetState(kBluetoothModeState);
    return name ? ParseBluetoothMode(*name).value_or(99) : BTH_POWER_OFF;
  }
  static void SetCalls(DWORD count) {
    RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Active Call Count", count);
  }
};

TEST_F(BTMgrThreadTest, SwitchesTheRadioAndLeavesItAloneForOtherStatuses) {
  CBTMgr bt;
  EXPECT_EQ(CBTMgr::GetInstance(), &bt);
  bt.ForceStatus(BT_STATUS_DISCOVERABLE, 0, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return bt.GetStatus() == BT_STATUS_DISCOVERABLE; }));
  EXPECT_EQ(Mode(), BTH_DISCOVERABLE);

  // The radio is changed behind the manager's back; the refresh after each ignored request
  // shows it was left as it was.
  BthSetMode(BTH_CONNECTABLE);
  bt.ForceStatus(3, 0, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return bt.GetStatus() == BT_STATUS_CONNECTABLE; }));
  EXPECT_EQ(Mode(), BTH_CONNECTABLE);
  BthSetMode(BTH_POWER_OFF);
  bt.ForceStatus(STATUS_DISABLED, 0, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return bt.GetStatus() == BT_STATUS_OFF; }));
  EXPECT_EQ(Mode(), BTH_POWER_OFF);

  // A timed notification carries the status to switch to.
  bt.DispatchTimerNotification(MGR_ID_WIFI, BT_STATUS_CONNECTABLE);
  bt.DispatchTimerNotification(MGR_ID_BT, BT_STATUS_CONNECTABLE);
  ASSERT_TRUE(WaitUntil([&] { return bt.GetStatus() == BT_STATUS_CONNECTABLE; }));
  EXPECT_EQ(bt.GetStatusName(BT_STATUS_DISCOVERABLE),
            CTexts::GetInstance()->GetText("EVENT_LOG_MGR_BT_STATUS_DISCOVERABLE"));
  EXPECT_EQ(bt.GetStatusName(STATUS_DISABLED), "unknown");
}

TEST_F(BTMgrThreadTest, SwitchingOffDropsThePendingTimeLimit) {
  CBTMgr bt;
  bt.ForceStatus(BT_STATUS_CONNECTABLE, 30, BT_STATUS_OFF, 0);
  ASSERT_TRUE(WaitUntil([&] { return bt.LimitNotification() != 0; }));
  EXPECT_TRUE(timernotification::Exists(MGR_ID_BT, BT_STATUS_OFF));

  // As the worker runs it for a request to switch off.
  bt.ForceStatusChild(BT_STATUS_OFF, 0);
  EXPECT_FALSE(timernotification::Exists(MGR_ID_BT, BT_STATUS_OFF));
  EXPECT_EQ(CLimitNotifications::Get(MGR_ID_BT), 0u);
  EXPECT_EQ(Mode(), BTH_POWER_OFF);

  // Off with a limit of its own keeps that limit.
  bt.ForceStatus(BT_STATUS_OFF, 30, BT_STATUS_DISCOVERABLE, 0);
  ASSERT_TRUE(
      WaitUntil([&] { return timernotification::Exists(MGR_ID_BT, BT_STATUS_DISCOVERABLE); }));
}

TEST_F(BTMgrThreadTest, StackEventsFromAnotherProcessRefreshThroughTheMainWindow) {
  radiotest::TestApp app;
  CBTMgr bt;
  bt.Initialize();
  EXPECT_EQ(bt.GetStatus(), BT_STATUS_OFF);
  EXPECT_TRUE(bt.IsEventThreadRunning());

  ASSERT_EQ(dev.Console({"bt", "discoverable"}), 0);
  MessageQueueSink::Message m;
  ASSERT_TRUE(app.window.sink.Get(&m, 5000));
  EXPECT_EQ(m.msg, WM_BLUETOOTH_EVENT);
  bt.OnBluetoothEvent(m.wParam, m.lParam);
  EXPECT_EQ(bt.GetStatus(), BT_STATUS_DISCOVERABLE);
  EXPECT_EQ(bt.GetEventCount(), 1);
}

TEST_F(BTMgrThreadTest, FifteenFailedReadsStopTheRetriesAndASuccessResetsTheCount) {
  radiotest::TestApp app;
  CBTMgr bt;
  bt.SetReadRetryPauseMs(1);
  BthSetMode(BTH_CONNECTABLE);
  FailNextBluetoothReads(20);

  bt.RefreshStatus(0);
  EXPECT_EQ(bt.GetStatus(), STATUS_DISABLED);
  // Act as the user-interface thread: every retry comes back as WM_BLUETOOTH_EVENT.
  int retries = 0;
  MessageQueueSink::Message m;
  while (app.window.sink.Get(&m, 0)) {
    ASSERT_EQ(m.msg, WM_BLUETOOTH_EVENT);
    bt.OnBluetoothEvent(m.wParam, m.lParam);
    ++retries;
  }
  EXPECT_EQ(retries, CBTMgr::kMaxReadFailures - 1);
  EXPECT_EQ(bt.GetReadFailures(), CBTMgr::kMaxReadFailures);
  EXPECT_EQ(PendingBluetoothReadFailures(), 5);
  EXPECT_EQ(bt.GetStatus(), STATUS_DISABLED);

  FailNextBluetoothReads(0);
  bt.RefreshStatus(0);
  EXPECT_EQ(bt.GetReadFailures(), 0);
  EXPECT_EQ(bt.GetStatus(), BT_STATUS_CONNECTABLE);

  // Counting starts again: the next failure is retried.
  FailNextBluetoothReads(1);
  bt.RefreshStatus(0);
  EXPECT_EQ(bt.GetReadFailures(), 1);
  ASSERT_TRUE(app.window.sink.Get(&m, 0));
  bt.OnBluetoothEvent(m.wParam, m.lParam);
  EXPECT_EQ(bt.GetStatus(), BT_STATUS_CONNECTABLE);
  EXPECT_EQ(app.window.sink.Size(), 0u);
}

TEST_F(BTMgrThreadTest, CallTimeBluetoothGoesDiscoverableForTheWholeCallAndBack) {
  CSystemStateBroker broker;
  SetSetting(CBTMgr::kIntelligentBtKey, 1);
  CBTMgr bt;
  bt.Initialize();
  ASSERT_NE(bt.GetCallWatch(), 0u);
  ASSERT_EQ(bt.GetStatus(), BT_STATUS_OFF);

  SetCalls(1);
  ASSERT_TRUE(WaitUntil([&] { return bt.GetStatus() == BT_STATUS_DISCOVERABLE; }));
  EXPECT_EQ(bt.GetSavedStatus(), BT_STATUS_OFF);
  EXPECT_EQ(Mode(), BTH_DISCOVERABLE);

  // A second simultaneous call, and the end of one of the two, change nothing: Bluetooth stays
  // discoverable while any call is active and the status from before the first call is kept.
  SetCalls(2);
  SetCalls(1);
  SetCalls(0);
  ASSERT_TRUE(WaitUntil([&] { return bt.GetStatus() == BT_STATUS_OFF && !bt.IsInCall(); }));
  EXPECT_EQ(Mode(), BTH_POWER_OFF);
  EXPECT_EQ(ChangingEntries(MGR_ID_BT), 2);
  EXPECT_EQ(bt.GetSavedStatus(), BT_STATUS_OFF);
}

TEST_F(BTMgrThreadTest, WithoutIntelligentBtTheStatusIsSavedButNothingSwitches) {
  CSystemStateBroker broker;
  SetSetting(CBTMgr::kIntelligentBtKey, 0);
  BthSetMode(BTH_CONNECTABLE);
  CBTMgr bt;
  bt.Initialize();
  ASSERT_EQ(bt.GetStatus(), BT_STATUS_CONNECTABLE);

  SetCalls(1);
  ASSERT_TRUE(WaitUntil([&] { return bt.IsInCall(); }));
  EXPECT_EQ(bt.GetSavedStatus(), BT_STATUS_CONNECTABLE);
  SetCalls(0);
  ASSERT_TRUE(WaitUntil([&] { return !bt.IsInCall(); }));
  EXPECT_EQ(ChangingEntries(MGR_ID_BT), 0);
  EXPECT_EQ(Mode(), BTH_CONNECTABLE);

  // The setting is read afresh: switched on during a call, the end of the call restores.
  SetCalls(1);
  ASSERT_TRUE(WaitUntil([&] { return bt.IsInCall(); }));
  BthSetMode(BTH_DISCOVERABLE);
  SetSetting(CBTMgr::kIntelligentBtKey, 1);
  SetCalls(0);
  ASSERT_TRUE(WaitUntil([&] { return Mode() == BTH_CONNECTABLE; }));
}

TEST_F(BTMgrThreadTest, DisabledManagerShowsMinusOneAndWatchesNothing) {
  std::string config(CMgr::kMgrConfigChars, '2');
  config[MGR_ID_BT] = '0';
  SetConfig(config);
  CBTMgr bt;
  bt.Initialize();
  EXPECT_EQ(bt.GetStatus(), STATUS_DISABLED);
  EXPECT_FALSE(bt.IsEventThreadRunning());
  EXPECT_EQ(bt.GetCallWatch(), 0u);
}

TEST_F(BTMgrThreadTest, ShutDownEndsTheEventThreadAndPendingRetries) {
  radiotest::TestApp app;
  for (int i = 0; i < 3; ++i) {
    auto bt = std::make_unique<CBTMgr>();
    bt->Initialize();
    ASSERT_TRUE(bt->IsEventThreadRunning());
    // A failed read whose retry is still waiting must not hold the shut-down up or outlive it.
    FailNextBluetoothReads(1);
    bt->ForceStatus(BT_STATUS_CONNECTABLE, 0, 0, 0);
    BthSetMode(i % 2 ? BTH_POWER_OFF : BTH_DISCOVERABLE);
    bt.reset();
    EXPECT_EQ(CBTMgr::GetInstance(), nullptr);
  }
}

}  // namespace
