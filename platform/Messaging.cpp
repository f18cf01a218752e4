#include "platform/Messaging.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/Backend.h"
#include "platform/Device.h"
#include "platform/Json.h"
#include "platform/Text.h"
#ifdef TELVANE_LINUX_BACKEND
#include "platform/linux/LinuxPhone.h"
#endif

namespace platform {

namespace {

// UTF-16LE bytes to UTF-8, keeping every code unit (a zero unit becomes a zero character).
std::string DecodeUtf16(const BYTE* data, std::size_t size) {
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  return Utf16ToUtf8(units);
}

// ---- SMS ----

std::mutex g_smsMutex;
std::set<SMS_HANDLE> g_smsHandles;
SMS_HANDLE g_nextSms = 1;
SMS_MESSAGE_ID g_nextMessageId = 1;

// ---- Message stores ----

const char* kStoresSchema = R"SQL(
CREATE TABLE IF NOT EXISTS msg_stores(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE NOCASE);
)SQL";

// The stores of a new phone, created with the table.
const char* const kDefaultStores[] = {"Mail", "SMS"};

Store* OpenStores() {
  Device* dev = Device::Current();
  if (!dev)
    return nullptr;
  Store& store = dev->store();
  store.Transaction([&] {
    bool exists;
    {
      auto st =
          store.Prepare("SELECT 1 FROM sqlite_master WHERE type='table' AND name='msg_stores'");
      exists = st.Step();
    }
    if (exists)
      return;
    store.Exec(kStoresSchema);
    for (const char* name : kDefaultStores)
      store.Prepare("INSERT INTO msg_stores(name) VALUES(?)").Bind(1, name).Run();
  });
  return &store;
}

struct StoreRow {
  std::int64_t id;
  std::string name;
};

std::vector<StoreRow> ReadStores() {
  std::vector<StoreRow> rows;
  Store* store = OpenStores();
  if (!store)
    return rows;
  auto st = store->Prepare("SELECT id, name FROM msg_stores ORDER BY id");
  while (st.Step())
    rows.push_back({st.Int(0), st.Text(1)});
  return rows;
}

// Entry ids: a kind byte and the store's id.
constexpr BYTE kStoreEntry = 'S';
constexpr BYTE kDraftsEntry = 'D';

mapi::Binary MakeEntryId(BYTE kind, std::int64_t id) {
  mapi::Binary b(9);
  b[0] = kind;
  std::memcpy(b.data() + 1, &id, sizeof id);
  return b;
}

bool ParseEntryId(const mapi::Binary& b, BYTE kind, std::int64_t* id) {
  if (b.size() != 9 || b[0] != kind)
    return false;
  std::memcpy(id, b.data() + 1, sizeof *id);
  return true;
}

const std::string* AsString(const mapi::SPropValue& v) {
  return std::get_if<std::string>(&v.Value);
}

// What a message holds while it is composed; shared with its body stream.
struct MessageData {
  std::string account;
  struct Recipient {
    DWORD type = 0;
    std::string addrType;
    std::string address;
  };
  std::vector<Recipient> recipients;
  std::vector<mapi::SPropValue> props;
  mapi::Binary body;
  bool bodyWritten = false;
  bool submitted = false;
};

class Stream : public mapi::IStream {
 public:
  explicit Stream(std::shared_ptr<MessageData> data) : data_(std::move(data)) {}
  HRESULT Write(const void* bytes, DWORD size, DWORD* written) override {
    auto* p = static_cast<const BYTE*>(bytes);
    data_->body.insert(data_->body.end(), p, p + size);
    data_->bodyWritten = true;
    if (written)
      *written = size;
    return S_OK;
  }
  HRESULT Commit(DWORD) override { return S_OK; }

 private:
  std::shared_ptr<MessageData> data_;
};

class Message : public mapi::IMessage {
 public:
  explicit Message(std::string account) : data_(std::make_shared<MessageData>()) {
    data_->account = std::move(account);
  }

