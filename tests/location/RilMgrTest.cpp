// The cell tracker on the simulated radio: location changes with their event-log and history
// entries, forced reports, the signal percentage, the radio switched off and on, the battery
// watch, the refresh modes and the cell history's capacity.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "app/RegistrySettings.h"
#include "app/SystemStateBroker.h"
#include "data/StrLAC.h"
#include "data/TableLAC.h"
#include "data/TablePlaces.h"
#include "location/CellHistory.h"
#include "location/LocationTestSupport.h"
#include "location/RilMgr.h"
#include "platform/Notify.h"
#include "platform/PowerStatus.h"

using namespace platform;
using namespace locationtest;

namespace {

// Keeps the reasons a manager fires with.
class ReasonListener : public IStatusListener {
 public:
  void OnStatusChanged(int status, int mgrId, int reason) override {
    std::lock_guard lock(mutex_);
    reasons_.push_back(reason);
  }
  std::string GetListenerName() override { return "ReasonListener"; }
  int Count(int reason) {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(reasons_.begin(), reasons_.end(), reason));
  }

 private:
  std::mutex mutex_;
  std::vector<int> reasons_;
};

RILSIGNALQUALITY Quality(DWORD params, int strength, int minimum, int maximum) {
  return {sizeof(RILSIGNALQUALITY), params, strength, minimum, maximum};
}

class RilMgrThreadTest : public LocationFixture {
 protected:
  void Start() {
    ril = std::make_unique<CRilMgr>();
    ril->AddStatusListener(&listener);
    ril->Initialize();
  }
  void TearDown() override {
    if (ril)
      ril->RemoveStatusListener(&listener);
    ril.reset();
    LocationFixture::TearDown();
  }
  // Moves the phone and waits until the tracker has it.
  void MoveTo(DWORD cellId, DWORD lac) {
    ASSERT_TRUE(ril::SetServingCell(cellId, lac, true));
    ASSERT_TRUE(WaitFor([&] {
      return ril->GetCellId() == static_cast<int>(cellId) && ril->GetLac() == static_cast<int>(lac);
    }));
  }

  ReasonListener listener;
  std::unique_ptr<CRilMgr> ril;
};

TEST(RilMgrSignalTest, PercentageFollowsTheLimitsTheRadioReports) {
  EXPECT_EQ(CRilMgr::SignalPercent(Quality(RIL_PARAM_SQ_ALL, -80, -113, -51)), 53);
  EXPECT_EQ(CRilMgr::SignalPercent(Quality(RIL_PARAM_SQ_ALL, -51, -113, -51)), 100);
  EXPECT_EQ(CRilMgr::SignalPercent(Quality(RIL_PARAM_SQ_ALL, -113, -113, -51)), 0);
  // Odd sum of the limits: the half is taken toward zero first (33 would give 52).
  EXPECT_EQ(CRilMgr::SignalPercent(Quality(RIL_PARAM_SQ_ALL, -80, -113, -50)), 50);
  // Without the minimum there is nothing to measure against.
  EXPECT_EQ(CRilMgr::SignalPercent(Quality(RIL_PARAM_SQ_SIGNALSTRENGTH, -80, -113, -51)), -1);
  EXPECT_EQ(CRilMgr::SignalPercent(Quality(RIL_PARAM_SQ_MINSIGNALSTRENGTH, -80, -113, -51)), -1);
  // Limits that make no range, and strengths outside them, stay within 0..100.
  EXPECT_EQ(CRilMgr::SignalPercent(Quality(RIL_PARAM_SQ_ALL, -80, -60, -60)), -1);
  EXPECT_EQ(CRilMgr::SignalPercent(Quality(RIL_PARAM_SQ_ALL, -30, -113, -51)), 100);
  EXPECT_EQ(CRilMgr::SignalPercent(Quality(RIL_PARAM_SQ_ALL, -130, -113, -51)), 0);
}

TEST_F(RilMgrThreadTest, SameCellTwiceIsOneChangeAndAForcedRefreshReportsItAgain) {
  Start();
  MoveTo(4711, 300);
  // The same cell announced again: nothing new.
  ASSERT_TRUE(ril::SetServingCell(4711, 300, true));
  ASSERT_TRUE(WaitFor([&] { return ril->GetLocationNotificationCount() == 2; }));
  auto entries = LogEntries(MGR_ID_RIL);
  ASSERT_EQ(entries.size(), 1u) << entries.back().description;
  EXPECT_EQ(entries[0].summary, "New location: cell 4711, area 300");
  EXPECT_EQ(entries[0].description,
            "The location changed from cell 0 in area 0 to cell 4711 in area 300");
  EXPECT_EQ(CCellHistory::Instance()->GetCount(), 1);
  int reported = listener.Count(CRilMgr::REASON_LOCATION);

  ril->RefreshStatus(1);
  ASSERT_TRUE(WaitFor([&] { return listener.Count(CRilMgr::REASON_LOCATION) > reported; }));
  EXPECT_EQ(LogEntries(MGR_ID_RIL).size(), 1u);
  EXPECT_EQ(CCellHistory::Instance()->GetCount(), 1);
  // The manager's own status never changes.
  EXPECT_EQ(ril->GetStatus(), STATUS_UNKNOWN);
}

