#include "managers/MessageMgr.h"

#include <atomic>
#include <memory>

#include "app/EventLog.h"
#include "app/TextFormat.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "platform/Messaging.h"
#include "platform/Mosutil.h"
#include "platform/Text.h"

using namespace platform;
using namespace platform::mapi;

namespace {

std::atomic<CMessageMgr*> g_instance{nullptr};

constexpr std::size_t kSummaryChars = 99;
constexpr std::size_t kDescriptionChars = 299;
constexpr std::size_t kMaxNumberChars = 256;

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

bool Failed(HRESULT hr) {
  return hr < 0;
}

// A failing messaging step is traced with its result and where it happened; the send is
// abandoned and everything opened so far is released on the way out.
#define CHECK_HR(expr)                                                                             \
  do {                                                                                             \
    HRESULT hr_ = (expr);                                                                          \
    if (Failed(hr_)) {                                                                             \
      Trace(TRACE_ERROR, "CEMAPI: FAILED(%x)at %s:%d\n", static_cast<unsigned>(hr_), "MessageMgr", \
            __LINE__);                                                                             \
      return false;                                                                                \
    }                                                                                              \
  } while (0)

// UTF-16LE bytes of `text`, with a terminating zero when `terminator` is set.
std::vector<BYTE> Utf16Bytes(const std::string& text, bool terminator) {
  std::u16string units = Utf8ToUtf16(text);
  if (terminator)
    units.push_back(u'\0');
  std::vector<BYTE> bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t u : units) {
    bytes.push_back(static_cast<BYTE>(u & 0xFF));
    bytes.push_back(static_cast<BYTE>(u >> 8));
  }
  return bytes;
}

// One recipient row per address of `list`, each of `type`.
SRowSet RecipientRows(const std::string& list, DWORD type) {
  SRowSet rows;
  for (const auto& address : CMessageMgr::ParseRecipients(list)) {
    rows.push_back({SPropValue::Long(PR_RECIPIENT_TYPE, type),
                    SPropValue::String(PR_ADDRTYPE, "SMTP"),
                    SPropValue::String(PR_EMAIL_ADDRESS, address)});
  }
  return rows;
}

// Logs off when the send ends, whichever way it ends.
struct SessionGuard {
  std::unique_ptr<IMAPISession>& session;
  ~SessionGuard() {
    if (session)
      session->Logoff(0);
  }
};

// The entry id in the first column of a store-table row. Shows the missing-entry-id box when
// the row has none (the id then stays empty and opening the store fails).
Binary StoreEntryId(const SRow& row) {
  if (row.empty() || row.front().ulPropTag != PR_ENTRYID) {
    ErrorBox(0, "%s", "Store missing PR_ENTRYID!");
    return {};
  }
  const Binary* id = std::get_if<Binary>(&row.front().Value);
  return id ? *id : Binary{};
}

}  // namespace

CMessageMgr::CMessageMgr() : CMgr(MGR_ID_MESSAGE) {
  g_instance.store(this);
}

CMessageMgr::~CMessageMgr() {
  Stop();
  CMessageMgr* self = this;
  g_instance.compare_exchange_strong(self, nullptr);
}

CMessageMgr* CMessageMgr::GetInstance() {
  return g_instance.load();
}

std::vector<std::string> CMessageMgr::ParseRecipients(const std::string& list) {
  std::vector<std::string> addresses;
  std::size_t p = 0;
  while (p < list.size()) {
    while (p < list.size() && list[p] == ' ')
      ++p;
    std::size_t end = list.find(';', p);
    if (end == std::string::npos)
      end = list.size();
    addresses.push_back(list.substr(p, end - p));
    p = end < list.size() ? end + 1 : end;
  }
  return addresses;
}

bool CMessageMgr::SendSms(const std::string& number, const std::string& text) {
  Trace(TRACE_TRACE, "CMessageMgr::SendSms(%s)", number.c_str());
  CEventLog::Add(
      GetId(), CEventLog::LEVEL_INFO,
      FormatText(Text("EVENT_LOG_MGR_ACTION_SMS_RESUME"), {number}, kSummaryChars),
      FormatText(Text("EVENT_LOG_MGR_ACTION_SMS_DESCRIPTION"), {number}, kDescriptionChars));
  SMS_HANDLE sms = 0;
  if (Failed(SmsOpen(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, &sms)))
    return false;
  SMS_ADDRESS destination;
  destination.smsatAddressType = SMSAT_UNKNOWN;
  destination.ptsAddress = Utf8Truncate(number, kMaxNumberChars);
  TEXT_PROVIDER_SPECIFIC_DATA provider;
  provider.dwMessageOptions = PS_MESSAGE_OPTION_NONE;
  provider.psMessageClass = PS_MESSAGE_CLASS1;
  provider.psReplaceOption = 0;
  // The text goes without its terminating zero.
  std::vector<BYTE> data = Utf16Bytes(text, false);
  HRESULT hr = SmsSendMessage(sms, nullptr, &destination, nullptr, data.data(),
                              static_cast<DWORD>(data.size()), &provider, kTextProviderDataSize,
                              SMSDE_OPTIMAL, 0, nullptr);
  SmsClose(sms);
  return !Failed(hr);
}

