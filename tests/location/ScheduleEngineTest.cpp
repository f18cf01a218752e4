// The schedule engine end to end on the simulated phone, with the virtual clock and a real
// profile database: the phone moves (radio notifications reach the cell tracker, which reports
// to the engine), frame boundaries fire through the notification runner, and the tests read the
// event log, the published place and frame, the notifications armed, the device's state and the
// requests the stand-in managers received.
#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>

#include "app/RegistrySettings.h"
#include "app/TimerNotification.h"
#include "data/StrCell.h"
#include "data/StrLAC.h"
#include "data/TableActions.h"
#include "data/TableCell.h"
#include "data/TableLAC.h"
#include "data/TablePeriods.h"
#include "data/TablePlaces.h"
#include "location/LocationTestSupport.h"
#include "location/RilMgr.h"
#include "location/ScheduleEngine.h"
#include "managers/MessageMgr.h"
#include "platform/Mosutil.h"
#include "platform/NotificationRunner.h"
#include "platform/Notify.h"
#include "platform/Shell.h"
#include "platform/Text.h"

using namespace platform;
using namespace locationtest;

namespace {

// Monday 7 January 2030.
SYSTEMTIME At(int day, int hour, int minute) {
  return {2030, 1, 0, static_cast<WORD>(day), static_cast<WORD>(hour), static_cast<WORD>(minute),
          0,    0};
}

struct Armed {
  std::string args;
  std::string due;
};

class ScheduleEngineThreadTest : public LocationFixture {
 protected:
  void SetUp() override {
    LocationFixture::SetUp();
    Clock::UseVirtual(SystemTimeToMs(At(7, 10, 0)));
  }
  void TearDown() override {
    CScheduleEngine::DestroyInstance();
    // As at the program's end: no manager's command still runs while managers go away.
    for (auto& m : managers)
      m->Stop();
    ril.reset();
    managers.clear();
    LocationFixture::TearDown();
  }

  // Stand-ins for the managers with these ids, then the cell tracker and the engine; returns
  // once the engine has evaluated the start-up location (none).
  void Start(std::initializer_list<int> standIns = {}) {
    for (int id : standIns) {
      managers.push_back(std::make_unique<CStandInMgr>(id, &forces));
      managers.back()->RefreshStatus(0);
    }
    ril = std::make_unique<CRilMgr>();
    engine = CScheduleEngine::Instance();
    engine->SetRecheckWaits(50, 50);
    ScheduleEngineHooks hooks = CScheduleEngine::DefaultHooks();
    hooks.setForwardNumber = [this](CMgr*, const std::string& number) {
      std::lock_guard lock(numbersMutex);
      numbers.push_back(number);
    };
    engine->SetHooks(hooks);
    DWORD since = GetTickCount();
    ril->Initialize();
    // The radio's first answer (a cell, or none with the radio off) has been evaluated.
    ASSERT_TRUE(WaitFor([&] { return ril->GetLocationResultCount() >= 1; }));
    Settle(0, since);
  }

  CStrPlace AddPlace(const std::string& name) {
    CStrPlace place(name, "", "", -1);
    db->GetTablePlaces()->Insert(place);
    return place;
  }
  void AddLac(std::int32_t lac, const CStrPlace& place) {
    CStrLAC record(lac, place.GetId());
    db->GetTableLAC()->Insert(record);
  }
  CStrPeriod AddFrame(std::int32_t placeId, const std::string& name, int h1, int m1, int h2,
                      int m2) {
    CStrPeriod frame;
    frame.SetIdPlace(placeId);
    frame.SetName(name);
    frame.SetStart(h1, m1);
    frame.SetEnd(h2, m2);
    db->GetTablePeriods()->Insert(frame);
    return frame;
  }
  CStrAction AddAction(const CStrPeriod& frame, int mgrId, int type, int intOp1, int mask = 0) {
    CStrAction action;
    action.SetIdPeriod(frame.GetId());
    action.SetMgrId(mgrId);
    action.SetType(type);
    action.SetIntOp1(intOp1);
    action.SetIntOp2(mask);
    db->GetTableActions()->Insert(action);
    return action;
  }

  void MoveTo(DWORD cellId, DWORD lac) { ASSERT_TRUE(ril::SetServingCell(cellId, lac, true)); }

  // The engine's records: "+Place,Frame" entering, "-Place,Frame" leaving, "skip", "action:Name".
  std::vector<std::string> Runs() {
    std::vector<std::string> out;
    for (const auto& e : LogEntries(CScheduleEngine::kEventLogCode)) {
      const std::string& s = e.summary;
      auto strip = [&](std::size_t from) {
        std::string rest = s.substr(from);
        return rest.substr(0, rest.find(" ("));
      };
      if (s.rfind("Entering ", 0) == 0)
        out.push_back("+" + strip(9));
      else if (s.rfind("Leaving ", 0) == 0)
        out.push_back("-" + strip(8));
      else if (s == "Time frame already run, skipped")
        out.push_back("skip");
      else if (s.rfind("Action skipped: ", 0) == 0)
        out.push_back("action:" + s.substr(16));
    }
    return out;
  }
  ::testing::AssertionResult WaitRuns(const std::vector<std::string>& expected) {
    if (WaitFor([&] { return Runs() == expected; }))
      return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << "runs:";
    for (const std::string& run : Runs())
      failure << " [" << run << "]";
    return failure;
  }

  // Waits until the engine has taken more than `executedBefore` commands, finished one at or
  // after the tick count `since`, and has then been idle for a moment.
  void Settle(int executedBefore, DWORD since) {
    ASSERT_TRUE(WaitFor([&] {
      DWORD last = engine->GetLastCommandTick();
      return engine->GetExecutedCount() > executedBefore && engine->GetQueueLength() == 0 &&
             last >= since && GetTickCount() - last > 300;
    }));
  }

  std::vector<Armed> ArmedNotifications() {
    std::vector<HNOTIFY> handles;
    CeGetUserNotificationHandles(&handles, 100);
    std::vector<Armed> out;
    for (HNOTIFY h : handles) {
      CE_NOTIFICATION_TRIGGER t;
      if (CeGetUserNotification(h, &t) && t.lpszApplication == timernotification::ProgramPath())
        out.push_back({t.lpszArguments, FormatSystemTime(t.stStartTime)});
    }
    return out;
  }
  bool WaitArmed(const std::string& args, const std::string& due) {
    return WaitFor([&] {
      auto list = ArmedNotifications();
      return list.size() == 1 && list[0].args == args && list[0].due == due;
    });
  }