TEST_F(RilMgrThreadTest, FirstNotificationIsRememberedInTheSettings) {
  Start();
  EXPECT_EQ(CRegistrySettings::Instance()->GetDWORD(CRilMgr::kNotificationReceivedKey), 0u);
  ASSERT_TRUE(ril::SetServingCell(1, 2, true));
  EXPECT_TRUE(WaitFor([] {
    return CRegistrySettings::Instance()->GetDWORD(CRilMgr::kNotificationReceivedKey) == 1;
  }));
  EXPECT_EQ(ril->GetLocationNotificationCount(), 1);
}

TEST_F(RilMgrThreadTest, QuietCellChangeIsFoundByARequest) {
  Start();
  ASSERT_TRUE(ril::SetServingCell(77, 88, false));
  ril->RequestCellTowerInfo();
  ASSERT_TRUE(WaitFor([&] { return ril->GetCellId() == 77; }));
  EXPECT_EQ(ril->GetLocationNotificationCount(), 0);
  auto history = CCellHistory::Instance()->GetEntries();
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].FromNotification, 0);
}

TEST_F(RilMgrThreadTest, HistoryKeepsTheNewestWithTheirPlaces) {
  SetSetting(CCellHistory::kCapacityKey, 3);
  CCellHistory::Release();
  CStrPlace office("Office", "", "", -1);
  db->GetTablePlaces()->Insert(office);
  CStrLAC area(500, office.GetId());
  db->GetTableLAC()->Insert(area);
  struct Counts : ICellHistoryListener {
    void OnHistoryChanged(int count) override {
      std::lock_guard lock(mutex);
      seen.push_back(count);
    }
    std::vector<int> Seen() {
      std::lock_guard lock(mutex);
      return seen;
    }
    std::mutex mutex;
    std::vector<int> seen;
  } listener;
  CCellHistory::Instance()->AddListener(&listener);
  // The phone starts on the first cell, so that the answer to the start's own request is the
  // first move whether it comes before or after it.
  ASSERT_TRUE(ril::SetServingCell(1, 101, false));
  Start();
  for (DWORD i = 1; i <= 5; ++i)
    MoveTo(i, i == 5 ? 500 : 100 + i);
  // Every report reaches the listener with the length, which stops at the capacity.
  EXPECT_EQ(listener.Seen(), (std::vector<int>{1, 2, 3, 3, 3}));
  CCellHistory::Instance()->RemoveListener(&listener);
  MoveTo(6, 106);
  EXPECT_EQ(listener.Seen().size(), 5u) << "a removed listener hears nothing more";
  auto history = CCellHistory::Instance()->GetEntries();
  ASSERT_EQ(history.size(), 3u);
  EXPECT_EQ(history[0].CellId, 6);
  EXPECT_EQ(history[1].CellId, 5);
  EXPECT_EQ(history[1].PlaceId, office.GetId());
  EXPECT_EQ(history[1].PlaceName, "Office");
  EXPECT_EQ(history[1].FromNotification, 1);
  EXPECT_EQ(history[2].CellId, 4);
  EXPECT_EQ(history[2].PlaceId, 0);
  EXPECT_EQ(history[2].PlaceName, "Unknown");

  CCellHistory::Instance()->InvalidatePlaces();
  EXPECT_EQ(CCellHistory::Instance()->GetEntries()[0].PlaceId, -1);
}

TEST_F(RilMgrThreadTest, CellModeUsesTheCellAsLocationCode) {
  SetSetting(CRilMgr::kLocationModeKey, 1);
  Start();
  EXPECT_TRUE(CStrLocation::IsCellMode());
  MoveTo(4711, 300);
  EXPECT_EQ(ril->GetLocationCode(), 4711);
  ril->SetLocationMode(0);
  EXPECT_EQ(ril->GetLocationCode(), 300);
  EXPECT_EQ(CRegistrySettings::Instance()->GetDWORD(CRilMgr::kLocationModeKey), 0u);
}

TEST_F(RilMgrThreadTest, RadioOffDropsSignalAndLocationUntilItIsBack) {
  ForceLog log;
  CStandInMgr phone(MGR_ID_PHONE, &log);
  phone.RefreshStatus(0);
  ASSERT_TRUE(ril::SetSignal({-80, -113, -51, RIL_PARAM_SQ_ALL}));
  Start();
  MoveTo(10, 20);
  ASSERT_TRUE(WaitFor([&] { return ril->GetSignalPercent() == 53; }));
  // The answer to the start's request may have logged the phone's first cell before the move.
  const std::size_t before = LogEntries(MGR_ID_RIL).size();

  SetRadio(false);
  phone.RefreshStatus(0);  // the phone manager reports the radio off
  EXPECT_EQ(ril->GetSignalPercent(), 0);
  EXPECT_EQ(ril->GetCellId(), 0);
  EXPECT_EQ(ril->GetLac(), 0);

  // Back on, the same cell is a change again.
  SetRadio(true);
  phone.RefreshStatus(0);
  ASSERT_TRUE(WaitFor([&] { return ril->GetCellId() == 10; }));
  ASSERT_TRUE(WaitFor([&] { return LogEntries(MGR_ID_RIL).size() == before + 1; }));
  EXPECT_EQ(LogEntries(MGR_ID_RIL).back().summary, "New location: cell 10, area 20");
  ASSERT_TRUE(WaitFor([&] { return ril->GetSignalPercent() == 53; }));
  ril->RemoveStatusListener(&listener);
  ril.reset();  // stops listening to the phone manager before it goes
}

