// The running telvane and a home-screen item: once the item registers its window, the program
// pushes every feature's state and the location to it, and tells it of every later change.
// The item here is a window of the test process, so what the program sends is read exactly.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "platform/Window.h"
#include "support/Programs.h"

using namespace platform;

namespace {

constexpr UINT kItemRegister = 1227;
constexpr UINT kItemLocation = 1228;
constexpr UINT kItemFeatureState = 1229;
constexpr UINT kItemPlaceChanged = 1230;
constexpr WPARAM kWifi = 0;
constexpr WPARAM kBluetooth = 1;
constexpr WPARAM kPhone = 3;

class HomeItemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(telvane.StartAndWaitUntilReady());
    item = RegisterTopLevelWindow("TelvaneHomeItem", &sink);
    ASSERT_NE(item, 0u);
  }
  void TearDown() override { DestroyTopLevelWindow(item); }

  void Console(const std::vector<std::string>& args) { ASSERT_EQ(dev.Console(args), 0); }
  // Reads what the item received until `done` holds for it (true) or `timeoutMs` passed.
  template <class Done>
  bool Receive(Done done, int timeoutMs = 10000) {
    for (int waited = 0; waited < timeoutMs; waited += 100) {
      MessageQueueSink::Message m;
      while (sink.Get(&m, 0))
        received.push_back(m);
      if (done())
        return true;
      MessageQueueSink::Message next;
      if (sink.Get(&next, 100))
        received.push_back(next);
    }
    return done();
  }
  std::map<WPARAM, LPARAM> FeatureStates() const {
    std::map<WPARAM, LPARAM> states;
    for (const auto& m : received) {
      if (m.msg == kItemFeatureState)
        states[m.wParam] = m.lParam;  // the latest state of each feature
    }
    return states;
  }
  int Count(UINT msg) const {
    int n = 0;
    for (const auto& m : received)
      n += m.msg == msg;
    return n;
  }

  TestDevice dev;
  TelvaneProcess telvane{dev};
  MessageQueueSink sink;
  HWND item = 0;
  std::vector<MessageQueueSink::Message> received;
};

TEST_F(HomeItemTest, RegistrationPushesTheWholeStateAndChangesFollow) {
  Console({"cell", "4711", "300"});
  Console({"post", "MainWindow", std::to_string(kItemRegister), std::to_string(item), "0"});
  ASSERT_TRUE(Receive([&] {
    auto states = FeatureStates();
    return states.count(kWifi) && states.count(kBluetooth) && states.count(kPhone) &&
           Count(kItemLocation) > 0 && Count(kItemPlaceChanged) > 0;
  })) << telvane.TraceText();
  EXPECT_EQ(FeatureStates()[kPhone], 0) << "the phone radio is on";
  bool located = false;
  for (const auto& m : received)
    located |= m.msg == kItemLocation && m.wParam == 4711 && m.lParam == 300;
  EXPECT_TRUE(located) << "the location is pushed as cell and area";

  // A change made on the phone reaches the item.
  std::string before = std::to_string(FeatureStates()[kBluetooth]);
  Console({"bt", "discoverable"});
  ASSERT_TRUE(Receive([&] { return FeatureStates()[kBluetooth] != std::stol(before); }))
      << telvane.TraceText();
  Console({"radio", "off"});
  ASSERT_TRUE(Receive([&] { return FeatureStates()[kPhone] != 0; })) << telvane.TraceText();
}

TEST_F(HomeItemTest, NothingIsSentBeforeTheItemRegisters) {
  Console({"bt", "discoverable"});
  Console({"cell", "12", "34"});
  EXPECT_FALSE(Receive([&] { return !received.empty(); }, 2000));
}

}  // namespace
