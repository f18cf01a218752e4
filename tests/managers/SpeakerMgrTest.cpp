// CSpeakerMgr on the simulated phone: the sound setting read and forced, the volume step, the
// time limit and the polling thread.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "app/EventLog.h"
#include "app/Mgr.h"
#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "app/TimerNotification.h"
#include "managers/SpeakerMgr.h"
#include "platform/Mosutil.h"
#include "platform/Notify.h"
#include "platform/Registry.h"
#include "platform/Sound.h"
#include "support/TestDevice.h"
#include "support/Wait.h"

using namespace platform;

namespace {

using testsupport::WaitUntil;

class Listener : public IStatusListener {
 public:
  void OnStatusChanged(int status, int mgrId, int reason) override {
    std::lock_guard lock(mutex_);
    statuses_.push_back(status);
    changed_.notify_all();
  }
  std::string GetListenerName() override { return "speaker test"; }
  bool WaitFor(int status) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(5), [&] {
      return std::find(statuses_.begin(), statuses_.end(), status) != statuses_.end();
    });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<int> statuses_;
};

// A phone with Telvane installed (every manager switchable) and a fresh text table and log.
class SpeakerMgrTest : public ::testing::Test {
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
  void SetPhone(SND_SOUNDTYPE type) {
    SNDFILEINFO info;
    info.sstType = type;
    if (type == SND_SOUNDTYPE_FILE)
      info.szPathName = "\\Windows\\Chimes.wav";
    ASSERT_EQ(SndSetSound(SND_EVENT_ALL, info, 1), S_OK);
  }
  SND_SOUNDTYPE Phone() {
    SNDFILEINFO info;
    SndGetSound(SND_EVENT_ALL, &info);
    return info.sstType;
  }
  std::size_t VolumeChanges() { return dev.device().Activities("wave_volume").size(); }
  // Forces `status`, which must differ from the manager's status, and waits until the worker
  // has run the whole change (the listeners hear of it at its very end).
  void ForceAndWait(CSpeakerMgr& mgr, int status) {
    ASSERT_NE(mgr.GetStatus(), status);
    Listener listener;
    mgr.AddStatusListener(&listener);
    mgr.ForceStatus(status, 0, 0, 0);
    EXPECT_TRUE(listener.WaitFor(status));
    mgr.RemoveStatusListener(&listener);
  }
  // Makes the phone's setting `type` and lets the manager read it.
  void Start(CSpeakerMgr& mgr, SND_SOUNDTYPE type) {
    SetPhone(type);
    mgr.RefreshStatus(0);
  }
  int LogCount(const std::string& word) {
    std::string log = MosutilLog();
    int n = 0;
    for (auto at = log.find(word); at != std::string::npos; at = log.find(word, at + 1))
      ++n;
    return n;
  }
  std::string MosutilLog() {
    std::ifstream in(LogFilePath());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  TestDevice dev;
};

TEST_F(SpeakerMgrTest, ThePhonesSettingMapsToTheStatus) {
  CSpeakerMgr mgr;
  EXPECT_EQ(mgr.GetStatus(), CSpeakerMgr::STATUS_ON);  // before the first reading
  struct Case {
    SND_SOUNDTYPE type;
    int status;
    const char* name;
  };
  for (Case c : {Case{SND_SOUNDTYPE_NONE, 0, "silent"}, Case{SND_SOUNDTYPE_VIBRATE, 1, "vibrate"},
                 Case{SND_SOUNDTYPE_ON, 2, "on"}, Case{SND_SOUNDTYPE_FILE, -1, "unknown"}}) {
    SetPhone(c.type);
    mgr.RefreshStatus(0);
    EXPECT_EQ(mgr.GetStatus(), c.status) << c.name;
    EXPECT_EQ(mgr.GetStatusName(c.status), c.name);
  }
  EXPECT_EQ(mgr.GetName(), "Sound");
}

TEST_F(SpeakerMgrTest, AnUnreadableSettingKeepsTheStatusAndIsLogged) {
  CSpeakerMgr mgr;
  SetPhone(SND_SOUNDTYPE_VIBRATE);
  mgr.RefreshStatus(0);
  dev.device().SetState("sound", "loud");
  mgr.RefreshStatus(0);
  EXPECT_EQ(mgr.GetStatus(), CSpeakerMgr::STATUS_VIBRATE);
  EXPECT_NE(MosutilLog().find("Fracaso"), std::string::npos);
}

TEST_F(SpeakerMgrTest, ForcingSetsTheSettingAndOnlySoundOnSetsTheVolume) {
  CSpeakerMgr mgr;
  mgr.SetVolumeLevel(3);
  Start(mgr, SND_SOUNDTYPE_ON);
  ForceAndWait(mgr, CSpeakerMgr::STATUS_VIBRATE);
  EXPECT_EQ(Phone(), SND_SOUNDTYPE_VIBRATE);
  ForceAndWait(mgr, CSpeakerMgr::STATUS_SILENT);
  EXPECT_EQ(Phone(), SND_SOUNDTYPE_NONE);
  EXPECT_EQ(VolumeChanges(), 0u);

  ForceAndWait(mgr, CSpeakerMgr::STATUS_ON);
  EXPECT_EQ(Phone(), SND_SOUNDTYPE_ON);
  DWORD volume = 0;
  waveOutGetVolume(0, &volume);
  EXPECT_EQ(volume, 0x9999u);
  EXPECT_EQ(mgr.GetVolumeLevel(), 3);  // kept for the next time
  EXPECT_NE(MosutilLog().find("Exito"), std::string::npos);
}

TEST_F(SpeakerMgrTest, VolumeLevelsNotSetOrZeroLeaveTheVolumeAlone) {
  CSpeakerMgr mgr;
  for (int level : {CSpeakerMgr::kVolumeNotSet, 0}) {
    Start(mgr, SND_SOUNDTYPE_NONE);
    mgr.SetVolumeLevel(level);
    ForceAndWait(mgr, CSpeakerMgr::STATUS_ON);
    EXPECT_EQ(Phone(), SND_SOUNDTYPE_ON) << level;
  }
  EXPECT_EQ(VolumeChanges(), 0u);
}

TEST(SpeakerVolumeTest, StepsAndStepsAboveTheLast) {
  EXPECT_EQ(CSpeakerMgr::VolumeForLevel(1), 51u + 51u * 256u);
  EXPECT_EQ(CSpeakerMgr::VolumeForLevel(3), 0x9999u);
  EXPECT_EQ(CSpeakerMgr::VolumeForLevel(5), 0xFFFFu);
  // The product would wrap round to a quiet 50 at step 6: higher steps play at full volume.
  EXPECT_EQ(CSpeakerMgr::VolumeForLevel(6), 0xFFFFu);
  EXPECT_EQ(CSpeakerMgr::VolumeForLevel(100), 0xFFFFu);
}

TEST_F(SpeakerMgrTest, AStatusWithoutASoundTypeLeavesTheSettingAlone) {
  CSpeakerMgr mgr;
  Start(mgr, SND_SOUNDTYPE_VIBRATE);
  mgr.SetVolumeLevel(4);
  // Commands run in order: once the second has run, the first has too.
  mgr.ForceStatus(7, 0, 0, 0);
  ForceAndWait(mgr, CSpeakerMgr::STATUS_SILENT);
  EXPECT_EQ(LogCount("Exito"), 1);
  EXPECT_EQ(VolumeChanges(), 0u);
}

TEST_F(SpeakerMgrTest, ATimeLimitReturnsToTheStatusItCarries) {
  CSpeakerMgr mgr;
  Start(mgr, SND_SOUNDTYPE_ON);
  mgr.ForceStatus(CSpeakerMgr::STATUS_SILENT, 30, CSpeakerMgr::STATUS_ON, 0);
  ASSERT_TRUE(WaitUntil([&] { return mgr.LimitNotification() != 0; }));
  HNOTIFY limit = mgr.LimitNotification();
  CE_NOTIFICATION_TRIGGER trigger;
  ASSERT_TRUE(CeGetUserNotification(limit, &trigger));
  EXPECT_EQ(trigger.lpszArguments, "timer_notification_02_02");
  EXPECT_EQ(Phone(), SND_SOUNDTYPE_NONE);

  mgr.DispatchTimerNotification(MGR_ID_SPEAKER, CSpeakerMgr::STATUS_ON);
  ASSERT_TRUE(WaitUntil([&] { return Phone() == SND_SOUNDTYPE_ON; }));
  EXPECT_FALSE(CeGetUserNotification(limit, &trigger));
}

TEST_F(SpeakerMgrTest, ADisabledManagerShowsDisabled) {
  std::string config(CMgr::kMgrConfigChars, '2');
  config[MGR_ID_SPEAKER] = '0';
  RegistrySetString(HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, "mgr_config", config);
  CMgr::LoadConfig();
  CSpeakerMgr mgr;
  mgr.Initialize();
  mgr.RefreshStatus(1);
  EXPECT_EQ(mgr.GetStatus(), STATUS_DISABLED);
}

// The polling thread and the manager's shut-down (also run under the thread sanitizer).
class SpeakerThreadTest : public SpeakerMgrTest {};

TEST_F(SpeakerThreadTest, AChangeOnThePhoneReachesTheListenersWithinOnePoll) {
  CSpeakerMgr mgr(20);
  Listener listener;
  mgr.AddStatusListener(&listener);
  std::string out;
  ASSERT_EQ(dev.Console({"sound", "vibrate"}, &out), 0);
  EXPECT_TRUE(listener.WaitFor(CSpeakerMgr::STATUS_VIBRATE));
  ASSERT_EQ(dev.Console({"sound", "silent"}, &out), 0);
  EXPECT_TRUE(listener.WaitFor(CSpeakerMgr::STATUS_SILENT));
  mgr.RemoveStatusListener(&listener);
}

TEST_F(SpeakerThreadTest, StopsWhilePollingAndForcing) {
  // Destroyed mid-poll and with commands queued: the poll and the worker end first.
  for (int i = 0; i < 5; ++i) {
    auto mgr = std::make_unique<CSpeakerMgr>(1);
    mgr->ForceStatus(i % 3, 0, 0, 0);
    mgr->ForceStatus((i + 1) % 3, 0, 0, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    mgr.reset();
    EXPECT_EQ(CSpeakerMgr::GetInstance(), nullptr);
  }
}

}  // namespace