TEST_F(RilMgrThreadTest, DisabledManagerOpensNothing) {
  std::string config(53, '2');
  config[MGR_ID_RIL] = '0';
  RegistrySetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvella\\Telvane", "mgr_config", config);
  CMgr::LoadConfig();
  Start();
  EXPECT_EQ(ril->GetStatus(), STATUS_DISABLED);
  ril->RequestCellTowerInfo();  // without an open radio nothing is asked
  ril->RefreshStatus(1);        // nor refreshed
  EXPECT_EQ(ril->GetStatus(), STATUS_DISABLED);
  EXPECT_EQ(ril->GetBatteryPercent(), 0);
  EXPECT_EQ(ril->GetRefreshMode(), -1);
}

TEST_F(RilMgrThreadTest, BatteryWatchReportsTheNewLevel) {
  CSystemStateBroker broker;
  Start();
  ASSERT_TRUE(WaitFor([&] { return ril->GetBatteryPercent() == 80; }));
  int reported = listener.Count(CRilMgr::REASON_BATTERY);
  ASSERT_TRUE(SetBatteryState(35, false));
  // The broker's thread reads its queue after its start-up pause.
  ASSERT_TRUE(WaitFor([&] { return ril->GetBatteryPercent() == 35; }, 10000));
  EXPECT_EQ(listener.Count(CRilMgr::REASON_BATTERY), reported + 1);
  ril->RemoveStatusListener(&listener);
  ril.reset();  // leaves the broker before it goes
}

TEST_F(RilMgrThreadTest, WakeUpModeArmsAndRearmsItsNotification) {
  Clock::UseVirtual(SystemTimeToMs({2030, 1, 0, 7, 10, 0, 0, 0}));
  Start();
  EXPECT_EQ(ril->GetRefreshMode(), CRilMgr::REFRESH_NONE);
  auto armed = [] {
    std::vector<HNOTIFY> handles;
    CeGetUserNotificationHandles(&handles, 100);
    std::vector<CE_NOTIFICATION_TRIGGER> out;
    for (HNOTIFY h : handles) {
      CE_NOTIFICATION_TRIGGER t;
      if (CeGetUserNotification(h, &t) && t.lpszArguments == "timer_notification_06_00")
        out.push_back(t);
    }
    return out;
  };
  EXPECT_TRUE(armed().empty());

  // 0 -> 15 minutes with wake-ups: armed without a restart.
  SetSetting(CRilMgr::kRefreshMinutesKey, 15);
  SetSetting(CRilMgr::kAwakeToRefreshKey, 1);
  ril->ApplyRefreshSettings();
  EXPECT_EQ(ril->GetRefreshMode(), CRilMgr::REFRESH_WAKE);
  auto list = armed();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(FormatSystemTime(list[0].stStartTime), "2030-01-07 10:15:00");

  // The wake-up asks for the cell and arms the next one.
  ASSERT_TRUE(ril::SetServingCell(5, 6, false));
  Clock::AdvanceVirtual(15 * 60000);
  ril->DispatchTimerNotification(MGR_ID_RIL, CRilMgr::kRefreshTimerParam);
  ASSERT_TRUE(WaitFor([&] { return ril->GetCellId() == 5; }));
  list = armed();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(FormatSystemTime(list[0].stStartTime), "2030-01-07 10:30:00");

  // Polling instead: the wake-up goes.
  SetSetting(CRilMgr::kAwakeToRefreshKey, 0);
  ril->ApplyRefreshSettings();
  EXPECT_EQ(ril->GetRefreshMode(), CRilMgr::REFRESH_POLL);
  EXPECT_TRUE(armed().empty());
}

TEST_F(RilMgrThreadTest, PollingAsksForTheCellAtOnce) {
  SetSetting(CRilMgr::kRefreshMinutesKey, 30);
  Start();
  EXPECT_EQ(ril->GetRefreshMode(), CRilMgr::REFRESH_POLL);
  int before = ril->GetLocationResultCount();
  ASSERT_TRUE(ril::SetServingCell(9, 9, false));
  // New settings wake the polling thread, which asks again at once.
  SetSetting(CRilMgr::kRefreshMinutesKey, 31);
  ril->ApplyRefreshSettings();
  ASSERT_TRUE(WaitFor([&] { return ril->GetCellId() == 9; }));
  EXPECT_GT(ril->GetLocationResultCount(), before);
}

}  // namespace