  // Moves the clock to `when` and fires what is due, as the phone's runner would, handing each
  // notification to the engine as the main window does.
  int FireAt(const SYSTEMTIME& when) {
    Clock::UseVirtual(SystemTimeToMs(when));
    NotificationRunner runner([this](const std::string&, const std::string& args) {
      int id = 0, param = 0;
      timernotification::ParseTimerArgument(args, &id, &param);
      engine->DispatchTimerNotification(id, param);
      return true;
    });
    return runner.RunDue(Clock::LocalNowMs());
  }

  std::string Setting(const char* name) { return CRegistrySettings::Instance()->GetString(name); }

  std::vector<std::pair<int, int>> Forces() {
    std::vector<std::pair<int, int>> out;
    for (const auto& c : forces.Calls())
      out.emplace_back(c.mgrId, c.status);
    return out;
  }

  ForceLog forces;
  std::vector<std::unique_ptr<CStandInMgr>> managers;
  std::unique_ptr<CRilMgr> ril;
  CScheduleEngine* engine = nullptr;
  std::mutex numbersMutex;
  std::vector<std::string> numbers;
};

TEST(ScheduleEngineRangeTest, RangesWrapAndCoverTheDay) {
  CStrPeriod day, night, whole;
  day.SetStart(8, 0);
  day.SetEnd(18, 0);
  night.SetStart(22, 0);
  night.SetEnd(2, 0);
  whole.SetStart(0, 0);
  whole.SetEnd(0, 0);
  using E = CScheduleEngine;
  EXPECT_TRUE(E::Contains(day, {8, 0}, true));
  EXPECT_FALSE(E::Contains(day, {18, 0}, true));
  EXPECT_FALSE(E::Contains(day, {8, 0}, false));
  EXPECT_TRUE(E::Contains(day, {18, 0}, false));
  EXPECT_TRUE(E::Contains(night, {23, 30}, true));
  EXPECT_TRUE(E::Contains(night, {1, 0}, true));
  EXPECT_FALSE(E::Contains(night, {2, 0}, true));
  EXPECT_FALSE(E::Contains(night, {21, 59}, true));
  EXPECT_TRUE(E::Contains(whole, {0, 0}, true));
  EXPECT_TRUE(E::Contains(whole, {13, 0}, true));

  CStrPeriod inside, across, after;
  inside.SetStart(10, 0);
  inside.SetEnd(11, 0);
  across.SetStart(17, 0);
  across.SetEnd(19, 0);
  after.SetStart(18, 0);
  after.SetEnd(20, 0);
  EXPECT_TRUE(E::ContainsRange(day, inside));
  EXPECT_FALSE(E::ContainsRange(day, across));
  EXPECT_TRUE(E::Intersects(day, across));
  EXPECT_TRUE(E::Intersects(inside, day));
  EXPECT_FALSE(E::Intersects(day, after));  // touching at 18:00 is no overlap
  EXPECT_TRUE(E::Intersects(whole, after));
  EXPECT_TRUE(E::Intersects(night, whole));
}

TEST_F(ScheduleEngineThreadTest, SameKnownAreaTwiceChangesNoFrameAndLearnsTheCell) {
  CStrPlace office = AddPlace("Office");
  AddLac(100, office);
  CStrPeriod work = AddFrame(office.GetId(), "Work", 8, 0, 18, 0);
  ASSERT_EQ(work.GetId(), 0);  // the first frame of a new database: entered, never a repeat
  Start();
  MoveTo(1, 100);
  ASSERT_TRUE(WaitRuns({"+Office, Work"}));
  ASSERT_TRUE(WaitFor([&] { return Setting("current_frame") == "Work(08:00-18:00)"; }));
  EXPECT_EQ(Setting("current_place"), "Office");
  EXPECT_EQ(CRegistrySettings::Instance()->GetDWORD("last_place"),
            static_cast<DWORD>(office.GetId()));
  EXPECT_TRUE(WaitArmed("timer_notification_07_00", "2030-01-07 18:00:00"));

  MoveTo(2, 100);
  CStrCell learned;
  learned.SetCode(2);
  ASSERT_TRUE(WaitFor([&] { return db->GetTableCell()->FindAndFill(learned); }));
  EXPECT_EQ(learned.GetPlaceId(), office.GetId());
  CStrCell first;
  first.SetCode(1);
  EXPECT_FALSE(db->GetTableCell()->FindAndFill(first));
  EXPECT_EQ(Runs(), std::vector<std::string>{"+Office, Work"});
}

TEST_F(ScheduleEngineThreadTest, LearningIsOffWithoutTheSetting) {
  SetSetting(CScheduleEngine::kIntelligentLacKey, 0);
  CStrPlace office = AddPlace("Office");
  AddLac(100, office);
  Start();
  MoveTo(1, 100);
  ASSERT_TRUE(WaitFor([&] { return engine->GetLastCode() == 100; }));
  int before = engine->GetExecutedCount();
  DWORD since = GetTickCount();
  MoveTo(2, 100);
  Settle(before, since);
  std::vector<CStrCell> cells;
  db->GetTableCell()->GetAllRecords(&cells);
  EXPECT_TRUE(cells.empty());
}

TEST_F(ScheduleEngineThreadTest, FrameAcrossMidnightIsInForceOnBothSidesAndEndsNextDay) {
  Clock::UseVirtual(SystemTimeToMs(At(7, 23, 30)));
  CStrPlace home = AddPlace("Home");
  AddLac(200, home);
  CStrPeriod night = AddFrame(home.GetId(), "Night", 22, 0, 2, 0);
  Start();
  MoveTo(7, 200);
  ASSERT_TRUE(WaitRuns({"+Home, Night"}));
  ASSERT_TRUE(WaitArmed("timer_notification_07_00", "2030-01-08 02:00:00"));

  Clock::UseVirtual(SystemTimeToMs(At(8, 1, 0)));
  CStrPeriod inForce;
  ASSERT_TRUE(engine->GetCurrentFrame(&inForce));
  EXPECT_EQ(inForce.GetId(), night.GetId());
  EXPECT_EQ(engine->FindFrameId(2, 0, home.GetId()), -1);
  EXPECT_EQ(engine->FindFrameId(21, 59, home.GetId()), -1);

  EXPECT_EQ(FireAt(At(8, 1, 59)), 0);
  EXPECT_EQ(FireAt(At(8, 2, 0)), 1);
  ASSERT_TRUE(WaitRuns({"+Home, Night", "-Home, Night"}));
  // Nothing is in force until the evening: its start is armed instead.
  EXPECT_TRUE(WaitArmed("timer_notification_07_01", "2030-01-08 22:00:00"));
  EXPECT_TRUE(WaitFor([&] { return Setting("current_frame").empty(); }));
  EXPECT_EQ(engine->GetCurrentFrameRef().GetId(), -1);

  EXPECT_EQ(FireAt(At(8, 22, 0)), 1);
  ASSERT_TRUE(WaitRuns({"+Home, Night", "-Home, Night", "+Home, Night"}));
  EXPECT_TRUE(WaitArmed("timer_notification_07_00", "2030-01-09 02:00:00"));
}

TEST_F(ScheduleEngineThreadTest, WholeDayFrameIsLeftAndEnteredAgainAtMidnight) {
  CStrPlace home = AddPlace("Home");
  AddLac(200, home);
  CStrPeriod whole = db->GetTablePeriods()->CreateDefaultPeriod(home.GetId());
  AddAction(whole, MGR_ID_WIFI, CStrAction::TYPE_ENTER, 1);
  AddAction(whole, MGR_ID_WIFI, CStrAction::TYPE_LEAVE, 0);
  Start({MGR_ID_WIFI});
  MoveTo(7, 200);
  ASSERT_TRUE(WaitRuns({"+Home, Default"}));
  ASSERT_TRUE(WaitFor([&] { return Setting("current_frame") == "Default(00:00-00:00)"; }));
  ASSERT_TRUE(WaitArmed("timer_notification_07_00", "2030-01-08 00:00:00"));

  EXPECT_EQ(FireAt(At(8, 0, 0)), 1);
  ASSERT_TRUE(WaitRuns({"+Home, Default", "-Home, Default", "+Home, Default"}));
  // The next midnight, not this one again.
  EXPECT_TRUE(WaitArmed("timer_notification_07_00", "2030-01-09 00:00:00"));
  EXPECT_EQ(FireAt(At(8, 0, 0)), 0);
  ASSERT_TRUE(WaitFor([&] { return forces.Calls().size() == 3; }));
  EXPECT_EQ(Forces(), (std::vector<std::pair<int, int>>{{0, 1}, {0, 0}, {0, 1}}));
}

TEST_F(ScheduleEngineThreadTest, KnownToUnknownLeavesThePlaceForTheUnknownPlace) {
  CStrPlace office = AddPlace("Office");
  AddLac(100, office);
  CStrPeriod work = AddFrame(office.GetId(), "Work", 8, 0, 18, 0);
  AddAction(work, MGR_ID_WIFI, CStrAction::TYPE_LEAVE, 0);
  CStrPeriod away = AddFrame(CTablePlaces::kUnknownPlaceId, "Away", 0, 0, 0, 0);
  AddAction(away, MGR_ID_BT, CStrAction::TYPE_ENTER, 1);
  Start({MGR_ID_WIFI, MGR_ID_BT});
  // With no cell yet the phone is at the unknown place.
  ASSERT_TRUE(WaitRuns({"+Unknown, Away"}));
  MoveTo(1, 100);
  ASSERT_TRUE(WaitRuns({"+Unknown, Away", "-Unknown, Away", "+Office, Work"}));
  ASSERT_TRUE(WaitFor([&] { return Setting("current_place") == "Office"; }));

  MoveTo(2, 999);
  ASSERT_TRUE(WaitRuns(
      {"+Unknown, Away", "-Unknown, Away", "+Office, Work", "-Office, Work", "+Unknown, Away"}));
  EXPECT_EQ(CRegistrySettings::Instance()->GetDWORD("last_place"), 0u);
  ASSERT_TRUE(WaitFor([&] { return Setting("current_frame") == "Away(00:00-00:00)"; }));
  EXPECT_EQ(Setting("current_place"), "");
  ASSERT_TRUE(WaitFor([&] { return forces.Calls().size() == 3; }));
  EXPECT_EQ(Forces(), (std::vector<std::pair<int, int>>{{1, 1}, {0, 0}, {1, 1}}));
}

TEST_F(ScheduleEngineThreadTest, ManualModeIgnoresLocationsAndBoundaries) {
  SetSetting(CScheduleEngine::kManualModeKey, 1);
  CStrPlace office = AddPlace("Office");
  AddLac(100, office);
  CStrPeriod work = AddFrame(office.GetId(), "Work", 8, 0, 18, 0);
  AddAction(work, MGR_ID_WIFI, CStrAction::TYPE_ENTER, 1);
  Start({MGR_ID_WIFI});
  int before = engine->GetExecutedCount();
  DWORD since = GetTickCount();
  MoveTo(1, 100);
  Settle(before, since);
  engine->OnTimedNotification(MGR_ID_SCHEDULE_PERIOD, CScheduleEngine::KIND_FRAME_END);
  engine->OnTimedNotification(MGR_ID_SCHEDULE_PERIOD, CScheduleEngine::KIND_NEXT_START);
  EXPECT_EQ(engine->GetQueueLength(), 0u);
  EXPECT_TRUE(Runs().empty());
  EXPECT_TRUE(forces.Calls().empty());
  EXPECT_TRUE(ArmedNotifications().empty());
}

TEST_F(ScheduleEngineThreadTest, DisabledActionWritesOneSkippedRecordAndNothingElse) {
  CStrPlace office = AddPlace("Office");
  AddLac(100, office);
  CStrPeriod work = AddFrame(office.GetId(), "Work", 8, 0, 18, 0);
  AddAction(work, MGR_ID_WIFI, CStrAction::TYPE_ENTER, 1, 1);    // 00000001: disabled
  AddAction(work, MGR_ID_BT, CStrAction::TYPE_ENTER, 1, 10);     // 00000010: not on Mondays
  AddAction(work, MGR_ID_BEAM, CStrAction::TYPE_ENTER, 1, 100);  // not on Tuesdays
  Start({MGR_ID_WIFI, MGR_ID_BT, MGR_ID_BEAM});
  MoveTo(1, 100);
  ASSERT_TRUE(WaitRuns({"+Office, Work", "action:StandIn0", "action:StandIn1"}));
  ASSERT_TRUE(WaitFor([&] { return !forces.Calls().empty(); }));
  EXPECT_EQ(Forces(), (std::vector<std::pair<int, int>>{{MGR_ID_BEAM, 1}}));
  auto skipped = LogEntries(CScheduleEngine::kEventLogCode)[1];
  EXPECT_EQ(skipped.description,
            "An action (StandIn0) was skipped because it is disabled or not active today");
}

TEST_F(ScheduleEngineThreadTest, PhoneOffAndResetRunAfterEveryOtherAction) {
  CStrPlace office = AddPlace("Office");
  AddLac(100, office);
  CStrPeriod work = AddFrame(office.GetId(), "Work", 8, 0, 18, 0);
  AddAction(work, MGR_ID_PHONE, CStrAction::TYPE_ENTER, 1);
  AddAction(work, MGR_ID_CPU, CStrAction::TYPE_ENTER, CScheduleEngine::kResetPowerState);
  AddAction(work, MGR_ID_WIFI, CStrAction::TYPE_ENTER, 1);
  AddAction(work, MGR_ID_BT, CStrAction::TYPE_ENTER, 2);
  Start({MGR_ID_PHONE, MGR_ID_CPU, MGR_ID_WIFI, MGR_ID_BT});
  MoveTo(1, 100);
  ASSERT_TRUE(WaitFor([&] { return forces.Calls().size() == 4; }));
  auto calls = forces.Calls();
  EXPECT_EQ(Forces(),
            (std::vector<std::pair<int, int>>{{MGR_ID_WIFI, 1},
                                              {MGR_ID_BT, 2},
                                              {MGR_ID_PHONE, 1},
                                              {MGR_ID_CPU, CScheduleEngine::kResetPowerState}}));
  EXPECT_EQ(calls[2].delayMs, 0);
  // The reset waits so that the run's records are written first.
  EXPECT_EQ(calls[3].delayMs, CScheduleEngine::kResetDelayMs);
}

TEST_F(ScheduleEngineThreadTest, RadioOnComesBeforeForwardingWhichWaitsForTheNetwork) {
  CStrPlace office = AddPlace("Office");
  AddLac(100, office);
  CStrPeriod work = AddFrame(office.GetId(), "Work", 8, 0, 18, 0);
  CStrAction forward = AddAction(work, MGR_ID_CALL_FORWARD, CStrAction::TYPE_ENTER, 1);
  forward.SetSzOp1("+34600111222");
  db->GetTableActions()->Update(forward);
  AddAction(work, MGR_ID_PHONE, CStrAction::TYPE_ENTER, 0);
  CStrPeriod evening = AddFrame(office.GetId(), "Evening", 18, 0, 22, 0);
  AddAction(evening, MGR_ID_CALL_FORWARD, CStrAction::TYPE_ENTER, 0);
  AddAction(evening, MGR_ID_PHONE, CStrAction::TYPE_ENTER, 1);
  Start({MGR_ID_PHONE, MGR_ID_CALL_FORWARD});
  MoveTo(1, 100);
  ASSERT_TRUE(WaitFor([&] { return forces.Calls().size() == 2; }));
  auto calls = forces.Calls();
  EXPECT_EQ(calls[0].mgrId, MGR_ID_PHONE);
  EXPECT_EQ(calls[1].mgrId, MGR_ID_CALL_FORWARD);
  EXPECT_EQ(calls[1].delayMs, CScheduleEngine::kForwardAfterRadioOnDelayMs);

  // Radio off: forwarding is switched first, while the network is still there.
  EXPECT_EQ(FireAt(At(7, 18, 0)), 1);
  ASSERT_TRUE(WaitFor([&] { return forces.Calls().size() == 4; }));
  calls = forces.Calls();
  EXPECT_EQ(calls[2].mgrId, MGR_ID_CALL_FORWARD);
  EXPECT_EQ(calls[2].status, 0);
  EXPECT_EQ(calls[3].mgrId, MGR_ID_PHONE);
  EXPECT_EQ(calls[3].param, CScheduleEngine::kRadioAfterForwardParam);
  std::lock_guard lock(numbersMutex);
  EXPECT_EQ(numbers, (std::vector<std::string>{"+34600111222", ""}));
}

TEST_F(ScheduleEngineThreadTest, SameRunTwiceIsSkippedOnce) {
  CStrPlace office = AddPlace("Office");
  AddLac(100, office);
  CStrPeriod work = AddFrame(office.GetId(), "Work", 8, 0, 18, 0);
  AddAction(work, MGR_ID_WIFI, CStrAction::TYPE_ENTER, 1);
  Start({MGR_ID_WIFI});
  MoveTo(1, 100);
  ASSERT_TRUE(WaitRuns({"+Office, Work"}));
  // Data changed: the same frame is chosen and entered again without being left.
  engine->ChangeInDB();
  ASSERT_TRUE(WaitRuns({"+Office, Work", "skip"}));
  EXPECT_EQ(engine->GetRunCount(), 2);
  EXPECT_EQ(Forces(), (std::vector<std::pair<int, int>>{{MGR_ID_WIFI, 1}}));
}

TEST_F(ScheduleEngineThreadTest, LockFollowsThePlaceUntilItsEnd) {
  CStrPlace office = AddPlace("Office");
  AddLac(100, office);
  AddFrame(office.GetId(), "Work", 0, 0, 0, 0);
  CStrPlace home = AddPlace("Home");
  AddLac(200, home);
  AddFrame(home.GetId(), "Evening", 0, 0, 0, 0);
  Start();
  MoveTo(1, 100);
  ASSERT_TRUE(WaitRuns({"+Office, Work"}));

  CStrPlace candidate;
  ASSERT_TRUE(engine->GetLockCandidate(&candidate));
  EXPECT_EQ(candidate.GetName(), "Office");
  engine->LockToPlace(home);
  engine->SetLockTimeLimit(30);
  ASSERT_TRUE(WaitRuns({"+Office, Work", "-Office, Work", "+Home, Evening"}));
  EXPECT_TRUE(engine->IsLocked());
  EXPECT_EQ(engine->GetLockedPlace().GetName(), "Home");
  ASSERT_TRUE(WaitFor([&] { return Setting("current_place") == "Home"; }));

  // Moving while locked changes nothing.
  int before = engine->GetExecutedCount();
  DWORD since = GetTickCount();
  MoveTo(2, 300);
  Settle(before, since);
  EXPECT_EQ(Runs().size(), 3u);

  // The end of the lock: back to where the phone is.
  MoveTo(3, 100);
  ASSERT_TRUE(WaitFor([&] { return ril->GetCellId() == 3; }));
  EXPECT_EQ(FireAt(At(7, 10, 29)), 0);
  EXPECT_EQ(FireAt(At(7, 10, 30)), 1);
  ASSERT_TRUE(WaitRuns(
      {"+Office, Work", "-Office, Work", "+Home, Evening", "-Home, Evening", "+Office, Work"}));
  EXPECT_FALSE(engine->IsLocked());
  ASSERT_TRUE(WaitFor([&] { return Setting("current_place") == "Office"; }));
}

TEST_F(ScheduleEngineThreadTest, RadioOffAtABoundaryUsesTheLastPlace) {
  CStrPlace office = AddPlace("Office");
  AddLac(100, office);
  AddFrame(office.GetId(), "Work", 8, 0, 18, 0);
  SetSetting(CScheduleEngine::kLastPlaceKey, static_cast<DWORD>(office.GetId()));
  SetRadio(false);
  Start({MGR_ID_PHONE});
  // No location comes while the radio is off; the frame boundary finds the frame anyway.
  engine->OnTimedNotification(MGR_ID_SCHEDULE_PERIOD, CScheduleEngine::KIND_FRAME_END);
  ASSERT_TRUE(WaitRuns({"+Office, Work"}));
  EXPECT_TRUE(WaitArmed("timer_notification_07_00", "2030-01-07 18:00:00"));

  // At a start with no frame for the last place, the user is told.
  SetSetting(CScheduleEngine::kLastPlaceKey, 77);
  engine->OnTimedNotification(MGR_ID_SCHEDULE_PERIOD, CScheduleEngine::KIND_NEXT_START);
  ASSERT_TRUE(WaitFor([&] {
    auto boxes = ListBoxes();
    return !boxes.empty() && boxes.back().text.find("Place: 77") != std::string::npos;
  }));
}

TEST_F(ScheduleEngineThreadTest, BuiltInActionsActOnThePhone) {
  auto file = dev.device().HostPath("\\My Documents\\agenda.txt");
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file) << "9:00 standup";
  auto theme = dev.device().HostPath("\\Windows\\Ocean.tsk");
  std::filesystem::create_directories(theme.parent_path());
  std::ofstream(theme) << "theme";

