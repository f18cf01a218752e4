// CBacklightMgr on the simulated phone: the registry mode, the page-driving mode through the
// control panel's backlight page, and the click positions.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "app/EventLog.h"
#include "app/Mgr.h"
#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "managers/BacklightMgr.h"
#include "platform/Backlight.h"
#include "platform/ControlPanel.h"
#include "platform/Device.h"
#include "platform/Mosutil.h"
#include "platform/Registry.h"
#include "support/TestDevice.h"
#include "support/Wait.h"

using namespace platform;

namespace {

using testsupport::WaitUntil;

DWORD RegistryLevel(const char* name) {
  DWORD value = 0;
  RegistryGetDWORD(HKEY_CURRENT_USER, kBacklightKey, name, &value);
  return value;
}

class BacklightMgrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(dev.Console({"install"}), 0);
    CMgr::LoadConfig();
    CTexts::ResetForTesting();
    CEventLog::DestroyInstanceForTesting();
  }
  void TearDown() override {
    // A page the manager left open must not outlive the device.
    if (HWND page = GetForegroundWindow())
      SendMessage(page, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitForControlPanelExit(5000));
    CEventLog::DestroyInstanceForTesting();
    CTexts::ResetForTesting();
  }
  void SetMode(DWORD mode) {
    RegistrySetDWORD(HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, CBacklightMgr::kModeSetting,
                     mode);
  }
  // Forces the levels with the manager's first request and waits until its command thread has
  // ended (the status never changes, so no listener would hear of it).
  void ForceAndWait(CBacklightMgr& mgr, int battery, int external) {
    ASSERT_EQ(mgr.GetLastCommandTick(), 0u);
    mgr.ForceStatus(CBacklightMgr::MakeStatus(battery, external), 0, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return mgr.GetLastCommandTick() != 0; }, 10000));
  }
  std::vector<std::string> Clicks(const std::string& control) {
    std::vector<std::string> xs;
    for (const auto& a : dev.device().Activities("click")) {
      if (a.detail.find("\"" + control + "\"") != std::string::npos)
        xs.push_back(a.detail);
    }
    return xs;
  }
  static std::string ClickRecord(const std::string& control, int x) {
    return "{\"control\":\"" + control + "\",\"x\":" + std::to_string(x) + ",\"y\":10}";
  }
  TestDevice dev;
};

TEST(BacklightClickTest, PositionsKeepTheMarginAtLevelsZeroAndThree) {
  // A 220-pixel slider: 22 pixels a step.
  EXPECT_EQ(CBacklightMgr::ClickPosition(0, 220, 1), 14);
  EXPECT_EQ(CBacklightMgr::ClickPosition(3, 220, 1), 66 - 14);
  EXPECT_EQ(CBacklightMgr::ClickPosition(5, 220, 1), 110);
  EXPECT_EQ(CBacklightMgr::ClickPosition(10, 220, 1), 220);
  // VGA screens: a 16-pixel margin; the step is truncated (445 / 10 = 44).
  EXPECT_EQ(CBacklightMgr::ClickPosition(0, 445, 2), 16);
  EXPECT_EQ(CBacklightMgr::ClickPosition(3, 445, 2), 132 - 16);
  EXPECT_EQ(CBacklightMgr::ClickPosition(10, 445, 2), 440);
}

TEST(BacklightNameTest, StatusNamesShowBothLevels) {
  int status = CBacklightMgr::MakeStatus(4, 9);
  EXPECT_EQ(status, 9 * 65536 + 4);
  EXPECT_EQ(CBacklightMgr::BatteryLevel(status), 4);
  EXPECT_EQ(CBacklightMgr::ExternalLevel(status), 9);
  TestDevice dev;
  CBacklightMgr mgr;
  EXPECT_EQ(mgr.GetStatusName(status), "[4-9]");
  EXPECT_EQ(mgr.GetStatusName(CBacklightMgr::MakeStatus(0, 10)), "[0-10]");
  // Before the first change the levels are unknown, not a pair of huge numbers.
  ASSERT_EQ(dev.Console({"install"}), 0);
  CTexts::ResetForTesting();
  std::string unknown = CTexts::GetInstance()->GetText("EVENT_LOG_MGR_UNKNOWN_STATUS");
  EXPECT_EQ(unknown.find('['), std::string::npos) << unknown;
  EXPECT_EQ(mgr.GetStatusName(STATUS_UNKNOWN), unknown);
  EXPECT_EQ(mgr.GetStatusName(STATUS_DISABLED), unknown);
}

