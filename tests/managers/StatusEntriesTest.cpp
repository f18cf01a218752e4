// An observed status change is written to the event log once, however many refreshes observe
// it: here the Wi-Fi manager's re-read after its command and the broker's report of the change.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "app/SystemStateBroker.h"
#include "managers/RadioTestSupport.h"
#include "managers/WifiOssVcsMgr.h"
#include "support/Wait.h"

using namespace platform;
using testsupport::WaitUntil;

namespace {

// The real manager whose reads wait (a little) for a second read to begin, so that the two
// refreshes of one change overlap as they do when the broker is quick.
class OverlappingWifiMgr : public CWifiOssVcsMgr {
 public:
  ~OverlappingWifiMgr() override { Detach(); }
  void RefreshStatusChild(int force) override {
    if (overlap) {
      std::unique_lock lock(mutex_);
      ++inside_;
      arrived_.notify_all();
      arrived_.wait_for(lock, std::chrono::milliseconds(500), [this] { return inside_ >= 2; });
    }
    CWifiOssVcsMgr::RefreshStatusChild(force);
    if (overlap) {
      std::lock_guard lock(mutex_);
      --inside_;
    }
  }
  std::atomic<bool> overlap{false};

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  int inside_ = 0;
};

// Counts the broker's reports of the Wi-Fi value. Registered after the manager, so a report is
// counted once the manager's own handling of it returned.
struct WifiReports : IStateListener {
  explicit WifiReports(CWifiMgr& w) : wifi(w) {}
  void OnStateChanged(HREGNOTIFY handle) override {
    if (handle == wifi.GetWifiWatch())
      ++count;
  }
  CWifiMgr& wifi;
  std::atomic<int> count{0};
};

class StatusEntriesTest : public radiotest::RadioFixture {
 protected:
  static int ChangedEntries() {
    int n = 0;
    for (const auto& r : CEventLog::GetInstance()->GetRecords())
      n += r.code == MGR_ID_WIFI && r.level == 1;
    return n;
  }
  // Waits until every command posted to the manager so far has run.
  static void Drain(CMgr& mgr) {
    int before = mgr.GetExecutedCount();
    mgr.PostCommand(99, -1, reinterpret_cast<std::intptr_t>(new StatusChangeRequest{0, 0}));
    ASSERT_TRUE(
        WaitUntil([&] { return mgr.GetExecutedCount() > before && mgr.GetQueueLength() == 0; }));
  }
};

TEST_F(StatusEntriesTest, SwitchingWifiWritesOneChangedEntryPerChange) {
  CSystemStateBroker broker;
  OverlappingWifiMgr wifi;
  wifi.Initialize();
  ASSERT_EQ(wifi.GetStatus(), WIFI_STATUS_ON);
  WifiReports reports(wifi);
  broker.AddListener(&reports);
  wifi.overlap = true;
  int before = ChangedEntries();
  const int kSwitches = 6;
  for (int i = 0; i < kSwitches; ++i) {
    int target = i % 2 == 0 ? WIFI_STATUS_OFF : WIFI_STATUS_ON;
    int reported = reports.count.load();
    wifi.ForceStatus(target, 0, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return reports.count.load() > reported; }));
    Drain(wifi);
    ASSERT_EQ(wifi.GetStatus(), target);
  }
  wifi.overlap = false;
  EXPECT_EQ(ChangedEntries() - before, kSwitches);
  broker.RemoveListener(&reports);
}

}  // namespace
