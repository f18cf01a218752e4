// The simulated sound service and system power states, through their calls and the device
// console.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/Device.h"
#include "platform/Power.h"
#include "platform/Sound.h"
#include "support/TestDevice.h"

using namespace platform;

namespace {

class SoundTest : public ::testing::Test {
 protected:
  SND_SOUNDTYPE Read() {
    SNDFILEINFO info;
    EXPECT_EQ(SndGetSound(SND_EVENT_ALL, &info), S_OK);
    return info.sstType;
  }
  TestDevice dev;
};

TEST_F(SoundTest, EveryTypeIsKeptAndANewPhoneSoundsNormally) {
  EXPECT_EQ(Read(), SND_SOUNDTYPE_ON);
  for (SND_SOUNDTYPE type : {SND_SOUNDTYPE_VIBRATE, SND_SOUNDTYPE_NONE, SND_SOUNDTYPE_ON}) {
    SNDFILEINFO info;
    info.sstType = type;
    ASSERT_EQ(SndSetSound(SND_EVENT_ALL, info, 1), S_OK);
    EXPECT_EQ(Read(), type);
  }
  SNDFILEINFO file;
  file.sstType = SND_SOUNDTYPE_FILE;
  file.szPathName = "\\Windows\\Chimes.wav";
  ASSERT_EQ(SndSetSound(SND_EVENT_ALL, file, 1), S_OK);
  SNDFILEINFO read;
  ASSERT_EQ(SndGetSound(SND_EVENT_ALL, &read), S_OK);
  EXPECT_EQ(read.sstType, SND_SOUNDTYPE_FILE);
  EXPECT_EQ(read.szPathName, "\\Windows\\Chimes.wav");
  EXPECT_EQ(read.szDisplayName, "Chimes");
  EXPECT_EQ(*dev.device().GetState("sound"), "file");
}

TEST_F(SoundTest, InvalidRequestsChangeNothing) {
  SNDFILEINFO vibrate;
  vibrate.sstType = SND_SOUNDTYPE_VIBRATE;
  ASSERT_EQ(SndSetSound(SND_EVENT_ALL, vibrate, 1), S_OK);

  SNDFILEINFO noPath;
  noPath.sstType = SND_SOUNDTYPE_FILE;
  EXPECT_EQ(SndSetSound(SND_EVENT_ALL, noPath, 1), E_INVALIDARG);
  SNDFILEINFO longPath;
  longPath.sstType = SND_SOUNDTYPE_FILE;
  longPath.szPathName = "\\" + std::string(kSoundNameChars, 'x');
  EXPECT_EQ(SndSetSound(SND_EVENT_ALL, longPath, 1), E_INVALIDARG);
  SNDFILEINFO badType;
  badType.sstType = static_cast<SND_SOUNDTYPE>(7);
  EXPECT_EQ(SndSetSound(SND_EVENT_ALL, badType, 1), E_INVALIDARG);
  EXPECT_EQ(SndSetSound(1, SNDFILEINFO(), 1), E_INVALIDARG);

  EXPECT_EQ(Read(), SND_SOUNDTYPE_VIBRATE);
}

TEST_F(SoundTest, AnUnreadableSettingFailsTheRead) {
  dev.device().SetState("sound", "loud");
  SNDFILEINFO info;
  EXPECT_EQ(SndGetSound(SND_EVENT_ALL, &info), E_FAIL);
}

TEST_F(SoundTest, WaveOutVolumeIsKeptAndEveryChangeRecorded) {
  DWORD volume = 0;
  ASSERT_EQ(waveOutGetVolume(0, &volume), MMSYSERR_NOERROR);
  EXPECT_EQ(volume, 0xFFFFFFFFu);
  EXPECT_EQ(waveOutSetVolume(0, 0x9999), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutSetVolume(0, 0x9999), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutGetVolume(0, &volume), MMSYSERR_NOERROR);
  EXPECT_EQ(volume, 0x9999u);
  auto records = dev.device().Activities("wave_volume");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].detail, "{\"volume\":39321}");
  EXPECT_EQ(waveOutSetVolume(3, 0), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(dev.device().Activities("wave_volume").size(), 2u);
}

TEST_F(SoundTest, ConsolePrintsOneWordAndChangesTheSetting) {
  std::string out, err;
  ASSERT_EQ(dev.Console({"sound"}, &out), 0);
  EXPECT_EQ(out, "on\n");
  ASSERT_EQ(dev.Console({"sound", "silent"}, &out), 0);
  EXPECT_EQ(Read(), SND_SOUNDTYPE_NONE);
  ASSERT_EQ(dev.Console({"sound", "file"}, &out), 0);
  EXPECT_EQ(Read(), SND_SOUNDTYPE_FILE);
  ASSERT_EQ(dev.Console({"sound"}, &out), 0);
  EXPECT_EQ(out, "file\n");

  EXPECT_NE(dev.Console({"sound", "loud"}, &out, &err), 0);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
  EXPECT_NE(err.find("loud"), std::string::npos);
  EXPECT_EQ(Read(), SND_SOUNDTYPE_FILE);
}

class PowerTest : public ::testing::Test {
 protected:
  TestDevice dev;
};

TEST_F(PowerTest, RequestsChangeTheStateAndAreRecorded) {
  EXPECT_EQ(GetSystemPowerStateWord(), "on");
  EXPECT_EQ(SetSystemPowerState("", POWER_STATE_SUSPEND, POWER_FORCE), 0u);
  EXPECT_EQ(GetSystemPowerStateWord(), "suspend");
  EXPECT_EQ(SetSystemPowerState("idle", 0, 0), 0u);
  EXPECT_EQ(GetSystemPowerStateWord(), "idle");
  auto records = dev.device().Activities("power");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].detail, "{\"state\":\"suspend\",\"force\":true}");
  EXPECT_EQ(records[1].detail, "{\"state\":\"idle\",\"force\":false}");
}

TEST_F(PowerTest, AResetStartsThePhoneAgain) {
  SetSystemPowerState("", POWER_STATE_OFF, POWER_FORCE);
  EXPECT_EQ(SetSystemPowerState("", POWER_STATE_RESET, POWER_FORCE), 0u);
  EXPECT_EQ(GetSystemPowerStateWord(), "on");
  EXPECT_EQ(dev.device().GetStateInt(kResetCountValue), 1);
}

TEST_F(PowerTest, NoSingleKnownStateIsRefused) {
  for (DWORD flags : {0u, POWER_STATE_ON | POWER_STATE_OFF, 0x00400000u, POWER_FORCE}) {
    EXPECT_EQ(SetSystemPowerState("", flags, POWER_FORCE),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER))
        << flags;
  }
  EXPECT_EQ(SetSystemPowerState("nap", 0, 0), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(dev.device().Activities("power").empty());
}

}  // namespace
