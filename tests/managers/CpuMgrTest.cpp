// CCpuMgr on the simulated phone: requested power states reach the phone, and the states'
// names as the event log shows them.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "app/EventLog.h"
#include "app/Mgr.h"
#include "app/Texts.h"
#include "managers/CpuMgr.h"
#include "platform/Device.h"
#include "platform/Power.h"
#include "support/TestDevice.h"
#include "support/Wait.h"

using namespace platform;

namespace {

using testsupport::WaitUntil;

class CpuMgrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(dev.Console({"install"}), 0);
    CMgr::LoadConfig();
    CTexts::ResetForTesting();
    CEventLog::DestroyInstanceForTesting();
  }
  void TearDown() override {
    CEventLog::DestroyInstanceForTesting();
    CTexts::ResetForTesting();
  }
  std::size_t PowerRequests() { return dev.device().Activities("power").size(); }
  TestDevice dev;
};

TEST_F(CpuMgrTest, StatusNamesAreThePlainStateNames) {
  CCpuMgr mgr;
  EXPECT_EQ(mgr.GetStatusName(0x00010000), "On state");
  EXPECT_EQ(mgr.GetStatusName(0x00020000), "Off  state");
  EXPECT_EQ(mgr.GetStatusName(0x00040000), "Critical state");
  EXPECT_EQ(mgr.GetStatusName(0x00080000), "Boot state");
  EXPECT_EQ(mgr.GetStatusName(0x00100000), "Idle state");
  EXPECT_EQ(mgr.GetStatusName(0x00200000), "Suspend state");
  EXPECT_EQ(mgr.GetStatusName(0x00800000), "Reset state");
  EXPECT_EQ(mgr.GetStatusName(0x00400000), "unknwon state");
  EXPECT_EQ(mgr.GetStatusName(0x00010000 | 0x00020000), "unknwon state");
  EXPECT_EQ(mgr.GetStatusName(STATUS_UNKNOWN), "unknwon state");
  EXPECT_EQ(mgr.GetName(), "Power state");
}

TEST_F(CpuMgrTest, ARequestedStateReachesThePhoneForcedAndTheStatusStaysUnread) {
  CCpuMgr mgr;
  mgr.ForceStatus(static_cast<int>(POWER_STATE_SUSPEND), 0, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return PowerRequests() == 1; }));
  EXPECT_EQ(GetSystemPowerStateWord(), "suspend");
  EXPECT_EQ(dev.device().Activities("power")[0].detail, "{\"state\":\"suspend\",\"force\":true}");

  // The schedule engine asks for a reset with a delay; the phone starts again.
  mgr.ForceStatus(static_cast<int>(POWER_STATE_RESET), 0, 0, 50);
  ASSERT_TRUE(WaitUntil([&] { return PowerRequests() == 2; }));
  EXPECT_EQ(GetSystemPowerStateWord(), "on");
  EXPECT_EQ(dev.device().GetStateInt(kResetCountValue), 1);
  ASSERT_TRUE(WaitUntil([&] { return mgr.GetQueueLength() == 0; }));
  EXPECT_EQ(mgr.GetStatus(), STATUS_UNKNOWN);
}

}  // namespace
