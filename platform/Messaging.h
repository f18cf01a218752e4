// The phone's messaging services: the SMS provider and the mail system with its message stores
// (one per account, in a fixed table order), each with a drafts folder from which a message is
// submitted.
//
// Whatever is sent lands in the device's outbox: an activity record of kind "sms" or "mail"
// whose detail is one JSON object, so the device console and tests can read what the program
// sent. An SMS record holds "to", "text" and "bytes" (the size of the data handed over); a mail
// record holds "account", "to" (a list of addresses), "subject", "body", "body_bytes" (the size
// of the body stream as written) and "properties" (the tags of the properties the sender set).
//
// Every call works on the current device and may be called from any thread; the objects of the
// mail system belong to the thread that opened them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/Time.h"
#include "platform/Types.h"

namespace platform {

// ---- SMS ----------------------------------------------------------------------------------

using SMS_HANDLE = std::uint64_t;
using SMS_MESSAGE_ID = DWORD;

inline constexpr const char* SMS_MSGTYPE_TEXT = "Microsoft Text SMS Protocol";
inline constexpr DWORD SMS_MODE_RECEIVE = 1;
inline constexpr DWORD SMS_MODE_SEND = 2;
inline constexpr DWORD SMSAT_UNKNOWN = 0;
inline constexpr DWORD SMSAT_INTERNATIONAL = 1;
inline constexpr DWORD SMSDE_OPTIMAL = 0;
inline constexpr DWORD PS_MESSAGE_OPTION_NONE = 0;
inline constexpr DWORD PS_MESSAGE_CLASS1 = 1;
// Size of the text provider's record, as the callers declare it.
inline constexpr DWORD kTextProviderDataSize = 688;

inline constexpr HRESULT SMS_E_INVALIDPROTOCOL = static_cast<HRESULT>(0x82000002);
inline constexpr HRESULT SMS_E_INVALIDHANDLE = static_cast<HRESULT>(0x82000003);

struct SMS_ADDRESS {
  DWORD smsatAddressType = SMSAT_UNKNOWN;
  std::string ptsAddress;  // at most 256 characters
};

struct TEXT_PROVIDER_SPECIFIC_DATA {
  DWORD dwMessageOptions = PS_MESSAGE_OPTION_NONE;
  DWORD psMessageClass = PS_MESSAGE_CLASS1;
  DWORD psReplaceOption = 0;
};

// Opens the provider `protocol` (only SMS_MSGTYPE_TEXT exists) in `mode`.
HRESULT SmsOpen(std::string_view protocol, DWORD mode, SMS_HANDLE* out);
// Sends `data` (the text as UTF-16LE code units, `dataSize` bytes) to `destination`. The text
// is taken exactly as given: a terminating zero included by the caller is sent as a character.
HRESULT SmsSendMessage(SMS_HANDLE handle, const SMS_ADDRESS* serviceCenter,
                       const SMS_ADDRESS* destination, const SYSTEMTIME* validity, const BYTE* data,
                       DWORD dataSize, const TEXT_PROVIDER_SPECIFIC_DATA* providerData,
                       DWORD providerDataSize, DWORD encoding, DWORD options, SMS_MESSAGE_ID* id);
HRESULT SmsClose(SMS_HANDLE handle);

// ---- Mail ---------------------------------------------------------------------------------

namespace mapi {

using PropTag = DWORD;

inline constexpr PropTag PR_ENTRYID = 0x0FFF0102;
inline constexpr PropTag PR_DISPLAY_NAME = 0x3001001F;
inline constexpr PropTag PR_CE_IPM_DRAFTS_ENTRYID = 0x81040102;
inline constexpr PropTag PR_RECIPIENT_TYPE = 0x0C150003;
inline constexpr PropTag PR_ADDRTYPE = 0x3002001F;
inline constexpr PropTag PR_EMAIL_ADDRESS = 0x3003001F;
inline constexpr PropTag PR_MESSAGE_FLAGS = 0x0E070003;
inline constexpr PropTag PR_MSG_STATUS = 0x0E170003;
inline constexpr PropTag PR_SUBJECT = 0x0037001F;
inline constexpr PropTag PR_BODY = 0x1000001F;

inline constexpr DWORD MAPI_TO = 1;
inline constexpr DWORD MAPI_CC = 2;
inline constexpr DWORD MAPI_BCC = 3;
inline constexpr DWORD MODRECIP_ADD = 2;
inline constexpr DWORD MAPI_MODIFY = 0x1;
inline constexpr DWORD MAPI_CREATE = 0x2;
inline constexpr DWORD MAPI_UNICODE = 0x80000000;
inline constexpr DWORD STGM_WRITE = 0x1;
inline constexpr DWORD MSGFLAG_UNSENT = 0x8;
inline constexpr DWORD MSGFLAG_FROMME = 0x20;
inline constexpr DWORD MSGSTATUS_RECTYPE_SMTP = 0x00020000;

inline constexpr HRESULT MAPI_E_NOT_FOUND = static_cast<HRESULT>(0x8004010F);
inline constexpr HRESULT MAPI_E_INVALID_ENTRYID = static_cast<HRESULT>(0x80040107);
inline constexpr HRESULT MAPI_E_NO_RECIPIENTS = static_cast<HRESULT>(0x80040607);
inline constexpr HRESULT MAPI_E_LOGON_FAILED = static_cast<HRESULT>(0x80040111);

using Binary = std::vector<BYTE>;

struct SPropValue {
  PropTag ulPropTag = 0;
  std::variant<std::monostate, DWORD, std::string, Binary> Value;