bool CMessageMgr::SendMail(const std::string& to, const std::string& subject,
                           const std::string& body, int storeIndex) {
  Trace(TRACE_TRACE, "CMessageMgr::SendMail(%s, %d)", to.c_str(), storeIndex);
  CEventLog::Add(
      GetId(), CEventLog::LEVEL_INFO,
      FormatText(Text("EVENT_LOG_MGR_ACTION_MAIL_RESUME"), {to}, kSummaryChars),
      FormatText(Text("EVENT_LOG_MGR_ACTION_MAIL_DESCRIPTION"), {subject, to}, kDescriptionChars));

  // Declared in the order they are opened, so that they are released in reverse order.
  std::unique_ptr<IMAPISession> session;
  SessionGuard logoff{session};
  std::unique_ptr<IMAPITable> table;
  std::unique_ptr<IMsgStore> store;
  std::unique_ptr<IMAPIFolder> drafts;
  std::unique_ptr<IMessage> message;
  std::unique_ptr<IStream> stream;

  CHECK_HR(MAPILogonEx(&session));
  CHECK_HR(session->GetMsgStoresTable(MAPI_UNICODE, &table));
  SRowSet rows;
  for (int skipped = 0; skipped < storeIndex; ++skipped)
    CHECK_HR(table->QueryRows(1, 0, &rows));
  CHECK_HR(table->QueryRows(1, 0, &rows));
  // An index beyond the stores reads no row: there is no account to send with.
  CHECK_HR(rows.empty() ? MAPI_E_NOT_FOUND : S_OK);
  CHECK_HR(session->OpenMsgStore(StoreEntryId(rows.front()), 0, &store));

  std::vector<SPropValue> props;
  CHECK_HR(store->GetProps({PR_CE_IPM_DRAFTS_ENTRYID}, MAPI_UNICODE, &props));
  const Binary* draftsId = props.empty() ? nullptr : std::get_if<Binary>(&props.front().Value);
  CHECK_HR(draftsId ? S_OK : MAPI_E_NOT_FOUND);
  CHECK_HR(store->OpenEntry(*draftsId, MAPI_MODIFY, &drafts));
  CHECK_HR(drafts->CreateMessage(&message));

  CHECK_HR(message->ModifyRecipients(MODRECIP_ADD, RecipientRows(to, MAPI_TO)));
  // Carbon and blind copies come from empty lists and so add nobody.
  CHECK_HR(message->ModifyRecipients(MODRECIP_ADD, RecipientRows("", MAPI_CC)));
  CHECK_HR(message->ModifyRecipients(MODRECIP_ADD, RecipientRows("", MAPI_BCC)));

  std::vector<SPropValue> messageProps = {
      SPropValue::Long(PR_MESSAGE_FLAGS, MSGFLAG_FROMME | MSGFLAG_UNSENT),
      SPropValue::Long(PR_MSG_STATUS, MSGSTATUS_RECTYPE_SMTP)};
  if (!subject.empty())
    messageProps.push_back(SPropValue::String(PR_SUBJECT, subject));
  CHECK_HR(message->SetProps(messageProps));

  CHECK_HR(message->OpenProperty(PR_BODY, STGM_WRITE, MAPI_MODIFY | MAPI_CREATE, &stream));
  // The body is written with its terminating zero.
  std::vector<BYTE> bodyBytes = Utf16Bytes(body, true);
  DWORD written = 0;
  CHECK_HR(stream->Write(bodyBytes.data(), static_cast<DWORD>(bodyBytes.size()), &written));
  stream.reset();

  CHECK_HR(message->SubmitMessage(0));
  return true;
}

void CMessageMgr::ListMailProviders(std::vector<std::string>* names) {
  std::unique_ptr<IMAPISession> session;
  SessionGuard logoff{session};
  std::unique_ptr<IMAPITable> table;
  auto list = [&]() -> bool {
    CHECK_HR(MAPILogonEx(&session));
    CHECK_HR(session->GetMsgStoresTable(MAPI_UNICODE, &table));
    for (;;) {
      SRowSet rows;
      CHECK_HR(table->QueryRows(1, 0, &rows));
      if (rows.empty())
        return true;
      if (rows.front().empty() || rows.front().front().ulPropTag != PR_ENTRYID) {
        StoreEntryId(rows.front());
        return false;
      }
      std::unique_ptr<IMsgStore> store;
      CHECK_HR(session->OpenMsgStore(StoreEntryId(rows.front()), 0, &store));
      std::vector<SPropValue> props;
      CHECK_HR(store->GetProps({PR_DISPLAY_NAME}, MAPI_UNICODE, &props));
      const std::string* name =
          props.empty() ? nullptr : std::get_if<std::string>(&props.front().Value);
      CHECK_HR(name ? S_OK : MAPI_E_NOT_FOUND);
      names->push_back(*name);
    }
  };
  list();
}
