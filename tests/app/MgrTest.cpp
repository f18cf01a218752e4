// The manager framework's rules, on a manager whose "platform" is a plain value.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/EventLog.h"
#include "app/Mgr.h"
#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "app/TimerNotification.h"
#include "platform/Notify.h"
#include "platform/Registry.h"
#include "support/TestDevice.h"
#include "support/Wait.h"

using namespace platform;

namespace {

class TestMgr : public CMgr {
 public:
  explicit TestMgr(int id) : CMgr(id) {}
  ~TestMgr() override { Stop(); }
  void Initialize() override {}
  void RefreshStatusChild(int) override { SetStatusValue(platformStatus.load()); }
  void ForceStatusChild(int status, int) override { platformStatus.store(status); }
  void SetSecondaryStatus() override { ForceStatus(2, 0, 0, 0); }
  void HandleCommandChild(int, int) override {}
  void ProcessTimerNotification(int param) override { timerParams.push_back(param); }
  std::string GetName() override { return "Test"; }
  std::string GetStatusName(int status) override { return status == 1 ? "on" : "off"; }

  std::atomic<int> platformStatus{0};
  std::vector<int> timerParams;
};

class Listener : public IStatusListener {
 public:
  void OnStatusChanged(int status, int mgrId, int reason) override {
    std::lock_guard lock(mutex);
    calls.push_back({status, mgrId, reason});
    cv.notify_all();
  }
  std::string GetListenerName() override { return "test listener"; }
  bool WaitForStatus(int status) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, std::chrono::seconds(5), [&] {
      for (auto& c : calls) {
        if (c[0] == status)
          return true;
      }
      return false;
    });
  }
  std::size_t Count() {
    std::lock_guard lock(mutex);
    return calls.size();
  }
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::array<int, 3>> calls;
};

class MgrThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HKEY key;
    RegCreateKeyEx(HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, &key);
    RegSetDWORD(key, "events_log_items_screen", 100);
    RegCloseKey(key);
    CTexts::ResetForTesting();
    CEventLog::DestroyInstanceForTesting();
  }
  void TearDown() override {
    CEventLog::DestroyInstanceForTesting();
    CTexts::ResetForTesting();
  }
  void SetConfig(const std::string& config) {
    RegistrySetString(HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, "mgr_config", config);
    CMgr::LoadConfig();
  }
  int EntriesWithCode(int code, int level) {
    int n = 0;
    for (const auto& r : CEventLog::GetInstance()->GetRecords()) {
      if (r.code == code && r.level == level)
        ++n;
    }
    return n;
  }
  TestDevice dev;
};