  HRESULT ModifyRecipients(DWORD flags, const mapi::SRowSet& rows) override {
    if (flags != mapi::MODRECIP_ADD)
      return E_INVALIDARG;
    for (const auto& row : rows) {
      MessageData::Recipient r;
      for (const auto& v : row) {
        if (v.ulPropTag == mapi::PR_RECIPIENT_TYPE) {
          if (auto* n = std::get_if<DWORD>(&v.Value))
            r.type = *n;
        } else if (v.ulPropTag == mapi::PR_ADDRTYPE) {
          if (auto* s = AsString(v))
            r.addrType = *s;
        } else if (v.ulPropTag == mapi::PR_EMAIL_ADDRESS) {
          if (auto* s = AsString(v))
            r.address = *s;
        }
      }
      if (r.type < mapi::MAPI_TO || r.type > mapi::MAPI_BCC)
        return E_INVALIDARG;
      data_->recipients.push_back(r);
    }
    return S_OK;
  }

  HRESULT SetProps(const std::vector<mapi::SPropValue>& props) override {
    for (const auto& p : props) {
      std::erase_if(data_->props,
                    [&](const mapi::SPropValue& old) { return old.ulPropTag == p.ulPropTag; });
      data_->props.push_back(p);
    }
    return S_OK;
  }

  HRESULT OpenProperty(mapi::PropTag tag, DWORD interfaceOptions, DWORD flags,
                       std::unique_ptr<mapi::IStream>* out) override {
    if (tag != mapi::PR_BODY || !(interfaceOptions & mapi::STGM_WRITE))
      return mapi::MAPI_E_NOT_FOUND;
    data_->body.clear();
    *out = std::make_unique<Stream>(data_);
    return S_OK;
  }

  HRESULT SubmitMessage(DWORD) override {
    if (data_->submitted)
      return E_FAIL;
    if (data_->recipients.empty())
      return mapi::MAPI_E_NO_RECIPIENTS;
    Device* dev = Device::Current();
    if (!dev)
      return E_FAIL;
    Json json = {{"kind", "mail"}, {"account", data_->account}};
    for (DWORD type : {mapi::MAPI_TO, mapi::MAPI_CC, mapi::MAPI_BCC}) {
      Json list = Json::array();
      for (const auto& r : data_->recipients) {
        if (r.type == type)
          list.push_back(r.address);
      }
      if (type == mapi::MAPI_TO || !list.empty())
        json[type == mapi::MAPI_TO ? "to" : type == mapi::MAPI_CC ? "cc" : "bcc"] = list;
    }
    std::string subject;
    for (const auto& p : data_->props) {
      if (p.ulPropTag == mapi::PR_SUBJECT && AsString(p))
        subject = *AsString(p);
    }
    json["subject"] = subject;
    // The body is read as a string: up to its terminating zero, when it has one.
    std::string body = DecodeUtf16(data_->body.data(), data_->body.size());
    if (auto zero = body.find('\0'); zero != std::string::npos)
      body.resize(zero);
    json["body"] = body;
    json["body_bytes"] = data_->body.size();
    Json properties = Json::array();
    auto addTag = [&](mapi::PropTag tag) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(tag));
      properties.push_back(buf);
    };
    for (const auto& p : data_->props)
      addTag(p.ulPropTag);
    if (data_->bodyWritten)
      addTag(mapi::PR_BODY);
    json["properties"] = properties;
#ifdef TELVANE_LINUX_BACKEND
    if (backend::IsLinux()) {
      linuxphone::Mail mail;
      for (const auto& r : data_->recipients) {
        auto& list = r.type == mapi::MAPI_CC    ? mail.cc
                     : r.type == mapi::MAPI_BCC ? mail.bcc
                                                : mail.to;
        list.push_back(r.address);
      }
      mail.subject = subject;
      mail.body = body;
      if (!linuxphone::SendMail(mail))
        return E_FAIL;
    }
#endif
    try {
      dev->AddActivity("mail", JsonText(json));
    } catch (const StoreError&) {
      return E_FAIL;
    }
    data_->submitted = true;
    return S_OK;
  }

 private:
  std::shared_ptr<MessageData> data_;
};

