// The simulated SMS provider and mail system: what they accept and what lands in the outbox.
#include <gtest/gtest.h>

#include "platform/Messaging.h"
#include "support/TestDevice.h"

using namespace platform;
using namespace platform::mapi;

namespace {

class MessagingServiceTest : public ::testing::Test {
 protected:
  TestDevice dev;
};

TEST_F(MessagingServiceTest, SmsProviderTakesTheTextAsGiven) {
  SMS_HANDLE sms = 0;
  EXPECT_EQ(SmsOpen("Some Other Protocol", SMS_MODE_SEND, &sms), SMS_E_INVALIDPROTOCOL);
  ASSERT_EQ(SmsOpen(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, &sms), S_OK);
  SMS_ADDRESS to;
  to.ptsAddress = "555";
  TEXT_PROVIDER_SPECIFIC_DATA data;
  const BYTE text[] = {'h', 0, 'i', 0, 0, 0};  // with a terminator the zero is sent too
  EXPECT_EQ(
      SmsSendMessage(sms, nullptr, &to, nullptr, text, 6, &data, 12, SMSDE_OPTIMAL, 0, nullptr),
      E_INVALIDARG)
      << "the provider record has its declared size";
  ASSERT_EQ(SmsSendMessage(sms, nullptr, &to, nullptr, text, 6, &data, kTextProviderDataSize,
                           SMSDE_OPTIMAL, 0, nullptr),
            S_OK);
  EXPECT_EQ(SmsClose(sms), S_OK);
  EXPECT_EQ(SmsClose(sms), SMS_E_INVALIDHANDLE);
  auto out = ListOutbox();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].json,
            "{\"kind\":\"sms\",\"to\":\"555\",\"text\":\"hi\\u0000\",\"bytes\":6,"
            "\"class\":1}");
}

TEST_F(MessagingServiceTest, MailNeedsRecipientsAndADraftsFolderOfItsStore) {
  std::unique_ptr<IMAPISession> session;
  ASSERT_EQ(MAPILogonEx(&session), S_OK);
  std::unique_ptr<IMAPITable> table;
  ASSERT_EQ(session->GetMsgStoresTable(MAPI_UNICODE, &table), S_OK);
  SRowSet rows;
  ASSERT_EQ(table->QueryRows(5, 0, &rows), S_OK);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0].ulPropTag, PR_ENTRYID);
  ASSERT_EQ(table->QueryRows(1, 0, &rows), S_OK);
  EXPECT_TRUE(rows.empty()) << "past the end no row comes back";

  std::unique_ptr<IMAPITable> again;
  ASSERT_EQ(session->GetMsgStoresTable(MAPI_UNICODE, &again), S_OK);
  ASSERT_EQ(again->QueryRows(2, 0, &rows), S_OK);
  std::unique_ptr<IMsgStore> sms, mail;
  ASSERT_EQ(session->OpenMsgStore(std::get<Binary>(rows[0][0].Value), 0, &mail), S_OK);
  ASSERT_EQ(session->OpenMsgStore(std::get<Binary>(rows[1][0].Value), 0, &sms), S_OK);
  std::vector<SPropValue> props;
  sms->GetProps({PR_CE_IPM_DRAFTS_ENTRYID}, MAPI_UNICODE, &props);
  std::unique_ptr<IMAPIFolder> folder;
  EXPECT_EQ(mail->OpenEntry(std::get<Binary>(props[0].Value), MAPI_MODIFY, &folder),
            MAPI_E_INVALID_ENTRYID)
      << "another store's drafts folder";
  ASSERT_EQ(sms->OpenEntry(std::get<Binary>(props[0].Value), MAPI_MODIFY, &folder), S_OK);

  std::unique_ptr<IMessage> message;
  ASSERT_EQ(folder->CreateMessage(&message), S_OK);
  EXPECT_EQ(message->SubmitMessage(0), MAPI_E_NO_RECIPIENTS);
  ASSERT_EQ(
      message->ModifyRecipients(MODRECIP_ADD, {{SPropValue::Long(PR_RECIPIENT_TYPE, MAPI_CC),
                                                SPropValue::String(PR_EMAIL_ADDRESS, "c@x")}}),
      S_OK);
  ASSERT_EQ(message->SubmitMessage(0), S_OK);
  EXPECT_EQ(message->SubmitMessage(0), E_FAIL) << "a message is sent once";
  auto out = ListOutbox();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].json,
            "{\"kind\":\"mail\",\"account\":\"SMS\",\"to\":[],\"cc\":[\"c@x\"],\"subject\":\"\","
            "\"body\":\"\",\"body_bytes\":0,\"properties\":[]}");
}

TEST_F(MessagingServiceTest, ConsoleListsAccountsAndTheOutbox) {
  std::string out, err;
  ASSERT_EQ(dev.Console({"accounts", "add", "Work"}, &out, &err), 0) << err;
  EXPECT_NE(dev.Console({"accounts", "add", "work"}, &out, &err), 0);
  ASSERT_EQ(dev.Console({"accounts"}, &out), 0);
  EXPECT_EQ(out, "0  Mail\n1  SMS\n2  Work\n");
  ASSERT_EQ(dev.Console({"outbox", "--json"}, &out), 0);
  EXPECT_EQ(out, "[]\n");
  SMS_HANDLE sms;
  SmsOpen(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, &sms);
  SMS_ADDRESS to;
  to.ptsAddress = "1";
  TEXT_PROVIDER_SPECIFIC_DATA data;
  const BYTE text[] = {'o', 0, 'k', 0};
  SmsSendMessage(sms, nullptr, &to, nullptr, text, 4, &data, kTextProviderDataSize, 0, 0, nullptr);
  SmsClose(sms);
  ASSERT_EQ(dev.Console({"outbox", "--json"}, &out), 0);
  EXPECT_EQ(out, "[{\"kind\":\"sms\",\"to\":\"1\",\"text\":\"ok\",\"bytes\":4,\"class\":1}]\n");
}

}  // namespace
