// The phone-radio manager on the simulated telephony line and SIM: the asynchronous switch, the
// reply handling and its entries, the SIM's PIN, timed notifications and the radio's state value.
#include <gtest/gtest.h>

#include "app/SystemStateBroker.h"
#include "app/TimerNotification.h"
#include "managers/CallForwardMgr.h"
#include "managers/MobilePhoneMgr.h"
#include "managers/RadioTestSupport.h"
#include "platform/Mosutil.h"
#include "platform/PhoneHardware.h"
#include "platform/Telephony.h"

using namespace platform;
using radiotest::WaitUntil;

namespace {

// Releases held telephony replies however the test ends.
struct HeldReplies {
  HeldReplies() { HoldTelephonyReplies(true); }
  ~HeldReplies() { Release(); }
  void Release() { HoldTelephonyReplies(false); }
};

class PhoneMgrThreadTest : public radiotest::RadioFixture {
 protected:
  void SetUp() override {
    RadioFixture::SetUp();
    // The real translations, so that entries can be told apart by their texts.
    ASSERT_EQ(dev.Console({"install"}), 0);
    CTexts::ResetForTesting();
  }
  static std::string Text(const char* id) { return CTexts::GetInstance()->GetText(id); }
  static std::vector<std::string> Requests() {
    std::vector<std::string> out;
    for (const auto& a : Device::Current()->Activities("telephony"))
      out.push_back(a.detail);
    return out;
  }
  static std::string State(const char* name) {
    return Device::Current()->GetState(name).value_or("");
  }
  static int Entries(const std::string& summary, int level) {
    int n = 0;
    for (const auto& r : CEventLog::GetInstance()->GetRecords()) {
      if (r.code == MGR_ID_PHONE && r.summary == summary && r.level == level)
        ++n;
    }
    return n;
  }
  static std::size_t Activities(const char* kind) {
    return Device::Current()->Activities(kind).size();
  }
  // Runs a request to its end (the status event) and reads the status again.
  static void Finish(CMobilePhoneMgr& phone) {
    ASSERT_TRUE(phone.StatusEvent().Wait(5000));
    phone.RefreshStatus(0);
  }
};

TEST_F(PhoneMgrThreadTest, SwitchingToTheShownStatusCompletesAtOnceAndTouchesNothing) {
  CMobilePhoneMgr phone;
  EXPECT_EQ(CMobilePhoneMgr::GetInstance(), &phone);
  phone.Initialize();
  phone.RefreshStatus(1);
  ASSERT_EQ(phone.GetStatus(), PHONE_STATUS_ON);

  phone.ForceStatus(PHONE_STATUS_ON, 0, 0, 0);
  ASSERT_TRUE(phone.StatusEvent().Wait(5000));
  EXPECT_EQ(phone.RequestAccepted(), 0);
  EXPECT_FALSE(phone.IsOperationRunning());
  EXPECT_TRUE(Requests().empty());
  EXPECT_EQ(phone.GetStatusName(PHONE_STATUS_ON), Text("EVENT_LOG_MGR_PHONE_STATUS_ON"));
  EXPECT_EQ(phone.GetStatusName(STATUS_UNKNOWN), Text("EVENT_LOG_MGR_PHONE_STATUS_OFF"));
}

TEST_F(PhoneMgrThreadTest, ASecondSwitchWhileOneRunsIsRecordedAndDropped) {
  CMobilePhoneMgr phone;
  phone.Initialize();
  phone.RefreshStatus(1);
  {
    HeldReplies held;
    phone.ForceStatus(PHONE_STATUS_OFF, 0, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return phone.IsOperationRunning(); }));
    EXPECT_EQ(phone.GetTargetRadio(), 0);

    phone.ForceStatus(PHONE_STATUS_OFF, 0, 0, 0);
    ASSERT_TRUE(phone.StatusEvent().Wait(5000));
    EXPECT_EQ(phone.RequestAccepted(), 0);
    EXPECT_EQ(Entries(Text("EVENT_LOG_MGR_PHONE_OP_RUNNING_RESUME"), 1), 1);
    held.Release();
    ASSERT_TRUE(phone.StatusEvent().Wait(5000));
  }
  EXPECT_EQ(phone.RequestAccepted(), 2);
  EXPECT_FALSE(phone.IsOperationRunning());
  EXPECT_EQ(phone.GetTargetRadio(), -1);
  // Only the first request reached the radio.
  auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].find("\"state\":\"minimum\""), std::string::npos);
  phone.RefreshStatus(0);
  EXPECT_EQ(phone.GetStatus(), PHONE_STATUS_OFF);
}

