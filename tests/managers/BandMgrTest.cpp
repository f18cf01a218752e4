// The band manager: the stored mode, the radio reset on the manager's own line, ForceSwitch,
// time limits and following the phone manager.
#include <gtest/gtest.h>

#include "app/TimerNotification.h"
#include "managers/BandMgr.h"
#include "managers/MobilePhoneMgr.h"
#include "managers/RadioTestSupport.h"
#include "platform/PhoneHardware.h"
#include "platform/Telephony.h"

using namespace platform;
using radiotest::WaitUntil;

namespace {

class BandMgrThreadTest : public radiotest::RadioFixture {
 protected:
  static int OpMode() {
    DWORD v = 0;
    if (RegistryGetDWORD(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\OEM\\UMTS", "OpMode", &v) != S_OK)
      return -1;
    return static_cast<int>(v);
  }
  static std::vector<std::string> Requests() {
    std::vector<std::string> out;
    for (const auto& a : Device::Current()->Activities("telephony"))
      out.push_back(a.detail);
    return out;
  }
  static std::string State(const char* name) {
    return Device::Current()->GetState(name).value_or("");
  }
  // Waits until every command posted to the manager so far has run: a command never starts
  // before the previous one ended.
  static void Drain(CMgr& mgr) {
    int before = mgr.GetExecutedCount();
    mgr.PostCommand(99, -1, reinterpret_cast<std::intptr_t>(new StatusChangeRequest{0, 0}));
    ASSERT_TRUE(
        WaitUntil([&] { return mgr.GetExecutedCount() > before && mgr.GetQueueLength() == 0; }));
  }
};

TEST_F(BandMgrThreadTest, TheCurrentModeResetsTheRadioOnlyWithForceSwitch) {
  CBandMgr band;
  band.Initialize();
  EXPECT_EQ(band.GetStatus(), BAND_STATUS_AUTO);

  band.ForceStatus(BAND_STATUS_AUTO, 0, 0, 0);
  Drain(band);
  EXPECT_TRUE(Requests().empty());

  band.SetForceSwitch(true);
  band.ForceStatus(BAND_STATUS_AUTO, 0, 0, 0);
  ASSERT_TRUE(band.StatusEvent().Wait(5000));
  EXPECT_FALSE(band.IsResetRunning());
  EXPECT_EQ(band.RequestAccepted(), 2);
  auto requests = Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_NE(requests[0].find("minimum"), std::string::npos);
  EXPECT_NE(requests[1].find("full"), std::string::npos);
  EXPECT_NE(requests[2].find("register"), std::string::npos);
  EXPECT_EQ(band.GetStatusName(STATUS_DISABLED), "unknown");
}

TEST_F(BandMgrThreadTest, ANewModeIsAppliedByTheResetAnd2GEndsAPending3GLimit) {
  CBandMgr band;
  band.Initialize();
  band.ForceStatus(BAND_STATUS_3G, 30, BAND_STATUS_2G, 0);
  ASSERT_TRUE(band.StatusEvent().Wait(5000));
  ASSERT_TRUE(WaitUntil([] { return timernotification::Exists(MGR_ID_BAND, BAND_STATUS_2G); }));
  EXPECT_EQ(OpMode(), BAND_STATUS_3G);
  // The radio restarted under the new band and was registered in it.
  EXPECT_EQ(State(phone::kRadioModeState), "3g");
  EXPECT_EQ(State(phone::kNetworkState), "registered");
  EXPECT_EQ(State(phone::kNetworkModeState), "3g");
  band.RefreshStatus(0);
  EXPECT_EQ(band.GetStatus(), BAND_STATUS_3G);

  band.ForceStatus(BAND_STATUS_2G, 0, 0, 0);
  ASSERT_TRUE(band.StatusEvent().Wait(5000));
  EXPECT_FALSE(timernotification::Exists(MGR_ID_BAND, BAND_STATUS_2G));
  EXPECT_EQ(CLimitNotifications::Get(MGR_ID_BAND), 0u);
  EXPECT_EQ(OpMode(), BAND_STATUS_2G);
  EXPECT_EQ(State(phone::kRadioModeState), "2g");

  // A timed notification carries the mode to return to.
  band.DispatchTimerNotification(MGR_ID_BAND, BAND_STATUS_AUTO);
  ASSERT_TRUE(band.StatusEvent().Wait(5000));
  EXPECT_EQ(OpMode(), BAND_STATUS_AUTO);
}

TEST_F(BandMgrThreadTest, ASecondSwitchDuringAResetIsDropped) {
  CBandMgr band;
  band.Initialize();
  HoldTelephonyReplies(true);
  band.ForceStatus(BAND_STATUS_3G, 0, 0, 0);
  bool running = WaitUntil([&] { return band.IsResetRunning(); });
  band.ForceStatus(BAND_STATUS_2G, 0, 0, 0);
  Drain(band);
  HoldTelephonyReplies(false);
  ASSERT_TRUE(running);
  ASSERT_TRUE(band.StatusEvent().Wait(5000));
  EXPECT_EQ(OpMode(), BAND_STATUS_3G);
  int minimum = 0;
  for (const auto& r : Requests())
    minimum += r.find("minimum") != std::string::npos;
  EXPECT_EQ(minimum, 1);
}

TEST_F(BandMgrThreadTest, AnAbsentModeShowsMinusOneAndBlocksEverySwitch) {
  HKEY key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\OEM\\UMTS", &key), ERROR_SUCCESS);
  RegDeleteValue(key, "OpMode");
  RegCloseKey(key);
  CBandMgr band;
  band.Initialize();
  EXPECT_EQ(band.GetStatus(), STATUS_DISABLED);
  band.ForceStatus(BAND_STATUS_2G, 0, 0, 0);
  band.SetForceSwitch(true);
  band.ForceStatus(BAND_STATUS_3G, 0, 0, 0);
  Drain(band);
  EXPECT_EQ(OpMode(), -1);
  EXPECT_TRUE(Requests().empty());

  // An unknown mode is never written, even with ForceSwitch set.
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\OEM\\UMTS", "OpMode", 0);
  band.RefreshStatus(0);
  band.ForceStatus(3, 0, 0, 0);
  Drain(band);
  EXPECT_EQ(OpMode(), 0);
  EXPECT_TRUE(Requests().empty());
}

TEST_F(BandMgrThreadTest, AResetThatCannotStartWritesAWarningAndEnds) {
  CBandMgr band;
  band.Initialize();
  phone::SetTelephonyFailures(1, false);
  band.ForceStatus(BAND_STATUS_2G, 0, 0, 0);
  ASSERT_TRUE(band.StatusEvent().Wait(5000));
  EXPECT_EQ(band.GetResetResult(), -1);
  EXPECT_FALSE(band.IsResetRunning());
  int warnings = 0;
  for (const auto& r : CEventLog::GetInstance()->GetRecords())
    warnings += r.code == MGR_ID_BAND && r.level == 3 && r.summary == "Error turning off radio";
  EXPECT_EQ(warnings, 1);

  // The next switch is not kept away.
  band.ForceStatus(BAND_STATUS_3G, 0, 0, 0);
  ASSERT_TRUE(band.StatusEvent().Wait(5000));
  EXPECT_EQ(band.GetResetResult(), 0);
  EXPECT_EQ(State(phone::kRadioModeState), "3g");
}

TEST_F(BandMgrThreadTest, FollowsThePhoneManagerAndUnlocksTheSimWithItsPins) {
  CMobilePhoneMgr phone;
  phone.Initialize();
  phone.SetPin("1234");
  {
    CBandMgr band;
    band.Initialize();
    phone.AddStatusListener(&band);
    RegistrySetDWORD(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\OEM\\UMTS", "OpMode", BAND_STATUS_2G);
    phone.FireStatusChanged(0);
    EXPECT_EQ(band.GetStatus(), BAND_STATUS_2G);

    // The SIM asks for its PIN when the radio restarts; the phone manager's PIN answers it.
    ASSERT_TRUE(phone::LockSim("1234"));
    band.ForceStatus(BAND_STATUS_3G, 0, 0, 0);
    ASSERT_TRUE(band.StatusEvent().Wait(5000));
    EXPECT_EQ(State(phone::kSimState), "ready");
    EXPECT_EQ(State(phone::kNetworkState), "registered");
    EXPECT_NE(Requests().back().find("\"request\":\"register\",\"result\":\"ok\""),
              std::string::npos);
  }
  // The band manager took itself off the phone manager's listeners.
  phone.FireStatusChanged(0);
}

}  // namespace