  CStrPlace office = AddPlace("Office");
  AddLac(100, office);
  CStrPeriod work = AddFrame(office.GetId(), "Work", 8, 0, 18, 0);
  CStrAction open = AddAction(work, CScheduleEngine::ACTION_OPEN_FILE, CStrAction::TYPE_ENTER, 0);
  open.SetSzOp1("\\My Documents\\agenda.txt");
  db->GetTableActions()->Update(open);
  CStrAction ring = AddAction(work, CScheduleEngine::ACTION_RING_TONE, CStrAction::TYPE_ENTER, 4);
  ring.SetSzOp1("\\Windows\\Office.wav");
  ring.SetSzOp2("vr");
  db->GetTableActions()->Update(ring);
  CStrAction look = AddAction(work, CScheduleEngine::ACTION_THEME, CStrAction::TYPE_ENTER, 0);
  look.SetSzOp1("Ocean");
  db->GetTableActions()->Update(look);
  AddAction(work, CScheduleEngine::ACTION_LED, CStrAction::TYPE_ENTER, 1);
  Start();
  MoveTo(1, 100);

  Device& phone = dev.device();
  ASSERT_TRUE(WaitFor([&] { return phone.GetState(kLastOpenedFileState).has_value(); }));
  EXPECT_EQ(phone.GetState(kLastOpenedFileState), "\\My Documents\\agenda.txt");
  ASSERT_TRUE(WaitFor([&] { return phone.GetState(kRingToneState).has_value(); }));
  EXPECT_EQ(phone.GetState(kRingToneState), "\\Windows\\Office.wav");
  ASSERT_TRUE(WaitFor([&] { return phone.GetState(kTodayThemeState) == "Ocean"; }));
  ASSERT_TRUE(WaitFor([&] { return phone.GetState("led1") == "on"; }));
  ASSERT_TRUE(WaitFor([&] { return LogEntries(CScheduleEngine::kEventLogCode).size() == 4; }));
  std::string script;
  RegistryGetString(HKEY_CURRENT_USER, "ControlPanel\\Sounds\\RingTone0", "Script", &script);
  EXPECT_EQ(script, "vr");
  DWORD volume = 0;
  RegistryGetDWORD(HKEY_CURRENT_USER, "ControlPanel\\SoundCategories\\Ring", "InitVol", &volume);
  EXPECT_EQ(volume, 4u);
  std::vector<std::string> summaries;
  for (const auto& e : LogEntries(CScheduleEngine::kEventLogCode))
    summaries.push_back(e.summary);
  std::sort(summaries.begin() + 1, summaries.end());
  EXPECT_EQ(summaries,
            (std::vector<std::string>{"Entering Office, Work (4 actions)",
                                      "Opening \\My Documents\\agenda.txt",
                                      "Ring tone: \\Windows\\Office.wav", "Today theme: Ocean"}));
  // The phone was woken for the actions ("awake_to_execute_actions" is on after install).
  EXPECT_FALSE(phone.Activities("power").empty());
  // Stopping the engine ends the blink.
  CScheduleEngine::DestroyInstance();
  EXPECT_EQ(phone.GetState("led1"), "off");
}