TEST_F(PhoneMgrThreadTest, SwitchingOnPowersUpUnlocksTheSimRegistersAndFinishes) {
  CMobilePhoneMgr phone;
  phone.Initialize();
  phone::SetRadioPower(false);
  phone.RefreshStatus(1);
  ASSERT_EQ(phone.GetStatus(), PHONE_STATUS_OFF);
  ASSERT_TRUE(phone::LockSim("1234"));
  ASSERT_TRUE(WaitUntil([] { return FindWindow(kSimPromptClass) != 0; }));
  phone.SetPin("1234");

  phone.ForceStatus(PHONE_STATUS_ON, 0, 0, 0);
  Finish(phone);
  EXPECT_EQ(phone.RequestAccepted(), 2);
  EXPECT_EQ(phone.GetStatus(), PHONE_STATUS_ON);
  auto requests = Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].find("\"state\":\"full\",\"result\":\"ok\""), std::string::npos);
  EXPECT_NE(requests[1].find("\"request\":\"register\",\"result\":\"ok\""), std::string::npos);
  EXPECT_EQ(State(phone::kSimState), "ready");
  EXPECT_EQ(State(phone::kNetworkState), "registered");
  // The manager closes the platform's prompt after unlocking.
  EXPECT_TRUE(WaitUntil([] { return FindWindow(kSimPromptClass) == 0; }));
}

TEST_F(PhoneMgrThreadTest, AWrongPinEndsInBeepAndLedAndIsNotOfferedAgain) {
  CMobilePhoneMgr phone;
  phone.Initialize();
  ASSERT_TRUE(phone::LockSim("1234"));
  phone.SetPin("9999");
  phone.SetPin2("123");

  phone.UnlockSim();
  // The three-character alternative is never tried: one attempt used.
  EXPECT_EQ(State(phone::kSimAttemptsState), "2");
  EXPECT_EQ(Activities("beep"), 1u);
  auto leds = Device::Current()->Activities("led");
  ASSERT_EQ(leds.size(), 2u);
  EXPECT_NE(leds[0].detail.find("\"led\":1"), std::string::npos);
  EXPECT_NE(leds[0].detail.find("\"on\""), std::string::npos);
  EXPECT_NE(leds[1].detail.find("\"off\""), std::string::npos);
  bool reported = false;
  for (const auto& box : ListBoxes())
    reported |= box.text == Text("ERROR UNLOCKING");
  EXPECT_TRUE(reported);
  // The prompt stays for the user.
  EXPECT_NE(FindWindow(kSimPromptClass), 0u);

  // A refused PIN is not offered again (the SIM would block after three).
  phone.UnlockSim();
  EXPECT_EQ(State(phone::kSimAttemptsState), "2");
  EXPECT_EQ(Activities("beep"), 2u);

  // An alternative of four characters is tried after the refused one.
  phone.SetPin2("1234");
  phone.UnlockSim();
  EXPECT_EQ(State(phone::kSimState), "ready");
  EXPECT_EQ(Activities("beep"), 2u);
  EXPECT_TRUE(WaitUntil([] { return FindWindow(kSimPromptClass) == 0; }));
}

TEST_F(PhoneMgrThreadTest, AnEmptyPinLeavesTheStoredOneWhichIsKeptEnciphered) {
  {
    CMobilePhoneMgr phone;
    phone.SetPin("1234");
    phone.SetPin("");
  }
  std::vector<BYTE> stored(200);
  DWORD length = static_cast<DWORD>(stored.size());
  ASSERT_EQ(CRegistrySettings::Instance()->GetBinary("pin", stored.data(), &length), ERROR_SUCCESS);
  stored.resize(length);
  EXPECT_EQ(std::search(stored.begin(), stored.end(), std::begin("1234"), std::end("1234") - 1),
            stored.end());

  // A new manager reads it back and unlocks the SIM with it when it starts.
  ASSERT_TRUE(phone::LockSim("1234"));
  CMobilePhoneMgr phone;
  phone.Initialize();
  EXPECT_EQ(State(phone::kSimState), "ready");
}

TEST_F(PhoneMgrThreadTest, ATimedNotificationTogglesThePhoneWithoutANewLimit) {
  CMobilePhoneMgr phone;
  phone.Initialize();
  phone.RefreshStatus(1);
  phone.ForceStatus(PHONE_STATUS_OFF, 30, 0, 0);
  Finish(phone);
  ASSERT_TRUE(WaitUntil([] { return timernotification::Exists(MGR_ID_PHONE, 0); }));
  ASSERT_EQ(phone.GetStatus(), PHONE_STATUS_OFF);

  phone.DispatchTimerNotification(MGR_ID_PHONE, 0);
  Finish(phone);
  EXPECT_EQ(phone.GetStatus(), PHONE_STATUS_ON);
  EXPECT_FALSE(timernotification::Exists(MGR_ID_PHONE, 0));
  EXPECT_FALSE(timernotification::Exists(MGR_ID_PHONE, 1));
  EXPECT_EQ(CLimitNotifications::Get(MGR_ID_PHONE), 0u);
}

