#include "data/TableBase.h"

#include "app/TextFormat.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "data/DB.h"
#include "data/ExceptionDB.h"
#include "platform/Text.h"

using namespace platform;

namespace {

struct CodeName {
  LONG code;
  const char* name;
};

const char* NameOf(LONG code, std::initializer_list<CodeName> names, const char* other) {
  for (const auto& n : names) {
    if (n.code == code)
      return n.name;
  }
  return other;
}

// A code the tables do not name in their texts.
constexpr const char* kUnnamed = "INDETERMINATED";

}  // namespace

CTableBase::CTableBase(CDB* db, std::string name) : m_Db(db), m_Name(std::move(name)) {
  if (m_Db)
    m_Db->RegisterTable(this);
}

CTableBase::~CTableBase() {
  if (m_Handle != INVALID_CEDBHANDLE)
    CeCloseDatabase(m_Handle);
}

std::string CTableBase::GetErrorText() const {
  std::lock_guard lock(m_Lock);
  return m_ErrorText;
}

bool CTableBase::IsCacheLoaded() const {
  std::lock_guard lock(m_Lock);
  return m_CacheLoaded;
}

bool CTableBase::IsCacheEnabled() const {
  std::lock_guard lock(m_Lock);
  return m_CacheEnabled;
}

void CTableBase::SetCacheEnabled(bool enabled) {
  std::lock_guard lock(m_Lock);
  m_CacheEnabled = enabled;
}

std::unique_lock<std::recursive_mutex> CTableBase::LockDb() const {
  return std::unique_lock<std::recursive_mutex>(m_Db->Lock());
}

CEGUID CTableBase::Volume() const {
  return m_Db->GetVolumeGuid();
}

void CTableBase::Raise(const std::string& text) {
  {
    std::lock_guard lock(m_Lock);
    m_ErrorText = Utf8Truncate(text, kErrorTextChars);
  }
  Trace(TRACE_ERROR, "CTableBase::Raise(%s, %s)", m_Name.c_str(), text.c_str());
  throw CExceptionDB(text);
}

void CTableBase::DropCache() {
  std::lock_guard lock(m_Lock);
  m_CacheLoaded = false;
  if (m_CacheEnabled)
    ClearCache();
}

void CTableBase::ThrowOpenError(LONG code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND: {
      // A new volume, or a volume that lacks this table: create it with its default rows, all
      // or nothing, so that a failure half-way does not leave a table without them.
      Trace(TRACE_INFO, "CTableBase::ThrowOpenError(%s) creating", m_Name.c_str());
      try {
        CDB::Transaction transaction(*m_Db);
        CreateTable();
        OpenTable();
        InsertDefaults();
        transaction.Commit();
      } catch (...) {
        CloseTable();
        throw;
      }
      m_IsOpen = true;
      CeFlushDBVol(Volume());
      return;
    }
    case ERROR_INVALID_PARAMETER:
      Raise("Error opening db. Invalid parameter");
    case ERROR_NOT_FOUND:
      Raise("Error Opening db. Volumen not found");
    case ERROR_NOT_ENOUGH_MEMORY:
      Raise("Error Opening db. Out of memory");
    case ERROR_INVALID_HANDLE:
      Raise("Error Opening db. Invalid handle");
    default:
      // A table left closed would answer every query with nothing, as if it were empty.
      Raise(Format("Error opening db. Error %d", static_cast<int>(code)));
  }
}

void CTableBase::ThrowCreateError(LONG code) {
  switch (code) {
    case ERROR_DISK_FULL:
      Raise("Error creating DB. Disco lleno");
    case ERROR_ALREADY_EXISTS:
      Raise("Error creating DB. Propiedad existente");
    case ERROR_NOT_FOUND:
      Raise("Error creating DB. Volumen no encontrado");
    case ERROR_INVALID_PARAMETER:
      Raise("Error creating DB. Invalid parameter");
    case ERROR_NOT_SUPPORTED:
      Raise("Error creating DB. No soportado");
    case ERROR_ACCESS_DENIED:
      Raise("Error creating DB. Mas de una primary key");
    case ERROR_BAD_LENGTH:
      Raise("Error creating DB. Nombre demasiado largo");
    case ERROR_DUP_NAME:
      Raise("Error creating DB. Ya existe");
    default:
      // Going on would open the missing database again and again.
      Raise(Format("Error creating DB. Error %d", static_cast<int>(code)));
  }
}