  static SPropValue Long(PropTag tag, DWORD v) { return {tag, v}; }
  static SPropValue String(PropTag tag, std::string v) { return {tag, std::move(v)}; }
  static SPropValue Bin(PropTag tag, Binary v) { return {tag, std::move(v)}; }
};
using SRow = std::vector<SPropValue>;
using SRowSet = std::vector<SRow>;

class IStream {
 public:
  virtual ~IStream() = default;
  virtual HRESULT Write(const void* data, DWORD size, DWORD* written) = 0;
  virtual HRESULT Commit(DWORD flags) = 0;
};

// A message being composed in a folder. Released without SubmitMessage, it is discarded.
class IMessage {
 public:
  virtual ~IMessage() = default;
  virtual HRESULT ModifyRecipients(DWORD flags, const SRowSet& recipients) = 0;
  virtual HRESULT SetProps(const std::vector<SPropValue>& props) = 0;
  // Only PR_BODY can be opened, for writing (STGM_WRITE) with MAPI_CREATE | MAPI_MODIFY.
  virtual HRESULT OpenProperty(PropTag tag, DWORD interfaceOptions, DWORD flags,
                               std::unique_ptr<IStream>* out) = 0;
  // Sends the message through its store's account: it lands in the device's outbox.
  virtual HRESULT SubmitMessage(DWORD flags) = 0;
};

class IMAPIFolder {
 public:
  virtual ~IMAPIFolder() = default;
  virtual HRESULT CreateMessage(std::unique_ptr<IMessage>* out) = 0;
};

class IMsgStore {
 public:
  virtual ~IMsgStore() = default;
  // One value per tag, in order; a property the store does not have comes back with that tag
  // and no value.
  virtual HRESULT GetProps(const std::vector<PropTag>& tags, DWORD flags,
                           std::vector<SPropValue>* out) = 0;
  virtual HRESULT OpenEntry(const Binary& entryId, DWORD flags,
                            std::unique_ptr<IMAPIFolder>* out) = 0;
};

// The message-store table: one row per store, in table order, each row beginning with
// PR_ENTRYID.
class IMAPITable {
 public:
  virtual ~IMAPITable() = default;
  // Reads the next `count` rows (fewer at the end, none past it) and moves past them.
  virtual HRESULT QueryRows(long count, DWORD flags, SRowSet* rows) = 0;
};

class IMAPISession {
 public:
  virtual ~IMAPISession() = default;
  virtual HRESULT GetMsgStoresTable(DWORD flags, std::unique_ptr<IMAPITable>* out) = 0;
  virtual HRESULT OpenMsgStore(const Binary& entryId, DWORD flags,
                               std::unique_ptr<IMsgStore>* out) = 0;
  virtual HRESULT Logoff(DWORD flags) = 0;
};

// Logs on to the mail system of the current device. MAPI_E_LOGON_FAILED without a device.
HRESULT MAPILogonEx(std::unique_ptr<IMAPISession>* out);

}  // namespace mapi

// ---- The phone's own side: the device console ---------------------------------------------

// Account (message-store) names in table order. A new phone has "Mail" and "SMS".
std::vector<std::string> ListMessageStores();
// Appends an account; false, with a reason in `error`, when the name is empty or taken.
bool AddMessageStore(const std::string& name, std::string* error);

// The outbox: every "sms" and "mail" record, oldest first, as their JSON details.
struct OutboxItem {
  std::string kind;  // "sms" or "mail"
  std::string time;
  std::string json;
};
std::vector<OutboxItem> ListOutbox();

}  // namespace platform
