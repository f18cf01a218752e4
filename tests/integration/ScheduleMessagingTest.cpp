// The real telvane entering a time frame whose actions send a text message and an e-mail: both
// land in the phone's outbox with the operands of their actions, the mail through the account
// that "mail_provider" selects.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/Messaging.h"
#include "platform/Mosutil.h"
#include "support/Programs.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

// Office (area 300) from 08:00 to 10:00: entering sends an SMS (14) and an e-mail (13).
const char* kProfileSet =
    "<?xml version=\"1.0\"?><Telvane>"
    "<place name=\"Unknown\" description=\"\" image=\"place_unknown.png\" id=\"0\"/>"
    "<place name=\"Office\" description=\"\" image=\"office.png\" id=\"1\"><lac id=\"300\"/>"
    "<schedule name=\"Work\" begin_hour=\"8\" begin_minute=\"0\" end_hour=\"10\" end_minute=\"0\">"
    "<action id=\"14\" type=\"0\" arg_char_1=\"+34600111222\" arg_char_2=\"ignored\" "
    "arg_char_3=\"At the office\"/>"
    "<action id=\"13\" type=\"0\" arg_char_1=\"boss@work.example; team@work.example\" "
    "arg_char_2=\"Arrived\" arg_char_3=\"In at nine.\"/>"
    "</schedule></place></Telvane>";

TEST(ScheduleMessagingTest, AFrameSendsItsTextMessageAndEmail) {
  TestDevice dev;
  TelvaneProcess telvane{dev};
  ASSERT_EQ(dev.Console({"clock", "set", "2030-01-07 09:00:00"}), 0);
  ASSERT_EQ(dev.Console({"accounts", "add", "Work"}), 0);
  ASSERT_EQ(dev.Console({"reg", "set", "HKLM", "SOFTWARE\\Orvella\\Telvane", "mail_provider",
                         "dword", "2"}),
            0);
  ASSERT_TRUE(telvane.StartAndWaitUntilReady());
  ASSERT_TRUE(telvane.ImportProfileSet(kProfileSet)) << telvane.TraceText();

  ASSERT_EQ(dev.Console({"cell", "4711", "300"}), 0);
  ASSERT_TRUE(WaitUntil([] { return ListOutbox().size() >= 2; }, 20000)) << telvane.TraceText();
  std::string out;
  ASSERT_EQ(dev.Console({"outbox", "--json"}, &out), 0);
  EXPECT_EQ(out,
            "[{\"kind\":\"sms\",\"to\":\"+34600111222\",\"text\":\"At the office\",\"bytes\":26,"
            "\"class\":1},"
            "{\"kind\":\"mail\",\"account\":\"Work\",\"to\":[\"boss@work.example\","
            "\"team@work.example\"],\"subject\":\"Arrived\",\"body\":\"In at nine.\","
            "\"body_bytes\":24,\"properties\":[\"0x0E070003\",\"0x0E170003\",\"0x0037001F\","
            "\"0x1000001F\"]}]\n");
}

}  // namespace