TEST_F(BacklightMgrTest, RegistryModeWritesTheLevelsAndTellsTheDriverWithoutThePanel) {
  SetMode(0);
  CBacklightMgr mgr(CBacklightMgr::DialogTiming{0, 0});
  ForceAndWait(mgr, 4, 9);
  EXPECT_EQ(RegistryLevel(kBatteryBrightnessValue), 4u);
  EXPECT_EQ(RegistryLevel(kAcBrightnessValue), 9u);
  BacklightLevels levels = GetBacklightLevels();
  EXPECT_EQ(levels.battery, 4u);
  EXPECT_EQ(levels.ac, 9u);
  EXPECT_TRUE(dev.device().Activities("process").empty());
  // A command-only manager: the status is never read back.
  EXPECT_EQ(mgr.GetStatus(), STATUS_UNKNOWN);
}

TEST_F(BacklightMgrTest, PanelModeClicksBothSlidersAndClosesThePage) {
  SetMode(1);
  CBacklightMgr mgr(CBacklightMgr::DialogTiming{0, 0});
  ForceAndWait(mgr, 0, 10);

  auto starts = dev.device().Activities("process");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_NE(starts[0].detail.find("cplmain.cpl,6"), std::string::npos);
  // 240 x 320 screen: 220-pixel sliders, margin 14.
  EXPECT_EQ(Clicks("battery"), std::vector<std::string>(20, ClickRecord("battery", 14)));
  EXPECT_EQ(Clicks("ac"), std::vector<std::string>(20, ClickRecord("ac", 220)));
  ASSERT_TRUE(WaitForControlPanelExit(5000));
  EXPECT_EQ(RegistryLevel(kBatteryBrightnessValue), 0u);
  EXPECT_EQ(RegistryLevel(kAcBrightnessValue), 10u);
  EXPECT_EQ(GetBacklightLevels().battery, 0u);
}

TEST_F(BacklightMgrTest, PanelModeOnAVgaScreenUsesTheWiderMargin) {
  SetMode(1);
  dev.device().SetStateInt("screen_width", 480);
  dev.device().SetStateInt("screen_height", 640);
  HKEY key;
  RegCreateKeyEx(HKEY_LOCAL_MACHINE, kMakerAppletKey, &key);
  RegCloseKey(key);
  CBacklightMgr mgr(CBacklightMgr::DialogTiming{0, 0});
  ForceAndWait(mgr, 3, 0);

  EXPECT_NE(dev.device().Activities("process").at(0).detail.find("mycpl.cpl,0"), std::string::npos);
  // 440-pixel sliders: 44 pixels a step.
  EXPECT_EQ(Clicks("battery"), std::vector<std::string>(20, ClickRecord("battery", 132 - 16)));
  EXPECT_EQ(Clicks("ac"), std::vector<std::string>(20, ClickRecord("ac", 16)));
  ASSERT_TRUE(WaitForControlPanelExit(5000));
  EXPECT_EQ(RegistryLevel(kAcBrightnessValue), 0u);
}

TEST_F(BacklightMgrTest, WithoutAPageOrItsSlidersNothingChanges) {
  SetMode(1);
  // No page at all: the manager stops quietly.
  dev.device().SetState(kBacklightPageState, "none");
  {
    CBacklightMgr mgr(CBacklightMgr::DialogTiming{0, 0});
    ForceAndWait(mgr, 5, 5);
  }
  EXPECT_EQ(dev.device().Activities("process").size(), 1u);
  EXPECT_TRUE(ListBoxes().empty());
  // A page laid out without sliders where they are looked for: the user is told.
  dev.device().SetState(kBacklightPageState, "plain");
  CBacklightMgr mgr(CBacklightMgr::DialogTiming{0, 0});
  ForceAndWait(mgr, 5, 5);
  auto boxes = ListBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, CTexts::GetInstance()->GetText("BACKLIGHT DIALOG NOT FOUND"));
  EXPECT_TRUE(dev.device().Activities("click").empty());
  EXPECT_EQ(RegistryLevel(kBatteryBrightnessValue), 3u);
}

}  // namespace