TEST_F(ScheduleEngineThreadTest, MessagesGoOutThroughTheMessagingManager) {
  CMessageMgr messages;
  CStrPlace office = AddPlace("Office");
  AddLac(100, office);
  CStrPeriod work = AddFrame(office.GetId(), "Work", 8, 0, 18, 0);
  CStrAction sms = AddAction(work, CScheduleEngine::ACTION_SMS, CStrAction::TYPE_ENTER, 0);
  sms.SetSzOp1("+34600111222");
  sms.SetSzOp2("not sent");
  sms.SetSzOp3("At the office");
  db->GetTableActions()->Update(sms);
  CStrAction mail = AddAction(work, CScheduleEngine::ACTION_MAIL, CStrAction::TYPE_LEAVE, 0);
  mail.SetSzOp1("boss@example.com");
  mail.SetSzOp2("Leaving");
  mail.SetSzOp3("See you tomorrow");
  db->GetTableActions()->Update(mail);
  Start();
  MoveTo(1, 100);
  ASSERT_TRUE(WaitFor([&] { return !dev.device().Activities("sms").empty(); }));
  std::string detail = dev.device().Activities("sms")[0].detail;
  EXPECT_NE(detail.find("\"to\":\"+34600111222\""), std::string::npos) << detail;
  EXPECT_NE(detail.find("At the office"), std::string::npos) << detail;

  EXPECT_EQ(FireAt(At(7, 18, 0)), 1);
  ASSERT_TRUE(WaitFor([&] { return !dev.device().Activities("mail").empty(); }));
  detail = dev.device().Activities("mail")[0].detail;
  EXPECT_NE(detail.find("boss@example.com"), std::string::npos) << detail;
  EXPECT_NE(detail.find("\"subject\":\"Leaving\""), std::string::npos) << detail;
  CScheduleEngine::DestroyInstance();
}

