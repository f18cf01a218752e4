// The real telvane with a grace period against a flapping cell and the causes of its changes,
// driven through the device console: a short stay in a foreign cell leaves nothing, a real
// departure is carried out by the program's own timed notification, which the device's runner
// relays to the running program, and `log --csv` shows each schedule action's cause.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "platform/Registry.h"
#include "support/Programs.h"

using namespace platform;

namespace {

// Office (area 300) has one frame all day; entering makes Bluetooth discoverable.
const char* kProfileSet =
    "<?xml version=\"1.0\"?><Telvane>"
    "<place name=\"Unknown\" description=\"\" image=\"place_unknown.png\" id=\"0\"/>"
    "<place name=\"Office\" description=\"\" image=\"office.png\" id=\"1\"><lac id=\"300\"/>"
    "<schedule name=\"Work\" begin_hour=\"0\" begin_minute=\"0\" end_hour=\"0\" end_minute=\"0\">"
    "<action id=\"1\" type=\"0\" arg_int_1=\"2\"/>"
    "</schedule></place></Telvane>";

class GraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(dev.Console({"clock", "set", "2030-01-07 09:00:00"}), 0);
    ASSERT_TRUE(telvane.StartAndWaitUntilReady());
    ASSERT_EQ(dev.Console({"reg", "set", "HKLM", "SOFTWARE\\Orvella\\Telvane",
                           "location_grace_seconds", "dword", "120"}),
              0);
    ASSERT_TRUE(telvane.ImportProfileSet(kProfileSet)) << telvane.TraceText();
  }
  std::string Csv() {
    std::string out;
    dev.Console({"log", "--csv"}, &out);
    return out;
  }
  bool CsvHas(const std::string& text, int timeoutMs = 10000) {
    return WaitUntil([&] { return Csv().find(text) != std::string::npos; }, timeoutMs);
  }

  TestDevice dev;
  TelvaneProcess telvane{dev};
};

TEST_F(GraceTest, AShortStayLeavesNothingAndARealDepartureEndsByTheRunner) {
  ASSERT_EQ(dev.Console({"cell", "4711", "300"}), 0);
  ASSERT_TRUE(CsvHas("Entering Office, Work")) << Csv() << telvane.TraceText();
  // The Bluetooth request names the frame, the location that chose the place and its position.
  // The cause holds a comma, so its field is quoted.
  EXPECT_TRUE(
      CsvHas(",\"Cause: action 1 of 1 on entering the time frame Work(00:00-00:00) of "
             "place Office, chosen by cell 4711 in area 300.\"\r\n"))
      << Csv();

  ASSERT_EQ(dev.Console({"cell", "5", "999"}), 0);
  ASSERT_EQ(dev.Console({"clock", "+30s"}), 0);
  ASSERT_EQ(dev.Console({"cell", "4711", "300"}), 0);
  ASSERT_TRUE(CsvHas("Short stay on cell 5, area 999 ignored")) << Csv() << telvane.TraceText();
  EXPECT_EQ(Csv().find("Leaving Office"), std::string::npos);

  // A real departure: the runner starts the program at the end of the grace period and the
  // running one carries the departure out.
  std::string out;
  ASSERT_TRUE(WaitUntil([&] {
    dev.Console({"state", "--json"}, &out);
    return out.find("\"runner\":true") != std::string::npos;
  }));
  ASSERT_EQ(dev.Console({"cell", "6", "998"}), 0);
  ASSERT_TRUE(WaitUntil([&] {
    dev.Console({"notifications"}, &out);
    return out.find("timer_notification_07_02") != std::string::npos;
  })) << telvane.TraceText();
  ASSERT_EQ(dev.Console({"clock", "+3m"}), 0);
  EXPECT_TRUE(CsvHas("Leaving Office, Work", 15000)) << Csv() << telvane.TraceText();
}

}  // namespace
