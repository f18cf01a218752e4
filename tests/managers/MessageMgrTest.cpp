// The messaging manager on the simulated phone: what lands in the outbox for an SMS and an
// e-mail, the recipient-list rules and the choice of account.
#include <gtest/gtest.h>

#include "app/EventLog.h"
#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "managers/MessageMgr.h"
#include "platform/Messaging.h"
#include "platform/Mosutil.h"
#include "platform/Registry.h"
#include "support/TestDevice.h"

using namespace platform;

namespace {

class MessageMgrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HKEY key;
    RegCreateKeyEx(HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, &key);
    RegSetDWORD(key, "events_log_items_screen", 100);
    RegCloseKey(key);
    CTexts::ResetForTesting();
    CEventLog::DestroyInstanceForTesting();
  }
  void TearDown() override {
    CEventLog::DestroyInstanceForTesting();
    CTexts::ResetForTesting();
  }
  int LogEntries() {
    int n = 0;
    for (const auto& r : CEventLog::GetInstance()->GetRecords())
      n += r.code == MGR_ID_MESSAGE && r.level == CEventLog::LEVEL_INFO;
    return n;
  }

  TestDevice dev;
  CMessageMgr mgr;
};

TEST(MessageRecipientsTest, SemicolonsSeparateAndLeadingSpacesAreSkipped) {
  using V = std::vector<std::string>;
  EXPECT_EQ(CMessageMgr::ParseRecipients("a@x; b@y"), (V{"a@x", "b@y"}));
  EXPECT_EQ(CMessageMgr::ParseRecipients("a@x;;b@y"), (V{"a@x", "", "b@y"}));
  EXPECT_EQ(CMessageMgr::ParseRecipients(";;"), (V{"", ""}));
  EXPECT_EQ(CMessageMgr::ParseRecipients("  an x@y ;z"), (V{"an x@y ", "z"}));
  EXPECT_EQ(CMessageMgr::ParseRecipients("a@x;"), (V{"a@x"}));
  EXPECT_TRUE(CMessageMgr::ParseRecipients("").empty());
}

TEST_F(MessageMgrTest, SmsGoesOutWithoutATerminator) {
  EXPECT_TRUE(mgr.SendSms("+34600111222", "On my way"));
  auto out = ListOutbox();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].kind, "sms");
  EXPECT_EQ(out[0].json,
            "{\"kind\":\"sms\",\"to\":\"+34600111222\",\"text\":\"On my way\",\"bytes\":18,"
            "\"class\":1}");
  EXPECT_EQ(LogEntries(), 1);
}

TEST_F(MessageMgrTest, MailIsComposedInDraftsAndSubmittedWithItsBodyTerminator) {
  EXPECT_TRUE(mgr.SendMail("a@x; b@y", "Hello", "Body text", 0));
  auto out = ListOutbox();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].kind, "mail");
  EXPECT_EQ(out[0].json,
            "{\"kind\":\"mail\",\"account\":\"Mail\",\"to\":[\"a@x\",\"b@y\"],\"subject\":"
            "\"Hello\",\"body\":\"Body text\",\"body_bytes\":20,\"properties\":[\"0x0E070003\","
            "\"0x0E170003\",\"0x0037001F\",\"0x1000001F\"]}");
  EXPECT_EQ(LogEntries(), 1);
}

TEST_F(MessageMgrTest, EmptySubjectSetsNoSubjectProperty) {
  EXPECT_TRUE(mgr.SendMail("a@x;;b@y", "", "x", 0));
  auto out = ListOutbox();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_NE(out[0].json.find("\"to\":[\"a@x\",\"\",\"b@y\"]"), std::string::npos);
  EXPECT_EQ(out[0].json.find("0x0037001F"), std::string::npos);
}

TEST_F(MessageMgrTest, StoreIndexChoosesTheAccountAndBeyondTheStoresSendsNothing) {
  std::string error;
  ASSERT_TRUE(AddMessageStore("Work", &error)) << error;
  std::vector<std::string> names;
  mgr.ListMailProviders(&names);
  EXPECT_EQ(names, (std::vector<std::string>{"Mail", "SMS", "Work"}));

  EXPECT_TRUE(mgr.SendMail("boss@work", "Late", "Sorry", 2));
  auto out = ListOutbox();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_NE(out[0].json.find("\"account\":\"Work\""), std::string::npos);

  EXPECT_FALSE(mgr.SendMail("boss@work", "Late", "Sorry", 3));
  EXPECT_EQ(ListOutbox().size(), 1u);
  EXPECT_TRUE(ListBoxes().empty()) << "a missing account is only traced";
  EXPECT_EQ(LogEntries(), 2) << "the entry written before the attempt stays";
}

}  // namespace