class ScheduleEnginePeriodTest : public ScheduleEngineThreadTest {
 protected:
  void SetUp() override {
    ScheduleEngineThreadTest::SetUp();
    office = AddPlace("Office");
    work = AddFrame(office.GetId(), "Work", 8, 0, 18, 0);
    AddAction(work, MGR_ID_WIFI, CStrAction::TYPE_ENTER, 1);
    AddAction(work, MGR_ID_BT, CStrAction::TYPE_LEAVE, 0);
    engine = CScheduleEngine::Instance();
  }
  CStrPeriod Frame(int h1, int m1, int h2, int m2) {
    CStrPeriod f;
    f.SetIdPlace(office.GetId());
    f.SetName("Meeting");
    f.SetStart(h1, m1);
    f.SetEnd(h2, m2);
    return f;
  }
  // The office's frames as "Name HH:MM-HH:MM #actions".
  std::vector<std::string> Frames() {
    std::vector<CStrPeriod> frames;
    db->GetTablePeriods()->GetAllRecordsForPlace(&frames, office.GetId());
    std::vector<std::string> out;
    for (const auto& f : frames) {
      std::vector<CStrAction> actions;
      db->GetTableActions()->GetAllForPeriod(&actions, f.GetId());
      out.push_back(Format("%s %02d:%02d-%02d:%02d #%zu", f.GetName().c_str(), f.GetStart().wHour,
                           f.GetStart().wMinute, f.GetEnd().wHour, f.GetEnd().wMinute,
                           actions.size()));
    }
    return out;
  }
  std::string LastBox() {
    auto boxes = ListBoxes();
    return boxes.empty() ? "" : boxes.back().kind + ": " + boxes.back().text;
  }

