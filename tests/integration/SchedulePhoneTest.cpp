// The real telvane entering a time frame whose actions forward calls and switch the phone radio
// off: the forwarding reaches the network first, while the radio is still on, then the radio goes
// off; both are read from the simulated phone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/Mosutil.h"
#include "platform/PhoneHardware.h"
#include "platform/Registry.h"
#include "support/Programs.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

// Office (area 300) from 08:00 to 10:00: entering forwards calls (51) and switches the radio off
// (3).
const char* kProfileSet =
    "<?xml version=\"1.0\"?><Telvane>"
    "<place name=\"Unknown\" description=\"\" image=\"place_unknown.png\" id=\"0\"/>"
    "<place name=\"Office\" description=\"\" image=\"office.png\" id=\"1\"><lac id=\"300\"/>"
    "<schedule name=\"Work\" begin_hour=\"8\" begin_minute=\"0\" end_hour=\"10\" end_minute=\"0\">"
    "<action id=\"3\" type=\"0\" arg_int_1=\"1\"/>"
    "<action id=\"51\" type=\"0\" arg_int_1=\"1\" arg_char_1=\"+34600111222\"/>"
    "</schedule></place></Telvane>";

TEST(SchedulePhoneTest, AFrameForwardsCallsBeforeItSwitchesTheRadioOff) {
  TestDevice dev;
  TelvaneProcess telvane{dev};
  ASSERT_EQ(dev.Console({"clock", "set", "2030-01-07 09:00:00"}), 0);
  ASSERT_TRUE(telvane.StartAndWaitUntilReady());
  ASSERT_TRUE(telvane.ImportProfileSet(kProfileSet)) << telvane.TraceText();

  ASSERT_EQ(dev.Console({"cell", "4711", "300"}), 0);
  auto state = [&](const char* name) { return dev.device().GetState(name).value_or(""); };
  ASSERT_TRUE(WaitUntil([&] { return state(phone::kRadioState) == "off"; }, 20000))
      << telvane.TraceText();
  EXPECT_EQ(state(phone::kCallForwardState), "+34600111222");

  // The phone's record of the requests, in the order it carried them out (each is recorded
  // once it took effect).
  std::vector<std::string> requests;
  ASSERT_TRUE(WaitUntil([&] {
    requests.clear();
    for (const auto& a : dev.device().Activities("telephony"))
      requests.push_back(a.detail);
    return requests.size() >= 2;
  }));
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].find("\"request\":\"forward\",\"list\":true,\"number\":\"+34600111222\","
                             "\"result\":\"ok\""),
            std::string::npos);
  EXPECT_NE(requests[1].find("\"state\":\"minimum\",\"result\":\"ok\""), std::string::npos);

  // The program shows the radio as off through the radio's state value.
  std::string out;
  ASSERT_EQ(dev.Console({"radio"}, &out), 0);
  EXPECT_EQ(out, "off\n");
}

}  // namespace