void CTableBase::ThrowWriteError(LONG code) {
  const char* name = NameOf(code,
                            {{ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED"},
                             {ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE"},
                             {ERROR_BAD_LENGTH, "ERROR_BAD_LENGTH"},
                             {ERROR_SHARING_VIOLATION, "ERROR_SHARING_VIOLATION"},
                             {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER"},
                             {ERROR_INSUFFICIENT_BUFFER, "ERROR_INSUFFICIENT_BUFFER"},
                             {ERROR_ALREADY_EXISTS, "ERROR_ALREADY_EXISTS"},
                             {ERROR_NOT_FOUND, "ERROR_NOT_FOUND"}},
                            kUnnamed);
  Raise(Format("Error writing record.%s", name));
}

void CTableBase::ThrowSeekError(LONG code) {
  const char* name = NameOf(code,
                            {{ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER"},
                             {ERROR_KEY_DELETED, "ERROR_KEY_DELETED"},
                             {ERROR_SHARING_VIOLATION, "ERROR_SHARING_VIOLATION"},
                             {ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE"},
                             {ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY"}},
                            kUnnamed);
  Raise(Format("Error seeking registry. %s", name));
}

void CTableBase::ThrowReadError(LONG code) {
  const char* name = NameOf(code,
                            {{ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER"},
                             {ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE"},
                             {ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY"},
                             {ERROR_SEEK, "ERROR_SEEK"},
                             {ERROR_SHARING_VIOLATION, "ERROR_SHARING_VIOLATION"}},
                            code > ERROR_SHARING_VIOLATION ? "ERROR_KEY_DELETED" : kUnnamed);
  Raise(Format("Error filling record.%s", name));
}

void CTableBase::ThrowReadErrorOnRecord(LONG code) {
  const char* name = NameOf(code,
                            {{ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE"},
                             {ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY"},
                             {ERROR_SHARING_VIOLATION, "ERROR_SHARING_VIOLATION"},
                             {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER"},
                             {ERROR_INSUFFICIENT_BUFFER, "ERROR_INSUFFICIENT_BUFFER"},
                             {ERROR_NO_DATA, "ERROR_NO_DATA"},
                             {ERROR_NO_MORE_ITEMS, "ERROR_NO_MORE_ITEMS"},
                             {ERROR_KEY_DELETED, "ERROR_KEY_DELETED"}},
                            kUnnamed);
  Raise(Format("Error filling record.%s,%d", name, static_cast<int>(code)));
}

void CTableBase::OnBulkReadError(LONG code) {
  ThrowReadErrorOnRecord(code);
}

void CTableBase::CreateTable() {
  auto db = LockDb();
  CEDBASEINFO info{m_Name, GetDbType(), {GetKeyPropId(), kKeyFlags}};
  LONG rc = CeCreateDatabase(Volume(), info, GetProperties());
  if (rc != ERROR_SUCCESS)
    ThrowCreateError(rc);
  Trace(TRACE_INFO, "Base de datos %s creada con exito", m_Name.c_str());
}

void CTableBase::OpenTable() {
  auto db = LockDb();
  CEDBHANDLE handle = INVALID_CEDBHANDLE;
  LONG rc = CeOpenDatabase(Volume(), m_Name, {GetKeyPropId(), kKeyFlags}, &handle);
  if (rc == ERROR_SUCCESS) {
    if (m_Handle != INVALID_CEDBHANDLE)
      CeCloseDatabase(m_Handle);
    m_Handle = handle;
    m_IsOpen = true;
    return;
  }
  ThrowOpenError(rc);
}

void CTableBase::CloseTable() {
  auto db = LockDb();
  {
    std::lock_guard lock(m_Lock);
    m_CacheLoaded = false;
    if (m_CacheEnabled)
      ClearCache();
  }
  if (m_Handle != INVALID_CEDBHANDLE)
    CeCloseDatabase(m_Handle);
  m_Handle = INVALID_CEDBHANDLE;
  m_IsOpen = false;
}

CEOID CTableBase::SeekRecord(CStrBase& record) {
  if (record.GetOid() != 0)
    return record.GetOid();
  auto db = LockDb();
  CeSeekDatabase(m_Handle, CEDB_SEEK_BEGINNING, 0, nullptr, nullptr);
  CEPROPVAL key = CEPROPVAL::Long(GetKeyPropId(), record.GetId());
  CEOID oid = 0;
  LONG rc = CeSeekDatabase(m_Handle, CEDB_SEEK_VALUEFIRSTEQUAL, 0, &key, &oid);
  if (rc == ERROR_SEEK)
    return 0;
  if (rc != ERROR_SUCCESS)
    ThrowSeekError(rc);
  record.SetOid(oid);
  return oid;
}

int CTableBase::Count() {
  auto db = LockDb();
  DWORD count = 0;
  LONG rc = CeGetRecordCount(m_Handle, &count);
  if (rc != ERROR_SUCCESS)
    ThrowSeekError(rc);
  return static_cast<int>(count);
}

void CTableBase::ReadAll(const std::function<void(const std::vector<CEPROPVAL>&, CEOID)>& each) {
  auto db = LockDb();
  LONG rc = CeSeekDatabase(m_Handle, CEDB_SEEK_BEGINNING, 0, nullptr, nullptr);
  if (rc == ERROR_SEEK)
    return;  // an empty table
  if (rc != ERROR_SUCCESS)
    ThrowSeekError(rc);
  // Batches that continue from the last record read: each record is visited once.
  std::vector<CERECORD> batch;
  for (;;) {
    rc = CeReadRecordsFrom(m_Handle, kReadBatch, &batch);
    if (rc == ERROR_NO_MORE_ITEMS)
      break;
    if (rc != ERROR_SUCCESS) {
      // The rest of the table cannot be reached from here.
      OnBulkReadError(rc);
      break;
    }
    for (const CERECORD& record : batch)
      each(record.props, record.oid);
  }
}

void CTableBase::Insert(CStrBase& record) {
  auto db = LockDb();
  CEOID oid = 0;
  LONG rc = CeWriteRecordProps(m_Handle, 0, PropsForInsert(record), &oid);
  if (rc != ERROR_SUCCESS)
    ThrowWriteError(rc);
  record.SetOid(oid);
  if (TypeFromPropId(GetKeyPropId()) == CEVT_AUTO_I4) {
    CeFlushDBVol(Volume());
    // Read the new record back for the key the database gave it.
    CEOID found = 0;
    rc = CeSeekDatabase(m_Handle, CEDB_SEEK_CEOID, oid, nullptr, &found);
    if (rc != ERROR_SUCCESS || found != oid) {
      DropCache();
      Raise(CTexts::GetInstance()->GetText("ERROR INSERTING REGISTRY"));
    }
    std::vector<CEPROPID> wanted{GetKeyPropId()};
    std::vector<CEPROPVAL> props;
    rc = CeReadRecordProps(m_Handle, &wanted, &props);
    if (rc != ERROR_SUCCESS) {
      DropCache();
      ThrowReadError(rc);
    }
    if (!props.empty() && !(props[0].wFlags & CEDB_PROPNOTFOUND))
      record.SetId(props[0].lVal);
  }
  DropCache();
}

void CTableBase::Update(CStrBase& record) {
  auto db = LockDb();
  CEOID oid = SeekRecord(record);
  if (oid == 0) {
    std::string text = FormatText(CTexts::GetInstance()->GetText("ERROR REGISTRY NOT FOUND KEY"),
                                  {std::to_string(record.GetId())});
    {
      std::lock_guard lock(m_Lock);
      m_ErrorText = Utf8Truncate(text, kErrorTextChars);
    }
    throw CFindNotFoundDB(text);
  }
  LONG rc = CeWriteRecordProps(m_Handle, oid, PropsForUpdate(record));
  DropCache();
  if (rc != ERROR_SUCCESS)
    ThrowUpdateError(rc);
}

void CTableBase::Delete(CStrBase& record) {
  auto db = LockDb();
  CEOID oid = SeekRecord(record);
  LONG rc = CeDeleteRecord(m_Handle, oid);
  if (rc != ERROR_SUCCESS) {
    Raise(FormatText(CTexts::GetInstance()->GetText("ERROR DELETEING REGISTRY"), {m_Name}));
  }
  RemoveFromCache(record);
  record.SetOid(0);
  DropCache();
}

void CTableBase::DeleteAll() {
  auto db = LockDb();
  CDB::Transaction transaction(*m_Db);
  std::vector<CEOID> oids;
  ReadAll([&oids](const std::vector<CEPROPVAL>&, CEOID oid) { oids.push_back(oid); });
  ClearCache();
  for (CEOID oid : oids) {
    if (CeDeleteRecord(m_Handle, oid) != ERROR_SUCCESS) {
      Raise(FormatText(CTexts::GetInstance()->GetText("ERROR DELETEING REGISTRY"), {m_Name}));
    }
  }
  transaction.Commit();
  DropCache();
}

void CTableBase::Dump() {
  auto db = LockDb();
  Trace(TRACE_DEBUG, "INIT Dumping table %s", m_Name.c_str());
  try {
    ReadAll([this](const std::vector<CEPROPVAL>& props, CEOID oid) {
      std::unique_ptr<CStrBase> record = NewRecord();
      if (!record) {
        Trace(TRACE_DEBUG, "Registro no alocado");
        return;
      }
      FillRecord(props, *record);
      record->SetOid(oid);
      Trace(TRACE_DEBUG, "%s", record->ToString().c_str());
    });
  } catch (const CExceptionDB& e) {
    // A diagnostic walk reports what it could read.
    Trace(TRACE_ERROR, "CTableBase::Dump(%s) %s", m_Name.c_str(), e.GetMessage().c_str());
  }
  Trace(TRACE_DEBUG, "End Dumping table %s", m_Name.c_str());
}