  CStrPlace office;
  CStrPeriod work;
};

TEST_F(ScheduleEnginePeriodTest, FrameInsideAnotherSplitsItWhenTheUserAgrees) {
  SetBoxAnswerMode("no");
  EXPECT_FALSE(engine->AddPeriod(Frame(10, 0, 11, 0)));
  EXPECT_EQ(Frames(), std::vector<std::string>{"Work 08:00-18:00 #2"});

  SetBoxAnswerMode("yes");
  CStrPeriod meeting = Frame(10, 0, 11, 0);
  ASSERT_TRUE(engine->AddPeriod(meeting));
  EXPECT_EQ(LastBox(),
            "question: The new time frame lies inside the time frame Work, which will be split "
            "around it. Continue?");
  db->GetTablePeriods()->Insert(meeting);
  EXPECT_EQ(Frames(), (std::vector<std::string>{"Work 08:00-10:00 #2", "Meeting 10:00-11:00 #0",
                                                "Work 11:00-18:00 #2"}));
  std::vector<CStrAction> all;
  db->GetTableActions()->GetAllRecords(&all);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[2].GetMgrId(), MGR_ID_WIFI);
  EXPECT_EQ(all[3].GetType(), CStrAction::TYPE_LEAVE);
  EXPECT_NE(all[2].GetIdPeriod(), work.GetId());
}

TEST_F(ScheduleEnginePeriodTest, OverlapsAndASecondWholeDayAreRefused) {
  EXPECT_FALSE(engine->AddPeriod(Frame(17, 0, 19, 0)));
  EXPECT_EQ(LastBox(), "text: The new time frame overlaps the time frame Work.");
  EXPECT_FALSE(engine->AddPeriod(Frame(8, 0, 18, 0)));
  EXPECT_FALSE(engine->AddPeriod(Frame(0, 0, 0, 0)));
  EXPECT_EQ(LastBox(),
            "text: A time frame covering the whole day can only be added to a place that has no "
            "other time frames.");
  EXPECT_TRUE(engine->AddPeriod(Frame(18, 0, 20, 0)));
  EXPECT_EQ(Frames(), std::vector<std::string>{"Work 08:00-18:00 #2"});
}

TEST_F(ScheduleEnginePeriodTest, FrameAtOneEndShortensTheOther) {
  ASSERT_TRUE(engine->AddPeriod(Frame(8, 0, 9, 0)));
  EXPECT_EQ(Frames(), std::vector<std::string>{"Work 09:00-18:00 #2"});
  ASSERT_TRUE(engine->AddPeriod(Frame(17, 0, 18, 0)));
  EXPECT_EQ(Frames(), std::vector<std::string>{"Work 09:00-17:00 #2"});
}

TEST_F(ScheduleEnginePeriodTest, EditedFrameIsNotComparedWithItself) {
  CStrPeriod edited = work;
  edited.SetEnd(19, 0);
  EXPECT_TRUE(engine->UpdatePeriod(edited));
  CStrPeriod evening = AddFrame(office.GetId(), "Evening", 19, 0, 22, 0);
  evening.SetStart(17, 0);
  EXPECT_FALSE(engine->UpdatePeriod(evening));
  // Editing a frame into a whole day is not refused as such, only for its overlaps.
  evening.SetStart(0, 0);
  evening.SetEnd(0, 0);
  EXPECT_FALSE(engine->UpdatePeriod(evening));
}

}  // namespace

