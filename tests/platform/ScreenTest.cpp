// The phone's screen size and the screenshot request between a requester and a window's owner.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/HardwareEvents.h"
#include "platform/Input.h"
#include "platform/Screen.h"
#include "platform/Window.h"
#include "support/TestDevice.h"
#include "support/Wait.h"

using namespace platform;

namespace {

class NullSink : public IWindowSink {
 public:
  void OnWindowMessage(UINT, WPARAM, LPARAM) override {}
};

template <class Pred>
bool Eventually(Pred pred) {
  return testsupport::WaitUntil(pred, 5000, 20);
}

TEST(ScreenTest, SizeChangesAreCheckedAndAnnounced) {
  TestDevice dev;
  EXPECT_EQ(GetScreenSize().width, 240);
  EXPECT_EQ(GetScreenSize().height, 320);
  std::atomic<int> announced{0};
  std::string last;
  std::mutex mutex;
  int sub = SubscribeHardwareEvent(kScreenEvent, [&](const std::string&, const std::string& p) {
    std::lock_guard lock(mutex);
    last = p;
    ++announced;
  });
  ASSERT_TRUE(SetScreenSize({480, 640}));
  ASSERT_TRUE(RotateScreen());
  EXPECT_EQ(GetScreenSize().width, 640);
  EXPECT_EQ(GetScreenSize().height, 480);
  ASSERT_TRUE(Eventually([&] { return announced.load() == 2; }));
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(last, "640x480");
  }
  EXPECT_FALSE(SetScreenSize({99, 320}));
  EXPECT_FALSE(SetScreenSize({240, 4001}));
  EXPECT_EQ(GetScreenSize().width, 640) << "a refused size changes nothing";
  UnsubscribeHardwareEvent(sub);
}

TEST(ScreenTest, ScreenshotRequestsReachTheOwnerOfTheWindowAndCarryItsAnswer) {
  TestDevice dev;
  NullSink sink;
  HWND window = RegisterTopLevelWindow("Shot", &sink);
  ASSERT_NE(window, 0u);
  std::string error;
  EXPECT_FALSE(RequestScreenshot("Elsewhere", "/tmp/x.png", 1000, &error));
  EXPECT_NE(error.find("no window"), std::string::npos);

  // Nobody serves the class yet: the request times out.
  EXPECT_FALSE(RequestScreenshot("Shot", "/tmp/x.png", 300, &error));
  EXPECT_EQ(error, "no answer from the window's program");

  std::mutex mutex;
  std::string asked;
  int sub = ServeScreenshots("Shot", [&](std::uint64_t id, const std::string& file) {
    {
      std::lock_guard lock(mutex);
      asked = file;
    }
    // Answers from another thread, as a user interface does from its own.
    std::thread([id, file] {
      CompleteScreenshot(id, file.find("bad") != std::string::npos ? "cannot write " + file : "");
    }).detach();
  });
  EXPECT_TRUE(RequestScreenshot("Shot", "/tmp/with space\tand tab.png", 5000, &error)) << error;
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(asked, "/tmp/with space\tand tab.png");
  }
  EXPECT_FALSE(RequestScreenshot("Shot", "/tmp/bad.png", 5000, &error));
  EXPECT_EQ(error, "cannot write /tmp/bad.png");
  UnsubscribeHardwareEvent(sub);
  DestroyTopLevelWindow(window);
}

// Taps and keys go to the owner of the window under the point or of the active window, carry
// the screen point or the key, and come back with the owner's answer.
TEST(ScreenTest, InputRequestsReachTheOwnerOfTheWindowAndCarryItsAnswer) {
  TestDevice dev;
  NullSink sink;
  HWND window = RegisterTopLevelWindow("Panel", &sink);
  ASSERT_TRUE(SetWindowState(window, {"Panel", true, true, 10, 20, 100, 100, true}, true));
  std::mutex mutex;
  std::vector<InputRequest> delivered;
  int sub = ServeInput([&](std::uint64_t id, const InputRequest& request) {
    {
      std::lock_guard lock(mutex);
      delivered.push_back(request);
    }
    std::string error = !request.tap && request.key == PhoneKey::kEscape ? "refused" : "";
    std::thread([id, error] { CompleteInput(id, error); }).detach();
  });
  std::string error;
  EXPECT_TRUE(TapScreen(15, 119, 5000, &error)) << error;
  EXPECT_TRUE(PressKey(PhoneKey::kSoftRight, 5000, &error)) << error;
  EXPECT_FALSE(PressKey(PhoneKey::kEscape, 5000, &error));
  EXPECT_EQ(error, "refused");
  EXPECT_FALSE(TapScreen(15, 120, 5000, &error));
  EXPECT_EQ(error, "no window at 15,120 on the screen");
  {
    std::lock_guard lock(mutex);
    ASSERT_EQ(delivered.size(), 3u);
    EXPECT_EQ(delivered[0].hwnd, window);
    EXPECT_TRUE(delivered[0].tap);
    EXPECT_EQ(delivered[0].x, 15);
    EXPECT_EQ(delivered[0].y, 119);
    EXPECT_FALSE(delivered[1].tap);
    EXPECT_EQ(delivered[1].key, PhoneKey::kSoftRight);
  }
  EXPECT_EQ(PhoneKeyFromName("softleft"), PhoneKey::kSoftLeft);
  EXPECT_EQ(PhoneKeyFromName("F6"), PhoneKey::kF6);
  EXPECT_EQ(PhoneKeyFromName("menu"), std::nullopt);
  UnsubscribeHardwareEvent(sub);
  DestroyTopLevelWindow(window);
}

TEST(HardwareEventThreadTest, NoCallbackRunsAfterItsSubscriptionEnded) {
  TestDevice dev;
  std::atomic<bool> inside{false};
  std::atomic<bool> release{false};
  std::atomic<int> calls{0};
  int sub = SubscribeHardwareEvent("slow", [&](const std::string&, const std::string&) {
    ++calls;
    inside = true;
    while (!release.load())
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    inside = false;
  });
  BroadcastHardwareEvent("slow");
  ASSERT_TRUE(Eventually([&] { return inside.load(); }));
  std::atomic<bool> ended{false};
  std::thread unsubscriber([&] {
    UnsubscribeHardwareEvent(sub);
    ended = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(ended.load()) << "the subscription ended while its callback still ran";
  release = true;
  unsubscriber.join();
  EXPECT_FALSE(inside.load());
  // Events are delivered in the order they were sent, so once a later marker event has arrived
  // the ended subscription has had its chance to be called.
  std::atomic<bool> marked{false};
  int marker = SubscribeHardwareEvent(
      "marker", [&](const std::string&, const std::string&) { marked = true; });
  BroadcastHardwareEvent("slow");
  BroadcastHardwareEvent("marker");
  ASSERT_TRUE(Eventually([&] { return marked.load(); }));
  EXPECT_EQ(calls.load(), 1);
  UnsubscribeHardwareEvent(marker);
}

}  // namespace
