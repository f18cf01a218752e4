// The system-state broker fans platform state changes out to its listeners.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "app/SystemStateBroker.h"
#include "platform/Registry.h"
#include "support/TestDevice.h"

using namespace platform;

namespace {

class RecordingListener : public IStateListener {
 public:
  void OnStateChanged(HREGNOTIFY handle) override {
    std::lock_guard lock(mutex);
    handles.push_back(handle);
    cv.notify_all();
  }
  bool WaitFor(std::size_t count) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, std::chrono::seconds(10), [&] { return handles.size() >= count; });
  }
  std::vector<HREGNOTIFY> Seen() {
    std::lock_guard lock(mutex);
    return handles;
  }
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<HREGNOTIFY> handles;
};

TEST(BrokerThreadTest, EveryListenerGetsEveryNotificationInBothModes) {
  TestDevice dev;
  RecordingListener first, second;
  CSystemStateBroker broker;
  EXPECT_EQ(CSystemStateBroker::GetInstance(), &broker);
  broker.AddListener(&first);

  // Queued before the second listener registers, but read after it did.
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", 0x10);
  broker.AddListener(&second);

  HREGNOTIFY calls = 0, wifi = 0;
  ASSERT_EQ(broker.Watch(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Active Call Count",
                         0xFFFFFFFF, &calls, CSystemStateBroker::MODE_CALLBACK),
            S_OK);
  ASSERT_EQ(broker.Watch(HKEY_LOCAL_MACHINE, "System\\State\\Hardware", "Wifi", 0xFFFFFFFF, &wifi,
                         CSystemStateBroker::MODE_QUEUE),
            S_OK);
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Active Call Count", 1);
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Hardware", "Wifi", 5);

  ASSERT_TRUE(first.WaitFor(3));
  ASSERT_TRUE(second.WaitFor(3));
  auto seen = second.Seen();
  EXPECT_EQ(std::count(seen.begin(), seen.end(), broker.PhoneStatusNotify()), 1);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), calls), 1);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), wifi), 1);
}

TEST(BrokerThreadTest, StopsPromptlyWhileOtherWatchesStillWrite) {
  TestDevice dev;
  auto start = std::chrono::steady_clock::now();
  {
    CSystemStateBroker broker;
    HREGNOTIFY h;
    broker.Watch(HKEY_LOCAL_MACHINE, "System\\State\\Battery", "Main", 0xFFFF0000, &h,
                 CSystemStateBroker::MODE_QUEUE);
  }
  // Destruction does not wait for the start delay or a read's time limit.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(CSystemStateBroker::GetInstance(), nullptr);
}

}  // namespace