namespace {

TEST_F(ScheduleEngineThreadTest, UnknownPlaceIsEnteredAtStartAndAgainAtMidnight) {
  CStrPeriod away = AddFrame(CTablePlaces::kUnknownPlaceId, "Away", 0, 0, 0, 0);
  AddAction(away, MGR_ID_WIFI, CStrAction::TYPE_ENTER, 1);
  // The phone is already in a cell that no place knows when the program starts.
  ASSERT_TRUE(ril::SetServingCell(5, 999, true));
  Start({MGR_ID_WIFI});
  ASSERT_TRUE(WaitRuns({"+Unknown, Away"}));
  ASSERT_TRUE(WaitArmed("timer_notification_07_00", "2030-01-08 00:00:00"));
  EXPECT_EQ(FireAt(At(8, 0, 0)), 1);
  ASSERT_TRUE(WaitRuns({"+Unknown, Away", "-Unknown, Away", "+Unknown, Away"}));
  EXPECT_TRUE(WaitArmed("timer_notification_07_00", "2030-01-09 00:00:00"));
}

TEST_F(ScheduleEngineThreadTest, TheEndOfALockEndsItInManualModeToo) {
  SetSetting(CScheduleEngine::kManualModeKey, 1);
  CStrPlace home = AddPlace("Home");
  AddLac(200, home);
  AddFrame(home.GetId(), "Evening", 0, 0, 0, 0);
  Start();
  engine->LockToPlace(home);
  engine->SetLockTimeLimit(30);
  ASSERT_TRUE(WaitRuns({"+Home, Evening"}));
  EXPECT_EQ(FireAt(At(7, 10, 30)), 1);
  ASSERT_TRUE(WaitRuns({"+Home, Evening", "-Home, Evening"}));
  EXPECT_FALSE(engine->IsLocked());
}

TEST_F(ScheduleEngineThreadTest, ReportsWhileAnEvaluationWaitsJoinIt) {
  Start();
  // The next evaluation stops in the engine until every report of the burst has arrived.
  std::mutex gateMutex;
  std::condition_variable gateCv;
  bool entered = false, open = false;
  ScheduleEngineHooks hooks = CScheduleEngine::DefaultHooks();
  hooks.bandForceSwitch = [&] {
    std::unique_lock lock(gateMutex);
    entered = true;
    gateCv.notify_all();
    gateCv.wait(lock, [&] { return open; });
    return false;
  };
  engine->SetHooks(hooks);
  // Called after the engine for each report, so it has seen a report once this has.
  struct LastLac : IStatusListener {
    CRilMgr* ril;
    std::atomic<std::int32_t> seen{0};
    explicit LastLac(CRilMgr* r) : ril(r) {}
    void OnStatusChanged(int, int, int reason) override {
      if (reason == CRilMgr::REASON_LOCATION)
        seen.store(ril->GetLac());
    }
    std::string GetListenerName() override { return "LastLac"; }
  } last(ril.get());
  ril->AddStatusListener(&last);
  int before = engine->GetExecutedCount();
  MoveTo(1, 501);
  {
    std::unique_lock lock(gateMutex);
    ASSERT_TRUE(gateCv.wait_for(lock, std::chrono::seconds(5), [&] { return entered; }));
  }
  for (DWORD lac = 502; lac <= 540; ++lac)
    MoveTo(lac, lac);
  ASSERT_TRUE(WaitFor([&] { return last.seen.load() == 540; }));
  ril->RemoveStatusListener(&last);
  {
    std::lock_guard lock(gateMutex);
    open = true;
  }
  gateCv.notify_all();
  DWORD since = GetTickCount();
  Settle(before + 1, since);
  // The evaluation under way and one for all the reports after it.
  EXPECT_EQ(engine->GetExecutedCount() - before, 2);
  EXPECT_EQ(engine->GetLastCode(), 540);
  engine->SetHooks(CScheduleEngine::DefaultHooks());
}

}  // namespace

// ---- The grace period against a flapping cell, and the causes of the actions ---------------