class Folder : public mapi::IMAPIFolder {
 public:
  explicit Folder(std::string account) : account_(std::move(account)) {}
  HRESULT CreateMessage(std::unique_ptr<mapi::IMessage>* out) override {
    *out = std::make_unique<Message>(account_);
    return S_OK;
  }

 private:
  std::string account_;
};

class MsgStore : public mapi::IMsgStore {
 public:
  explicit MsgStore(StoreRow row) : row_(std::move(row)) {}

  HRESULT GetProps(const std::vector<mapi::PropTag>& tags, DWORD,
                   std::vector<mapi::SPropValue>* out) override {
    out->clear();
    for (mapi::PropTag tag : tags) {
      if (tag == mapi::PR_DISPLAY_NAME)
        out->push_back(mapi::SPropValue::String(tag, row_.name));
      else if (tag == mapi::PR_ENTRYID)
        out->push_back(mapi::SPropValue::Bin(tag, MakeEntryId(kStoreEntry, row_.id)));
      else if (tag == mapi::PR_CE_IPM_DRAFTS_ENTRYID)
        out->push_back(mapi::SPropValue::Bin(tag, MakeEntryId(kDraftsEntry, row_.id)));
      else
        out->push_back({tag, {}});
    }
    return S_OK;
  }

  HRESULT OpenEntry(const mapi::Binary& entryId, DWORD,
                    std::unique_ptr<mapi::IMAPIFolder>* out) override {
    std::int64_t id;
    if (!ParseEntryId(entryId, kDraftsEntry, &id) || id != row_.id)
      return mapi::MAPI_E_INVALID_ENTRYID;
    *out = std::make_unique<Folder>(row_.name);
    return S_OK;
  }

 private:
  StoreRow row_;
};

class StoresTable : public mapi::IMAPITable {
 public:
  explicit StoresTable(std::vector<StoreRow> rows) : rows_(std::move(rows)) {}
  HRESULT QueryRows(long count, DWORD, mapi::SRowSet* out) override {
    out->clear();
    while (count-- > 0 && next_ < rows_.size()) {
      const StoreRow& r = rows_[next_++];
      out->push_back({mapi::SPropValue::Bin(mapi::PR_ENTRYID, MakeEntryId(kStoreEntry, r.id)),
                      mapi::SPropValue::String(mapi::PR_DISPLAY_NAME, r.name)});
    }
    return S_OK;
  }

 private:
  std::vector<StoreRow> rows_;
  std::size_t next_ = 0;
};

class Session : public mapi::IMAPISession {
 public:
  HRESULT GetMsgStoresTable(DWORD, std::unique_ptr<mapi::IMAPITable>* out) override {
    try {
      *out = std::make_unique<StoresTable>(ReadStores());
    } catch (const StoreError&) {
      return E_FAIL;
    }
    return S_OK;
  }
  HRESULT OpenMsgStore(const mapi::Binary& entryId, DWORD,
                       std::unique_ptr<mapi::IMsgStore>* out) override {
    std::int64_t id;
    if (!ParseEntryId(entryId, kStoreEntry, &id))
      return mapi::MAPI_E_INVALID_ENTRYID;
    try {
      for (auto& row : ReadStores()) {
        if (row.id == id) {
          *out = std::make_unique<MsgStore>(row);
          return S_OK;
        }
      }
    } catch (const StoreError&) {
      return E_FAIL;
    }
    return mapi::MAPI_E_NOT_FOUND;
  }
  HRESULT Logoff(DWORD) override { return S_OK; }
};

}  // namespace

