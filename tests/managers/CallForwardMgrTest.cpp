// The call forwarding manager: forwarding on and off, the number's size, ForwardNumber through
// ForceStatus, and the status names.
#include <gtest/gtest.h>

#include "managers/CallForwardMgr.h"
#include "managers/RadioTestSupport.h"
#include "platform/PhoneHardware.h"

using namespace platform;
using radiotest::WaitUntil;

namespace {

class CallForwardMgrThreadTest : public radiotest::RadioFixture {
 protected:
  static std::vector<std::string> Requests() {
    std::vector<std::string> out;
    for (const auto& a : Device::Current()->Activities("telephony"))
      out.push_back(a.detail);
    return out;
  }
};

TEST_F(CallForwardMgrThreadTest, OnSendsTheNumberAndOffPassesNoList) {
  CCallForwardMgr forward;
  EXPECT_EQ(CCallForwardMgr::GetInstance(), &forward);
  forward.SetForwarding(1, "+34600111222");
  EXPECT_EQ(phone::CallForward(), "+34600111222");
  forward.SetForwarding(0, "");
  EXPECT_EQ(phone::CallForward(), "off");
  auto requests = Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].find("\"list\":true,\"number\":\"+34600111222\",\"result\":\"ok\""),
            std::string::npos);
  EXPECT_NE(requests[1].find("\"list\":false"), std::string::npos);

  // Through ForceStatus, as the schedule engine switches it; the status is never read.
  forward.SetForwardNumber("555");
  forward.ForceStatus(1, 0, 0, 0);
  ASSERT_TRUE(WaitUntil([] { return phone::CallForward() == "555"; }));
  forward.ForceStatus(0, 0, 0, 0);
  ASSERT_TRUE(WaitUntil([] { return phone::CallForward() == "off"; }));
  EXPECT_EQ(forward.GetStatus(), STATUS_UNKNOWN);
}

TEST_F(CallForwardMgrThreadTest, ANumberLongerThanTheDestinationIsNeverSent) {
  CCallForwardMgr forward;
  forward.SetForwarding(1, "1234567890123456789");  // 19 characters and the terminator fit
  EXPECT_EQ(phone::CallForward(), "1234567890123456789");
  forward.SetForwarding(1, "12345678901234567890");
  EXPECT_EQ(phone::CallForward(), "1234567890123456789");
  EXPECT_EQ(Requests().size(), 1u);

  CCallForwardMgr::ForwardList list;
  ASSERT_TRUE(CCallForwardMgr::BuildForwardList("12", &list));
  EXPECT_EQ(list[0], 97);
  EXPECT_EQ(list[24], 40);
  EXPECT_EQ(list[28], 56);
  EXPECT_EQ(list[56], '1');
  EXPECT_EQ(list[58], '2');
  EXPECT_EQ(list[60], 0);
}

TEST_F(CallForwardMgrThreadTest, AFailedRequestChangesNothing) {
  CCallForwardMgr forward;
  phone::SetRadioPower(false);
  forward.SetForwarding(1, "600");
  EXPECT_EQ(phone::CallForward(), "off");
  EXPECT_NE(Requests().back().find("LINEERR_OPERATIONFAILED"), std::string::npos);
  phone::SetRadioPower(true);
  phone::SetTelephonyFailures(1, false);
  forward.SetForwarding(1, "600");
  EXPECT_EQ(phone::CallForward(), "off");
}

TEST_F(CallForwardMgrThreadTest, AnyNonZeroStatusIsNamedOn) {
  ASSERT_EQ(dev.Console({"install"}), 0);
  CTexts::ResetForTesting();
  CCallForwardMgr forward;
  std::string on = CTexts::GetInstance()->GetText("EVENT_LOG_MGR_CALLFORWARD_STATUS_ON");
  std::string off = CTexts::GetInstance()->GetText("EVENT_LOG_MGR_CALLFORWARD_STATUS_OFF");
  ASSERT_NE(on, off);
  EXPECT_EQ(forward.GetStatusName(1), on);
  EXPECT_EQ(forward.GetStatusName(STATUS_UNKNOWN), on);
  EXPECT_EQ(forward.GetStatusName(7), on);
  EXPECT_EQ(forward.GetStatusName(0), off);
}

}  // namespace