namespace {

class GraceScenarioTest : public ScheduleEngineThreadTest {
 protected:
  // Office (area 100) has Work 08:00-18:00, switching Wi-Fi on when entered and off when left;
  // the phone is there at 10:00 with a grace period of `grace` seconds.
  void StartAtTheOffice(DWORD grace) {
    SetSetting(CScheduleEngine::kLocationGraceKey, grace);
    // Room for every entry of an hour of hops.
    SetSetting(CEventLog::kItemsScreenKey, 5000);
    CEventLog::DestroyInstanceForTesting();
    CStrPlace office = AddPlace("Office");
    AddLac(100, office);
    CStrPeriod work = AddFrame(office.GetId(), "Work", 8, 0, 18, 0);
    AddAction(work, MGR_ID_WIFI, CStrAction::TYPE_ENTER, 1);
    AddAction(work, MGR_ID_WIFI, CStrAction::TYPE_LEAVE, 0);
    Start({MGR_ID_WIFI});
    MoveTo(1, 100);
    ASSERT_TRUE(WaitRuns({"+Office, Work"}));
    ASSERT_TRUE(WaitFor([&] { return forces.Calls().size() == 1; }));
  }
  std::vector<CEventLogRecord> Flaps() {
    std::vector<CEventLogRecord> out;
    for (const auto& e : LogEntries(CScheduleEngine::kEventLogCode)) {
      if (e.summary.rfind("Short stay on cell", 0) == 0)
        out.push_back(e);
    }
    return out;
  }
  std::int64_t t0 = SystemTimeToMs(At(7, 10, 0));
};

TEST_F(GraceScenarioTest, AnHourOfHopsEveryThirtySecondsNeverLeavesThePlace) {
  StartAtTheOffice(120);
  std::int64_t t = t0;
  for (int hop = 1; hop <= 60; ++hop) {
    t += 30'000;
    EXPECT_EQ(FireAt(MsToSystemTime(t)), 0);
    MoveTo(2, 999);
    ASSERT_TRUE(WaitFor([&] { return engine->GetHeldDeparture().has_value(); })) << hop;
    t += 30'000;
    EXPECT_EQ(FireAt(MsToSystemTime(t)), 0) << "the period of a departure absorbed never ends";
    MoveTo(1, 100);
    ASSERT_TRUE(WaitFor([&] { return Flaps().size() == static_cast<std::size_t>(hop); })) << hop;
    ASSERT_FALSE(engine->GetHeldDeparture().has_value());
  }
  EXPECT_EQ(Runs(), std::vector<std::string>{"+Office, Work"});
  EXPECT_EQ(forces.Calls().size(), 1u);
  EXPECT_EQ(Flaps().front().description,
            "The phone was on cell 2 in area 999 for 30 s and came back to place Office within "
            "the grace period of 120 s; no place was left or entered");
  // The tracker still records every report: the first cell and the 120 hops.
  EXPECT_EQ(LogEntries(MGR_ID_RIL).size(), 121u);
  EXPECT_EQ(engine->GetLastCode(), 100);
  // Only the end of Work is armed: no grace notification is left behind.
  EXPECT_TRUE(WaitArmed("timer_notification_07_00", "2030-01-07 18:00:00"));
}

TEST_F(GraceScenarioTest, ARealDepartureIsCarriedOutWhenThePeriodEnds) {
  StartAtTheOffice(120);
  Clock::UseVirtual(t0 + 5'000);
  MoveTo(2, 999);
  ASSERT_TRUE(WaitFor([&] { return engine->GetHeldDeparture().has_value(); }));
  EXPECT_EQ(engine->GetHeldDeparture()->untilMs, t0 + 125'000);
  // Another unknown cell on the way changes nothing.
  EXPECT_EQ(FireAt(MsToSystemTime(t0 + 60'000)), 0);
  int before = engine->GetExecutedCount();
  DWORD since = GetTickCount();
  MoveTo(3, 998);
  Settle(before, since);
  EXPECT_EQ(FireAt(MsToSystemTime(t0 + 124'999)), 0);
  EXPECT_EQ(Runs(), std::vector<std::string>{"+Office, Work"});

  EXPECT_EQ(FireAt(MsToSystemTime(t0 + 125'000)), 1);
  ASSERT_TRUE(WaitRuns({"+Office, Work", "-Office, Work"}));
  EXPECT_TRUE(WaitFor([&] { return !engine->GetHeldDeparture().has_value(); }));
  EXPECT_TRUE(Flaps().empty());
  EXPECT_EQ(engine->GetLastCode(), 998);
  EXPECT_EQ(CRegistrySettings::Instance()->GetDWORD("last_place"), 0u);

  // The leaving action names its frame, the location that chose the place, and its position.
  ASSERT_TRUE(WaitFor([&] { return forces.Calls().size() == 2; }));
  ForceCall leave = forces.Calls()[1];
  EXPECT_EQ(leave.cause,
            CChangeCause::Schedule("Office", "Work(08:00-18:00)", true, false, 1, 100, 1, 1));
  std::vector<CEventLogRecord> changing;
  ASSERT_TRUE(WaitFor([&] {
    changing.clear();
    for (const auto& e : LogEntries(MGR_ID_WIFI)) {
      if (e.level == CEventLog::LEVEL_INFO)
        changing.push_back(e);
    }
    return changing.size() == 2;
  }));
  const std::string cause =
      "Cause: action 1 of 1 on leaving the time frame Work(08:00-18:00) of place Office, chosen "
      "by cell 1 in area 100.";
  EXPECT_EQ(changing[1].cause, cause);
  EXPECT_EQ(changing[1].description.substr(changing[1].description.size() - cause.size()), cause);
}

TEST_F(GraceScenarioTest, AClockJumpOverThePeriodCarriesTheDepartureOut) {
  StartAtTheOffice(120);
  MoveTo(2, 999);
  ASSERT_TRUE(WaitFor([&] { return engine->GetHeldDeparture().has_value(); }));
  // The phone's clock is set an hour ahead: the main window hands the change to the engine and
  // the runner fires what the jump made due.
  Clock::UseVirtual(t0 + 3'600'000);
  engine->TimeChanged();
  EXPECT_EQ(FireAt(MsToSystemTime(t0 + 3'600'000)), 1);
  ASSERT_TRUE(WaitRuns({"+Office, Work", "-Office, Work"}));
  EXPECT_TRUE(Flaps().empty());
}

TEST_F(GraceScenarioTest, NoGraceKeepsTodaysRecords) {
  StartAtTheOffice(0);
  std::vector<std::string> expected{"+Office, Work"};
  for (int hop = 0; hop < 2; ++hop) {
    MoveTo(2, 999);
    expected.push_back("-Office, Work");
    ASSERT_TRUE(WaitRuns(expected));
    MoveTo(1, 100);
    expected.push_back("+Office, Work");
    ASSERT_TRUE(WaitRuns(expected));
  }
  EXPECT_TRUE(Flaps().empty());
  EXPECT_FALSE(engine->GetHeldDeparture().has_value());
  // A run's record comes before its requests.
  ASSERT_TRUE(WaitFor([&] { return forces.Calls().size() == 5; }));
  EXPECT_EQ(Forces(), (std::vector<std::pair<int, int>>{{0, 1}, {0, 0}, {0, 1}, {0, 0}, {0, 1}}));
}

TEST_F(GraceScenarioTest, ALockGivesTheHeldDepartureUp) {
  StartAtTheOffice(120);
  MoveTo(2, 999);
  ASSERT_TRUE(WaitFor([&] { return engine->GetHeldDeparture().has_value(); }));
  CStrPlace office;
  ASSERT_TRUE(engine->GetLockCandidate(&office));
  EXPECT_EQ(office.GetName(), "Office");
  engine->LockToPlace(office);
  ASSERT_TRUE(WaitRuns({"+Office, Work", "-Office, Work", "+Office, Work"}));
  EXPECT_FALSE(engine->GetHeldDeparture().has_value());
  // The grace period's end finds nothing to do.
  EXPECT_EQ(FireAt(MsToSystemTime(t0 + 120'000)), 0);
  EXPECT_EQ(Runs().size(), 3u);
  ASSERT_TRUE(WaitFor([&] { return forces.Calls().size() == 3; }));
  EXPECT_TRUE(forces.Calls()[2].cause.locked);
}

}  // namespace
