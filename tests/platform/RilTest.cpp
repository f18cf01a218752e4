// The simulated radio interface layer: asynchronous requests answered with their ids, location
// and signal notifications when the phone moves or the signal changes, the radio's on/off state,
// and closing a handle.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Registry.h"
#include "platform/Ril.h"
#include "support/TestDevice.h"

using namespace platform;

namespace {

constexpr auto kWait = std::chrono::seconds(5);

struct Received {
  DWORD code = 0;
  HRESULT id = 0;
  std::vector<DWORD> words;
};

// Opens the RIL and keeps everything its callbacks deliver.
class RilClient {
 public:
  explicit RilClient(DWORD classes = RIL_NCLASS_NETWORK | RIL_NCLASS_MISC) {
    result_ = RIL_Initialize(
        1,
        [this](DWORD code, HRESULT id, const void* data, std::size_t size, DWORD) {
          Keep(results_, code, id, data, size);
        },
        [this](DWORD code, const void* data, std::size_t size, DWORD) {
          Keep(notifications_, code, 0, data, size);
        },
        classes, 0, &handle_);
  }
  ~RilClient() {
    if (handle_)
      RIL_Deinitialize(handle_);
  }

  HRESULT InitResult() const { return result_; }
  HRIL Handle() const { return handle_; }
  void Close() {
    RIL_Deinitialize(handle_);
    handle_ = 0;
  }

  // Waits for the result of request `id`.
  bool WaitResult(HRESULT id, Received* out) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, kWait, [&] {
      for (const auto& r : results_) {
        if (r.id == id) {
          *out = r;
          return true;
        }
      }
      return false;
    });
  }
  // Waits for the `n`-th notification with `code` (1-based).
  bool WaitNotification(DWORD code, std::size_t n, Received* out) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, kWait, [&] {
      std::size_t seen = 0;
      for (const auto& r : notifications_) {
        if (r.code == code && ++seen == n) {
          *out = r;
          return true;
        }
      }
      return false;
    });
  }
  std::size_t NotificationCount(DWORD code) {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& r : notifications_)
      n += r.code == code ? 1 : 0;
    return n;
  }

 private:
  void Keep(std::vector<Received>& list, DWORD code, HRESULT id, const void* data,
            std::size_t size) {
    Received r{code, id, {}};
    const auto* words = static_cast<const DWORD*>(data);
    for (std::size_t i = 0; data && i < size / sizeof(DWORD); ++i)
      r.words.push_back(words[i]);
    {
      std::lock_guard lock(mutex_);
      list.push_back(r);
    }
    cv_.notify_all();
  }

  HRESULT result_;
  HRIL handle_ = 0;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Received> results_;
  std::vector<Received> notifications_;
};

void SetRadio(bool on) {
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", on ? 0 : 0x10);
}

class RilThreadTest : public ::testing::Test {
 protected:
  TestDevice dev;
};

TEST_F(RilThreadTest, CellRequestIsAnsweredWithItsIdAndTheServingCell) {
  RilClient ril;
  ASSERT_EQ(ril.InitResult(), S_OK);
  ASSERT_TRUE(ril::SetServingCell(4711, 300, false));
  HRESULT first = RIL_GetCellTowerInfo(ril.Handle());
  HRESULT second = RIL_GetSignalQuality(ril.Handle());
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  EXPECT_NE(first, second);
  Received r;
  ASSERT_TRUE(ril.WaitResult(first, &r));
  EXPECT_EQ(r.code, RIL_RESULT_OK);
  ASSERT_GE(r.words.size(), 6u);
  EXPECT_EQ(r.words[4], 300u);   // location area code
  EXPECT_EQ(r.words[5], 4711u);  // cell identifier
  ASSERT_TRUE(ril.WaitResult(second, &r));
  ASSERT_EQ(r.words.size(), 5u);
  EXPECT_EQ(r.words[1], RIL_PARAM_SQ_ALL);
  EXPECT_EQ(static_cast<std::int32_t>(r.words[3]), ril::kDefaultSignalMin);
  EXPECT_EQ(static_cast<std::int32_t>(r.words[4]), ril::kDefaultSignalMax);
}

TEST_F(RilThreadTest, AnnouncedCellChangeNotifiesQuietOneOnlyAnswersRequests) {
  RilClient ril;
  ASSERT_TRUE(ril::SetServingCell(10, 20, true));
  Received r;
  ASSERT_TRUE(ril.WaitNotification(RIL_NOTIFY_LOCATIONUPDATE, 1, &r));
  ASSERT_EQ(r.words.size(), 3u);
  EXPECT_EQ(r.words[1], 20u);  // location area code
  EXPECT_EQ(r.words[2], 10u);  // cell identifier

  ASSERT_TRUE(ril::SetServingCell(11, 21, false));
  HRESULT id = RIL_GetCellTowerInfo(ril.Handle());
  ASSERT_TRUE(ril.WaitResult(id, &r));
  EXPECT_EQ(r.words[5], 11u);
  // The request was answered after the quiet change: no notification came for it.
  EXPECT_EQ(ril.NotificationCount(RIL_NOTIFY_LOCATIONUPDATE), 1u);
}