TEST_F(PhoneMgrThreadTest, RefusedAndFailedRequestsWriteOneWarningAndEndTheOperation) {
  CMobilePhoneMgr phone;
  phone.Initialize();
  phone.RefreshStatus(1);

  phone::SetTelephonyFailures(1, false);
  phone.ForceStatus(PHONE_STATUS_OFF, 0, 0, 0);
  Finish(phone);
  EXPECT_EQ(Entries("Error turning off radio", 3), 1);
  EXPECT_EQ(phone.RequestAccepted(), 2);
  EXPECT_FALSE(phone.IsOperationRunning());
  EXPECT_EQ(phone.GetStatus(), PHONE_STATUS_ON);

  phone::SetTelephonyFailures(1, true);
  phone.ForceStatus(PHONE_STATUS_OFF, 0, 0, 0);
  Finish(phone);
  EXPECT_EQ(Entries("Error turning off radio", 3), 2);
  EXPECT_EQ(phone.GetStatus(), PHONE_STATUS_ON);

  // The radio powers up but the registration fails in its reply.
  phone::SetRadioPower(false);
  phone.RefreshStatus(0);
  {
    HeldReplies held;
    phone.ForceStatus(PHONE_STATUS_ON, 0, 0, 0);
    // Once the power-up is queued, the next request (the registration) fails.
    ASSERT_TRUE(WaitUntil([] { return PendingTelephonyRequests() == 1; }));
    phone::SetTelephonyFailures(1, true);
  }
  Finish(phone);
  EXPECT_EQ(Entries("Error registering", 3), 1);
  EXPECT_FALSE(phone.IsOperationRunning());
  EXPECT_EQ(phone.GetStatus(), PHONE_STATUS_ON);
}

TEST_F(PhoneMgrThreadTest, SwitchingOffWaitsForAForwardingRequestAskedForFirst) {
  CMobilePhoneMgr phone;
  CCallForwardMgr forward;
  phone.Initialize();
  phone.RefreshStatus(1);
  // As the schedule engine does: forwarding first, the radio off right after. The forwarding
  // request is held back on its own worker for a while.
  forward.SetForwardNumber("600");
  forward.ForceStatus(1, 0, 0, 300);
  phone.ForceStatus(PHONE_STATUS_OFF, 0, 0, 0);
  Finish(phone);
  EXPECT_EQ(phone.GetStatus(), PHONE_STATUS_OFF);
  EXPECT_EQ(phone::CallForward(), "600");
  auto requests = Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].find("\"request\":\"forward\""), std::string::npos);
  EXPECT_NE(requests[0].find("\"result\":\"ok\""), std::string::npos);
  EXPECT_NE(requests[1].find("\"state\":\"minimum\""), std::string::npos);
}

TEST_F(PhoneMgrThreadTest, TheRadioTestCyclesFullAndMinimumOnALineOfItsOwn) {
  CMobilePhoneMgr phone;
  phone.RunRadioTest(4);
  // Requests made before the line closed still take effect on the phone.
  std::vector<std::string> equipment;
  ASSERT_TRUE(WaitUntil([&] {
    equipment.clear();
    for (const auto& r : Requests()) {
      if (r.find("\"equipment\"") != std::string::npos)
        equipment.push_back(r.find("\"full\"") != std::string::npos ? "full" : "minimum");
    }
    return equipment.size() >= 4;
  }));
  EXPECT_EQ(equipment, (std::vector<std::string>{"full", "minimum", "full", "minimum"}));
  EXPECT_EQ(State(phone::kRadioState), "off");
}

TEST_F(PhoneMgrThreadTest, TheStatusFollowsTheRadioStateValueAndTheExternalPower) {
  CMobilePhoneMgr phone;
  CSystemStateBroker broker;
  phone.Initialize();
  phone.RefreshStatus(1);
  EXPECT_FALSE(phone.IsOnExternalPower());

  // The radio is switched off on the phone, by another process.
  int before = Entries("FireStatusChanged disabled", 1);
  ASSERT_EQ(dev.Console({"radio", "off"}), 0);
  EXPECT_TRUE(WaitUntil([&] { return phone.GetStatus() == PHONE_STATUS_OFF; }));
  // The entry follows the status; it is written once, which the end checks again.
  EXPECT_TRUE(WaitUntil([&] { return Entries("FireStatusChanged disabled", 1) == before + 1; }));

  ASSERT_EQ(dev.Console({"battery", "80", "--ac"}), 0);
  EXPECT_TRUE(WaitUntil([&] { return phone.IsOnExternalPower(); }));
  EXPECT_EQ(Entries("FireStatusChanged disabled", 1), before + 1);
}

}  // namespace