TEST_F(MgrThreadTest, RemovalWaitsForADeliveryUnderWayAndNothingComesAfterIt) {
  SetConfig("222222");
  TestMgr mgr(4);
  struct Blocking : IStatusListener {
    void OnStatusChanged(int, int, int) override {
      std::unique_lock lock(mutex);
      ++calls;
      cv.notify_all();
      cv.wait(lock, [&] { return open; });
    }
    std::string GetListenerName() override { return "blocking listener"; }
    std::mutex mutex;
    std::condition_variable cv;
    int calls = 0;
    bool open = false;
  } listener;
  Listener witness;  // called after the blocking listener, so it shows a delivery has passed it
  mgr.AddStatusListener(&listener);
  mgr.AddStatusListener(&witness);
  mgr.ForceStatus(1, 0, 0, 0);
  {
    std::unique_lock lock(listener.mutex);
    ASSERT_TRUE(
        listener.cv.wait_for(lock, std::chrono::seconds(5), [&] { return listener.calls > 0; }));
  }
  std::atomic<bool> removed{false};
  std::thread remover([&] {
    mgr.RemoveStatusListener(&listener);
    removed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(removed.load()) << "the removal returned while the listener was still being called";
  {
    std::lock_guard lock(listener.mutex);
    listener.open = true;
  }
  listener.cv.notify_all();
  remover.join();
  EXPECT_TRUE(removed.load());
  int calls;
  {
    std::lock_guard lock(listener.mutex);
    calls = listener.calls;
  }
  mgr.ForceStatus(0, 0, 0, 0);
  ASSERT_TRUE(witness.WaitForStatus(0));
  {
    std::lock_guard lock(listener.mutex);
    EXPECT_EQ(listener.calls, calls) << "a removed listener was called";
  }
  mgr.RemoveStatusListener(&witness);
}

TEST_F(MgrThreadTest, WithoutConfigurationChangesAreRefusedButReadingGoesOn) {
  SetConfig("");
  TestMgr mgr(1);
  Listener listener;
  mgr.AddStatusListener(&listener);
  mgr.platformStatus = 1;
  mgr.ForceStatus(0, 0, 0, 0);
  EXPECT_EQ(mgr.RequestAccepted(), 0);
  EXPECT_TRUE(mgr.StatusEvent().Wait(0));
  EXPECT_EQ(mgr.platformStatus.load(), 1);
  mgr.RefreshStatus(1);
  EXPECT_EQ(mgr.GetStatus(), 1);
  EXPECT_EQ(listener.Count(), 1u);
  EXPECT_EQ(EntriesWithCode(1, 2), 0);
  mgr.RemoveStatusListener(&listener);
}

TEST_F(MgrThreadTest, DisabledManagerIsNeverRefreshed) {
  SetConfig("022222");
  TestMgr disabled(0);
  TestMgr enabled(5);
  disabled.platformStatus = 1;
  disabled.RefreshStatus(1);
  EXPECT_EQ(disabled.GetStatus(), STATUS_UNKNOWN);
  disabled.ForceStatus(1, 0, 0, 0);
  EXPECT_EQ(disabled.RequestAccepted(), 0);

  Listener listener;
  enabled.AddStatusListener(&listener);
  enabled.ForceStatus(1, 0, 0, 0);
  EXPECT_EQ(enabled.RequestAccepted(), 1);
  EXPECT_TRUE(listener.WaitForStatus(1));
  enabled.RemoveStatusListener(&listener);
}

TEST_F(MgrThreadTest, StatusTenIsIgnoredWithoutAnEntry) {
  SetConfig("222222");
  TestMgr mgr(2);
  mgr.ForceStatus(10, 0, 0, 0);
  EXPECT_EQ(EntriesWithCode(2, 2), 0);
  EXPECT_EQ(mgr.GetQueueLength(), 0u);
}

TEST_F(MgrThreadTest, ChangeWithTimeLimitWritesBothEntriesAndOneNotification) {
  SetConfig("222222");
  TestMgr mgr(5);
  Listener listener;
  mgr.AddStatusListener(&listener);
  mgr.RefreshStatus(1);
  ASSERT_EQ(mgr.GetStatus(), 0);
  int changedBefore = EntriesWithCode(5, 1);

  mgr.ForceStatus(1, 30, 1, 0);
  EXPECT_EQ(EntriesWithCode(5, 2), 1) << "the changing entry is written at once";
  ASSERT_TRUE(listener.WaitForStatus(1));
  EXPECT_EQ(EntriesWithCode(5, 1), changedBefore + 1) << "one changed entry";
  EXPECT_TRUE(timernotification::Exists(5, 1));
  HNOTIFY first = CLimitNotifications::Get(5);
  ASSERT_NE(first, 0u);
  CE_NOTIFICATION_TRIGGER t;
  ASSERT_TRUE(CeGetUserNotification(first, &t));
  EXPECT_EQ(t.lpszArguments, "timer_notification_05_01");
  std::int64_t ahead = SystemTimeToMs(t.stStartTime) - Clock::LocalNowMs();
  EXPECT_NEAR(static_cast<double>(ahead), 30 * 60000.0, 5000.0);

  // A second limit replaces the first.
  mgr.ForceStatus(0, 10, 1, 0);
  ASSERT_TRUE(listener.WaitForStatus(0));
  testsupport::WaitUntil([] { return CLimitNotifications::Get(5) != 0; }, 1000, 20);
  std::vector<HNOTIFY> handles;
  CeGetUserNotificationHandles(&handles, 100);
  EXPECT_EQ(handles.size(), 1u);
  EXPECT_FALSE(CeGetUserNotification(first, &t));
  mgr.RemoveStatusListener(&listener);
}

TEST_F(MgrThreadTest, RefreshWithUnchangedStatusFiresWithoutAnEntry) {
  SetConfig("222222");
  TestMgr mgr(3);
  mgr.RefreshStatus(0);
  int entries = static_cast<int>(CEventLog::GetInstance()->GetRecords().size());
  Listener listener;
  mgr.AddStatusListener(&listener);
  mgr.RefreshStatus(1);
  EXPECT_EQ(listener.Count(), 1u);
  EXPECT_EQ(listener.calls[0][2], CMgr::REASON_REFRESH);
  EXPECT_EQ(static_cast<int>(CEventLog::GetInstance()->GetRecords().size()), entries);
  mgr.RefreshStatus(0);
  EXPECT_EQ(listener.Count(), 1u) << "an unforced refresh without change fires nothing";
  mgr.RemoveStatusListener(&listener);
}

TEST_F(MgrThreadTest, TimerNotificationReachesOnlyTheAddressedManager) {
  SetConfig("222222");
  TestMgr three(3), four(4);
  EXPECT_EQ(CMgr::GetMgr(3), &three);
  for (CMgr* m : CMgr::GetAll())
    m->DispatchTimerNotification(3, 7);
  EXPECT_EQ(three.timerParams, std::vector<int>{7});
  EXPECT_TRUE(four.timerParams.empty());
}

TEST_F(MgrThreadTest, ListenerMayRemoveItselfWhileNotified) {
  SetConfig("222222");
  TestMgr mgr(1);
  struct SelfRemoving : IStatusListener {
    CMgr* mgr;
    int calls = 0;
    void OnStatusChanged(int, int, int) override {
      ++calls;
      mgr->RemoveStatusListener(this);
    }
    std::string GetListenerName() override { return "self-removing"; }
  } listener;
  listener.mgr = &mgr;
  mgr.AddStatusListener(&listener);
  mgr.RefreshStatus(1);
  mgr.RefreshStatus(1);
  EXPECT_EQ(listener.calls, 1);
}

}  // namespace
