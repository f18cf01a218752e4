// The phone services around the radio that the cell tracker and the schedule's built-in actions
// use (battery and external power, opening files, ring tone, home-screen theme) and the device
// console's cell, signal and battery commands.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/PowerStatus.h"
#include "platform/Registry.h"
#include "platform/Ril.h"
#include "platform/Shell.h"
#include "support/TestDevice.h"

using namespace platform;

namespace {

class RilDeviceServicesTest : public ::testing::Test {
 protected:
  void MakeFile(const std::string& devicePath) {
    auto host = dev.device().HostPath(devicePath);
    std::filesystem::create_directories(host.parent_path());
    std::ofstream(host) << "x";
  }
  std::string LastActivity(const std::string& kind) {
    auto list = dev.device().Activities(kind);
    return list.empty() ? "" : list.back().detail;
  }

  TestDevice dev;
};

TEST_F(RilDeviceServicesTest, BatteryIsPublishedAndReadBack) {
  SYSTEM_POWER_STATUS_EX2 status;
  ASSERT_EQ(GetSystemPowerStatusEx2(&status, sizeof status, 1), sizeof status);
  EXPECT_EQ(status.BatteryLifePercent, 80);  // a new phone
  EXPECT_EQ(status.ACLineStatus, AC_LINE_OFFLINE);

  ASSERT_TRUE(SetBatteryState(20, true));
  DWORD main = 0;
  ASSERT_EQ(RegistryGetDWORD(HKEY_LOCAL_MACHINE, kBatteryStateKey, kBatteryMainValue, &main), S_OK);
  EXPECT_EQ(main, (20u << 16) | kBatteryOnMainsFlag);
  ASSERT_EQ(GetSystemPowerStatusEx2(&status, sizeof status, 1), sizeof status);
  EXPECT_EQ(status.BatteryLifePercent, 20);
  EXPECT_EQ(status.ACLineStatus, AC_LINE_ONLINE);
  EXPECT_EQ(status.BatteryFlag, BATTERY_FLAG_LOW | BATTERY_FLAG_CHARGING);
  EXPECT_EQ(dev.device().GetState(kAcPowerState), "on");

  EXPECT_FALSE(SetBatteryState(101, false));
  EXPECT_EQ(GetBatteryState().percent, 20);
  EXPECT_EQ(GetSystemPowerStatusEx2(&status, sizeof status - 1, 1), 0u);
}

TEST_F(RilDeviceServicesTest, OpeningAFileNeedsTheFile) {
  SHELLEXECUTEINFO info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = "Open";
  info.lpFile = "\\My Documents\\plan.txt";
  EXPECT_FALSE(ShellExecuteEx(&info));
  EXPECT_NE(LastActivity("open_file").find("\"found\":false"), std::string::npos);
  EXPECT_FALSE(dev.device().GetState(kLastOpenedFileState));

  MakeFile("\\My Documents\\plan.txt");
  ASSERT_TRUE(ShellExecuteEx(&info));
  EXPECT_NE(info.hProcess, 0u);
  EXPECT_EQ(dev.device().GetState(kLastOpenedFileState), "\\My Documents\\plan.txt");
  EXPECT_EQ(LastActivity("open_file"),
            "{\"file\":\"\\\\My Documents\\\\plan.txt\",\"verb\":\"Open\",\"found\":true}");
}

TEST_F(RilDeviceServicesTest, RingToneOfLineOneIsTheRingToneSetting) {
  ASSERT_EQ(SetRingToneLine1("\\Windows\\Alarm.wav"), S_OK);
  std::string sound;
  ASSERT_EQ(RegistryGetString(HKEY_CURRENT_USER, kRingToneKey, kRingToneSoundValue, &sound), S_OK);
  EXPECT_EQ(sound, "\\Windows\\Alarm.wav");
  EXPECT_EQ(dev.device().GetState(kRingToneState), "\\Windows\\Alarm.wav");
  EXPECT_EQ(SetRingToneLine1(""), E_INVALIDARG);
  EXPECT_EQ(SetRingToneLine1(std::string(261, 'a')), E_INVALIDARG);
  EXPECT_EQ(dev.device().Activities("ring_tone").size(), 1u);
}

TEST_F(RilDeviceServicesTest, ThemesAreTheThemeFilesOfThePhone) {
  MakeFile("\\Windows\\Ocean.tsk");
  MakeFile("\\Windows\\Autumn.tsk");
  MakeFile("\\Windows\\readme.txt");
  EXPECT_EQ(ListTodayThemes(), (std::vector<std::string>{"Autumn", "Ocean"}));
  EXPECT_FALSE(SelectTodayTheme("Winter"));
  std::string skin;
  RegistryGetString(HKEY_CURRENT_USER, kTodayKey, kTodaySkinValue, &skin);
  EXPECT_EQ(skin, "\\Windows\\default.tsk");
  ASSERT_TRUE(SelectTodayTheme("Ocean"));
  RegistryGetString(HKEY_CURRENT_USER, kTodayKey, kTodaySkinValue, &skin);
  EXPECT_EQ(skin, "\\Windows\\Ocean.tsk");
  EXPECT_EQ(dev.device().GetState(kTodayThemeState), "Ocean");
}

TEST_F(RilDeviceServicesTest, ConsoleChangesCellSignalAndBattery) {
  std::string out, err;
  ASSERT_EQ(dev.Console({"cell", "4711", "300", "--quiet"}, &out), 0);
  EXPECT_EQ(out, "4711/300\n");
  EXPECT_EQ(ril::GetServingCell().cellId, 4711u);
  ASSERT_EQ(dev.Console({"cell"}, &out), 0);
  EXPECT_EQ(out, "4711/300\n");

  ASSERT_EQ(dev.Console({"signal", "-80", "-113", "-51"}, &out), 0);
  EXPECT_EQ(out, "-80/-113/-51\n");
  ASSERT_EQ(dev.Console({"signal", "-70"}, &out), 0);
  EXPECT_EQ(out, "-70/-113/-51\n");

  ASSERT_EQ(dev.Console({"battery", "15", "--ac"}, &out), 0);
  EXPECT_EQ(out, "15/ac\n");
  // The mains state stays unless the command names it.
  ASSERT_EQ(dev.Console({"battery", "16"}, &out), 0);
  EXPECT_EQ(out, "16/ac\n");
  ASSERT_EQ(dev.Console({"battery", "16", "--no-ac"}, &out), 0);
  EXPECT_EQ(out, "16/battery\n");
  EXPECT_EQ(GetBatteryState().percent, 16);
}

TEST_F(RilDeviceServicesTest, ConsoleRejectsBadValuesWithOneLine) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"cell", "12"}, "usage"},
      {{"cell", "x", "1"}, "not a cell identifier"},
      {{"cell", "1", "-5"}, "not a location area code"},
      {{"signal", "-70", "-50", "-60"}, "not a signal range"},
      {{"signal", "strong"}, "not a signal strength"},
      {{"battery", "120"}, "not a battery level"},
      {{"battery", "50", "--ac", "--no-ac"}, "usage"},
  };
  for (const auto& c : cases) {
    std::string out, err;
    EXPECT_NE(dev.Console(c.args, &out, &err), 0) << c.args[0];
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
  EXPECT_EQ(ril::GetServingCell().cellId, 0u);
  EXPECT_EQ(GetBatteryState().percent, 80);
}

}  // namespace