TEST_F(RilThreadTest, NotificationsFollowTheClassesAskedFor) {
  RilClient network(RIL_NCLASS_NETWORK);
  RilClient misc(RIL_NCLASS_MISC);
  ASSERT_TRUE(ril::SetSignal({-80, -113, -51, RIL_PARAM_SQ_ALL}));
  ASSERT_TRUE(ril::SetServingCell(1, 2, true));
  Received r;
  ASSERT_TRUE(misc.WaitNotification(RIL_NOTIFY_SIGNALQUALITY, 1, &r));
  EXPECT_EQ(static_cast<std::int32_t>(r.words[2]), -80);
  ASSERT_TRUE(network.WaitNotification(RIL_NOTIFY_LOCATIONUPDATE, 1, &r));
  // Each client only hears its own class, in every process the same radio thread serves.
  EXPECT_EQ(network.NotificationCount(RIL_NOTIFY_SIGNALQUALITY), 0u);
  EXPECT_EQ(misc.NotificationCount(RIL_NOTIFY_LOCATIONUPDATE), 0u);
}

TEST_F(RilThreadTest, RadioOffAnswersRequestsWithoutDataAndSendsNothing) {
  RilClient ril;
  ASSERT_TRUE(ril::SetServingCell(5, 6, false));
  SetRadio(false);
  ASSERT_FALSE(ril::RadioIsOn());
  HRESULT id = RIL_GetCellTowerInfo(ril.Handle());
  Received r;
  ASSERT_TRUE(ril.WaitResult(id, &r));
  EXPECT_EQ(r.code, RIL_RESULT_RADIOOFF);
  EXPECT_TRUE(r.words.empty());
  ASSERT_TRUE(ril::SetServingCell(7, 8, true));

  // Switched on, the radio registers and tells where it is.
  SetRadio(true);
  ASSERT_TRUE(ril.WaitNotification(RIL_NOTIFY_LOCATIONUPDATE, 1, &r));
  EXPECT_EQ(r.words[2], 7u);
  EXPECT_EQ(ril.NotificationCount(RIL_NOTIFY_LOCATIONUPDATE), 1u);
}

TEST_F(RilThreadTest, ClosedHandlesAreRefusedAndGetNothingMore) {
  RilClient kept;
  RilClient closed;
  HRIL handle = closed.Handle();
  closed.Close();
  EXPECT_EQ(RIL_GetCellTowerInfo(handle), E_INVALIDARG);
  EXPECT_EQ(RIL_Deinitialize(handle), E_INVALIDARG);
  ASSERT_TRUE(ril::SetServingCell(1, 1, true));
  Received r;
  ASSERT_TRUE(kept.WaitNotification(RIL_NOTIFY_LOCATIONUPDATE, 1, &r));
  EXPECT_EQ(closed.NotificationCount(RIL_NOTIFY_LOCATIONUPDATE), 0u);
}

TEST_F(RilThreadTest, OpeningChecksItsArguments) {
  HRIL handle = 0;
  auto result = [](DWORD, HRESULT, const void*, std::size_t, DWORD) {};
  auto notify = [](DWORD, const void*, std::size_t, DWORD) {};
  EXPECT_EQ(RIL_Initialize(2, result, notify, RIL_NCLASS_NETWORK, 0, &handle), E_INVALIDARG);
  EXPECT_EQ(RIL_Initialize(1, nullptr, notify, RIL_NCLASS_NETWORK, 0, &handle), E_INVALIDARG);
  EXPECT_EQ(handle, 0u);
}

TEST_F(RilThreadTest, SignalIsPublishedAsAPercentage) {
  ASSERT_TRUE(ril::SetSignal({-80, -113, -51, RIL_PARAM_SQ_ALL}));
  DWORD percent = 0;
  ASSERT_EQ(
      RegistryGetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Signal Strength", &percent),
      S_OK);
  EXPECT_EQ(percent, 53u);
  ASSERT_TRUE(ril::SetSignal({-200, -113, -51, RIL_PARAM_SQ_ALL}));
  RegistryGetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Signal Strength", &percent);
  EXPECT_EQ(percent, 0u);
  EXPECT_EQ(dev.device().GetState(ril::kSignalStrengthState), "-200");
}

}  // namespace

// A move read while another thread writes it is either the old cell with its area or the new
// one with its area, never a mix of the two.
TEST_F(RilThreadTest, ServingCellIsNeverReadHalfWritten) {
  ASSERT_TRUE(ril::SetServingCell(1, 100, false));
  std::atomic<bool> done{false};
  std::thread mover([&] {
    for (int i = 0; i < 3000; ++i)
      ril::SetServingCell(i % 2 ? 2 : 1, i % 2 ? 200 : 100, false);
    done.store(true);
  });
  int mixed = 0;
  while (!done.load()) {
    ril::ServingCell cell = ril::GetServingCell();
    if (cell.lac != cell.cellId * 100)
      ++mixed;
  }
  mover.join();
  EXPECT_EQ(mixed, 0);
}