HRESULT SmsOpen(std::string_view protocol, DWORD mode, SMS_HANDLE* out) {
  if (protocol != SMS_MSGTYPE_TEXT)
    return SMS_E_INVALIDPROTOCOL;
  if (!out || (mode != SMS_MODE_SEND && mode != SMS_MODE_RECEIVE) || !Device::Current())
    return E_INVALIDARG;
  std::lock_guard lock(g_smsMutex);
  *out = g_nextSms++;
  g_smsHandles.insert(*out);
  return S_OK;
}

HRESULT SmsSendMessage(SMS_HANDLE handle, const SMS_ADDRESS* serviceCenter,
                       const SMS_ADDRESS* destination, const SYSTEMTIME* validity, const BYTE* data,
                       DWORD dataSize, const TEXT_PROVIDER_SPECIFIC_DATA* providerData,
                       DWORD providerDataSize, DWORD encoding, DWORD options, SMS_MESSAGE_ID* id) {
  SMS_MESSAGE_ID messageId;
  {
    std::lock_guard lock(g_smsMutex);
    if (!g_smsHandles.contains(handle))
      return SMS_E_INVALIDHANDLE;
    messageId = g_nextMessageId++;
  }
  if (!destination || (dataSize && !data) || dataSize % 2 != 0 || !providerData ||
      providerDataSize != kTextProviderDataSize) {
    return E_INVALIDARG;
  }
  Device* dev = Device::Current();
  if (!dev)
    return E_FAIL;
  Json json = {{"kind", "sms"},
               {"to", Utf8Truncate(destination->ptsAddress, 256)},
               {"text", DecodeUtf16(data, dataSize)},
               {"bytes", dataSize},
               {"class", static_cast<std::int64_t>(providerData->psMessageClass)}};
#ifdef TELVANE_LINUX_BACKEND
  // The modem sends it; the outbox still records what the program sent.
  if (backend::IsLinux() &&
      !linuxphone::SendSms(json["to"].get<std::string>(), json["text"].get<std::string>())) {
    return E_FAIL;
  }
#endif
  try {
    dev->AddActivity("sms", JsonText(json));
  } catch (const StoreError&) {
    return E_FAIL;
  }
  if (id)
    *id = messageId;
  return S_OK;
}

HRESULT SmsClose(SMS_HANDLE handle) {
  std::lock_guard lock(g_smsMutex);
  return g_smsHandles.erase(handle) ? S_OK : SMS_E_INVALIDHANDLE;
}

namespace mapi {

HRESULT MAPILogonEx(std::unique_ptr<IMAPISession>* out) {
  if (!Device::Current())
    return MAPI_E_LOGON_FAILED;
  *out = std::make_unique<Session>();
  return S_OK;
}

}  // namespace mapi

std::vector<std::string> ListMessageStores() {
  std::vector<std::string> names;
  for (auto& row : ReadStores())
    names.push_back(row.name);
  return names;
}

bool AddMessageStore(const std::string& name, std::string* error) {
  if (name.empty()) {
    *error = "an account name must not be empty";
    return false;
  }
  Store* store = OpenStores();
  if (!store) {
    *error = "no device";
    return false;
  }
  bool added = false;
  store->Transaction([&] {
    {
      auto st = store->Prepare("SELECT 1 FROM msg_stores WHERE name=?");
      st.Bind(1, name);
      if (st.Step())
        return;
    }
    store->Prepare("INSERT INTO msg_stores(name) VALUES(?)").Bind(1, name).Run();
    added = true;
  });
  if (!added)
    *error = "an account named \"" + name + "\" exists already";
  return added;
}

std::vector<OutboxItem> ListOutbox() {
  std::vector<OutboxItem> items;
  Device* dev = Device::Current();
  if (!dev)
    return items;
  for (auto& a : dev->Activities()) {
    if (a.kind == "sms" || a.kind == "mail")
      items.push_back({a.kind, a.time, a.detail});
  }
  return items;
}

}  // namespace platform
