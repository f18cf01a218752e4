// The backlight driver and the control panel's backlight page of the simulated phone.
#include <gtest/gtest.h>

#include <string>

#include "platform/Backlight.h"
#include "platform/ControlPanel.h"
#include "platform/Device.h"
#include "platform/Registry.h"
#include "platform/Window.h"
#include "support/TestDevice.h"

using namespace platform;

namespace {

void WriteLevels(DWORD battery, DWORD ac) {
  ASSERT_EQ(RegistrySetDWORD(HKEY_CURRENT_USER, kBacklightKey, kBatteryBrightnessValue, battery),
            S_OK);
  ASSERT_EQ(RegistrySetDWORD(HKEY_CURRENT_USER, kBacklightKey, kAcBrightnessValue, ac), S_OK);
}

DWORD RegistryLevel(const char* name) {
  DWORD value = 0;
  RegistryGetDWORD(HKEY_CURRENT_USER, kBacklightKey, name, &value);
  return value;
}

class BacklightTest : public ::testing::Test {
 protected:
  TestDevice dev;
};

TEST_F(BacklightTest, TheDriverAppliesTheRegistryOnlyWhenItsEventIsSignalled) {
  // A new phone: the base registry's levels are in effect.
  BacklightLevels levels = GetBacklightLevels();
  EXPECT_EQ(levels.battery, 3u);
  EXPECT_EQ(levels.ac, 10u);
  SetNamedEvent(kBackLightChangeEvent);

  WriteLevels(6, 8);
  EXPECT_EQ(GetBacklightLevels().battery, 3u);
  SetNamedEvent("SomeOtherEvent");
  EXPECT_EQ(GetBacklightLevels().battery, 3u);

  EXPECT_TRUE(SetNamedEvent(kBackLightChangeEvent));
  levels = GetBacklightLevels();
  EXPECT_EQ(levels.battery, 6u);
  EXPECT_EQ(levels.ac, 8u);
  auto records = dev.device().Activities("backlight");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].detail, "{\"battery\":6,\"ac\":8}");

  // Levels beyond the scale are applied as the brightest.
  WriteLevels(40, 0x10005);
  SetNamedEvent(kBackLightChangeEvent);
  EXPECT_EQ(GetBacklightLevels().battery, kMaxBrightness);
  EXPECT_EQ(GetBacklightLevels().ac, kMaxBrightness);
}

TEST_F(BacklightTest, ConsoleSetsTheLevelsAsTheControlPanelDoes) {
  std::string out, err;
  ASSERT_EQ(dev.Console({"backlight"}, &out), 0);
  EXPECT_EQ(out, "3/10\n");
  ASSERT_EQ(dev.Console({"backlight", "2", "7"}, &out), 0);
  EXPECT_EQ(out, "2/7\n");
  EXPECT_EQ(RegistryLevel(kBatteryBrightnessValue), 2u);
  EXPECT_EQ(GetBacklightLevels().ac, 7u);
  EXPECT_NE(dev.Console({"backlight", "2", "11"}, &out, &err), 0);
  EXPECT_NE(err.find("\"11\""), std::string::npos);
  EXPECT_EQ(GetBacklightLevels().ac, 7u);
}

class ControlPanelTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // A page left open by a failing test must not outlive its device.
    if (HWND page = GetForegroundWindow())
      SendMessage(page, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitForControlPanelExit(5000));
  }
  // The slider of the page's sheet with that position among the sheet's trackbars.
  HWND Slider(HWND page, int index) {
    for (HWND h = GetWindow(GetWindow(page, GW_CHILD), GW_CHILD); h;
         h = GetWindow(h, GW_HWNDNEXT)) {
      std::string cls;
      GetClassName(h, &cls, 100);
      if (cls == kTrackbarClass && index-- == 0)
        return h;
    }
    return 0;
  }
  void Click(HWND slider, int x) {
    PostMessage(slider, WM_LBUTTONDOWN, MK_LBUTTON, MakeLParam(x, 10));
    PostMessage(slider, WM_LBUTTONUP, MK_LBUTTON, MakeLParam(x, 10));
  }
  TestDevice dev;
};

TEST_F(ControlPanelTest, TheBacklightPageHasTwoSlidersThatItSavesOnClosing) {
  ASSERT_TRUE(StartDeviceProgram(kControlPanelImage, kStandardBacklightPage));
  HWND page = GetForegroundWindow();
  ASSERT_NE(page, 0u);
  EXPECT_EQ(FindWindow("Dialog"), GetWindow(page, GW_CHILD));
  HWND battery = Slider(page, 0);
  HWND ac = Slider(page, 1);
  ASSERT_NE(battery, 0u);
  ASSERT_EQ(GetWindow(battery, GW_HWNDNEXT), ac);
  std::string cls;
  EXPECT_EQ(GetClassName(battery, &cls, 5), 5);
  EXPECT_EQ(cls, "msctl");

  // 240 x 320 screen: 220-pixel sliders with ticks from x 10 to x 210, 20 pixels apart.
  RECT rect;
  ASSERT_TRUE(GetWindowRect(battery, &rect));
  EXPECT_EQ(rect.right - rect.left, 220);
  Click(battery, 140);  // 6.5 ticks in: rounds up
  Click(ac, 400);       // past the end
  Click(ac, 5);         // before the start
  Click(ac, 29);        // nearest tick 1
  SendMessage(page, WM_CLOSE, 0, 0);

  EXPECT_EQ(RegistryLevel(kBatteryBrightnessValue), 7u);
  EXPECT_EQ(RegistryLevel(kAcBrightnessValue), 1u);
  EXPECT_EQ(GetBacklightLevels().battery, 7u);  // the driver was told
  ASSERT_TRUE(WaitForControlPanelExit(5000));
  EXPECT_EQ(GetForegroundWindow(), 0u);
  EXPECT_FALSE(IsWindow(battery));
  auto clicks = dev.device().Activities("click");
  ASSERT_EQ(clicks.size(), 4u);
  EXPECT_EQ(clicks[0].detail, "{\"control\":\"battery\",\"x\":140,\"y\":10}");
  auto starts = dev.device().Activities("process");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].detail, "{\"image\":\"ctlpnl.exe\",\"args\":\"cplmain.cpl,6\"}");
}

TEST_F(ControlPanelTest, TheMakersAppletHostsThePageWhenInstalled) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kMakerAppletKey, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_TRUE(StartDeviceProgram(kControlPanelImage, kStandardBacklightPage));
  HWND other = GetForegroundWindow();
  ASSERT_NE(other, 0u);
  EXPECT_EQ(Slider(other, 0), 0u);
  SendMessage(other, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitForControlPanelExit(5000));

  ASSERT_TRUE(StartDeviceProgram(kControlPanelImage, kMakerBacklightPage));
  EXPECT_NE(Slider(GetForegroundWindow(), 1), 0u);
}

}  // namespace
