// The radio sequence the phone-radio and band managers share: one sequence drives the radio at a
// time, so that a band change and a radio switch do not interleave their requests.
#include <gtest/gtest.h>

#include "managers/BandMgr.h"
#include "managers/MobilePhoneMgr.h"
#include "managers/RadioTestSupport.h"
#include "platform/PhoneHardware.h"
#include "platform/Telephony.h"
#include "support/Wait.h"

using namespace platform;
using testsupport::WaitUntil;

namespace {

class RadioSequenceTest : public radiotest::RadioFixture {
 protected:
  static std::vector<std::string> Requests() {
    std::vector<std::string> out;
    for (const auto& a : Device::Current()->Activities("telephony")) {
      const std::string& d = a.detail;
      out.push_back(d.find("\"minimum\"") != std::string::npos ? "minimum"
                    : d.find("\"full\"") != std::string::npos  ? "full"
                    : d.find("register") != std::string::npos  ? "register"
                                                               : d);
    }
    return out;
  }
  static std::string State(const char* name) {
    return Device::Current()->GetState(name).value_or("");
  }
};

// Releases held telephony replies however the test ends.
struct HeldReplies {
  HeldReplies() { HoldTelephonyReplies(true); }
  ~HeldReplies() { Release(); }
  void Release() { HoldTelephonyReplies(false); }
};

TEST_F(RadioSequenceTest, ARadioSwitchDuringABandResetWaitsForItsEnd) {
  CMobilePhoneMgr phone;
  CBandMgr band;
  phone.Initialize();
  band.Initialize();
  phone.RefreshStatus(1);
  ASSERT_EQ(phone.GetStatus(), PHONE_STATUS_ON);
  {
    HeldReplies held;
    band.ForceStatus(BAND_STATUS_3G, 0, 0, 0);
    ASSERT_TRUE(WaitUntil([] { return PendingTelephonyRequests() == 1; }));
    phone.ForceStatus(PHONE_STATUS_OFF, 0, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return phone.IsOperationRunning(); }));
  }
  ASSERT_TRUE(band.StatusEvent().Wait(5000));
  ASSERT_TRUE(phone.StatusEvent().Wait(5000));
  // The reset ran to its end before the radio went off, and the radio stays off.
  EXPECT_EQ(Requests(), (std::vector<std::string>{"minimum", "full", "register", "minimum"}));
  EXPECT_EQ(State(phone::kRadioState), "off");
  EXPECT_EQ(State(phone::kRadioModeState), "3g");
  phone.RefreshStatus(0);
  EXPECT_EQ(phone.GetStatus(), PHONE_STATUS_OFF);
  EXPECT_FALSE(band.IsResetRunning());
  EXPECT_EQ(phone.RequestAccepted(), 2);
}

}  // namespace
