#include "data/DB.h"

#include <atomic>

#include "app/TextFormat.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "data/ExceptionDB.h"
#include "data/StrPlace.h"
#include "data/TableActions.h"
#include "data/TableCell.h"
#include "data/TableLAC.h"
#include "data/TablePeriods.h"
#include "data/TablePlaces.h"
#include "platform/Mosutil.h"
#include "platform/Text.h"

using namespace platform;

namespace {
std::atomic<CDB*> g_instance{nullptr};
}  // namespace

CDB::CDB() {
  Trace(TRACE_TRACE, "CDB::CDB()");
  CREATE_INVALIDGUID(&m_VolumeGuid);
  m_Path = platform::GetCurrentDirectory() + "/" + kVolumeFileName;
  m_TablePlaces = std::make_unique<CTablePlaces>(this);
  m_TableLAC = std::make_unique<CTableLAC>(this);
  m_TableCell = std::make_unique<CTableCell>(this);
  m_TablePeriods = std::make_unique<CTablePeriods>(this);
  m_TableActions = std::make_unique<CTableActions>(this);
  g_instance.store(this);
}

CDB::~CDB() {
  Trace(TRACE_TRACE, "CDB::~CDB()");
  CDB* self = this;
  g_instance.compare_exchange_strong(self, nullptr);
  if (!CHECK_INVALIDGUID(m_VolumeGuid)) {
    CeFlushDBVol(m_VolumeGuid);
    for (CTableBase* table : m_Tables)
      table->CloseTable();
    CeUnmountDBVol(m_VolumeGuid);
    CREATE_INVALIDGUID(&m_VolumeGuid);
  }
  m_Tables.clear();
  m_TableActions.reset();
  m_TablePeriods.reset();
  m_TableCell.reset();
  m_TableLAC.reset();
  m_TablePlaces.reset();
}

CDB* CDB::GetInstance() {
  return g_instance.load();
}

void CDB::OpenDB() {
  std::lock_guard lock(m_Lock);
  Trace(TRACE_TRACE, "CDB::OpenDB(%s)", m_Path.c_str());
  if (CHECK_INVALIDGUID(m_VolumeGuid)) {
    LONG rc = CeMountDBVol(m_Path, &m_VolumeGuid);
    if (rc != ERROR_SUCCESS) {
      CREATE_INVALIDGUID(&m_VolumeGuid);
      std::string text = FormatText(CTexts::GetInstance()->GetText("ERROR OPENING VOLUME"),
                                    {std::to_string(rc)}, kErrorTextChars);
      m_ErrorText = text;
      Trace(TRACE_ERROR, "CDB::OpenDB(%s)", text.c_str());
      throw CExceptionDB(text);
    }
  }
  for (CTableBase* table : m_Tables)
    table->OpenTable();
}

bool CDB::CloseDB() {
  std::lock_guard lock(m_Lock);
  Trace(TRACE_TRACE, "CDB::CloseDB()");
  CeFlushDBVol(m_VolumeGuid);
  for (CTableBase* table : m_Tables)
    table->CloseTable();
  CeUnmountDBVol(m_VolumeGuid);
  // The volume is gone: the destructor must not unmount it a second time.
  CREATE_INVALIDGUID(&m_VolumeGuid);
  return true;
}

CTableLocation* CDB::GetTableLocation() const {
  if (CStrLocation::IsCellMode())
    return m_TableCell.get();
  return m_TableLAC.get();
}

void CDB::RegisterTable(CTableBase* table) {
  std::lock_guard lock(m_Lock);
  m_Tables.push_back(table);
}

void CDB::DumpAll() {
  std::lock_guard lock(m_Lock);
  for (CTableBase* table : m_Tables)
    table->Dump();
}

void CDB::DeleteAllTables() {
  std::lock_guard lock(m_Lock);
  Transaction transaction(*this);
  for (CTableBase* table : m_Tables)
    table->DeleteAll();
  transaction.Commit();
}

bool CDB::CheckIntegrity() {
  std::vector<CTableBase*> tables;
  {
    std::lock_guard lock(m_Lock);
    tables = m_Tables;
  }
  bool sound = true;
  try {
    for (CTableBase* table : tables) {
      int count = 0;
      bool ok = table->CheckIntegrity(&count);
      Trace(TRACE_INFO, "CDB::CheckIntegrity(%s) %d records, %s", table->GetName().c_str(), count,
            ok ? "sound" : "orphans");
      sound = sound && ok;
    }
  } catch (const CExceptionDB& e) {
    Trace(TRACE_ERROR, "CDB::CheckIntegrity %s", e.GetMessage().c_str());
    sound = false;
  }
  return sound;
}

void CDB::DeletePlace(CStrPlace& place) {
  std::lock_guard lock(m_Lock);
  Transaction transaction(*this);
  m_TablePeriods->DeleteForPlace(place);
  m_TableCell->DeleteForPlace(place);
  m_TableLAC->DeleteForPlace(place);
  m_TablePlaces->Delete(place);
  transaction.Commit();
}

void CDB::EmptyAllCaches() {
  for (CTableBase* table : m_Tables)
    table->ClearCache();
}

void CDB::BeginTransaction() {
  m_Lock.lock();  // held until the matching commit or rollback
  LONG rc = CeBeginTransaction(m_VolumeGuid);
  if (rc != ERROR_SUCCESS) {
    m_Lock.unlock();
    throw CExceptionDB::Format("Error beginning transaction.%d", static_cast<int>(rc));
  }
}

void CDB::CommitTransaction() {
  LONG rc = CeCommitTransaction(m_VolumeGuid);
  if (rc != ERROR_SUCCESS)
    EmptyAllCaches();
  m_Lock.unlock();
  if (rc != ERROR_SUCCESS) {
    throw CExceptionDB::Format("Error committing transaction.%d", static_cast<int>(rc));
  }
}

void CDB::RollbackTransaction() {
  CeRollbackTransaction(m_VolumeGuid);
  // The caches may hold rows that the rollback took back.
  EmptyAllCaches();
  m_Lock.unlock();
}

CDB::Transaction::Transaction(CDB& db) : m_Db(db) {
  m_Db.BeginTransaction();
}

CDB::Transaction::~Transaction() {
  if (m_Open)
    m_Db.RollbackTransaction();
}

void CDB::Transaction::Commit() {
  m_Open = false;
  m_Db.CommitTransaction();
}

std::string CDB::GetErrorText() const {
  std::lock_guard lock(m_Lock);
  return m_ErrorText;
}

std::vector<std::string> CDB::CounterReport() {
  return {
      Format("CStrBase::_iCounterCurrentInstances->%d", CStrBase::_iCounterCurrentInstances.load()),
      Format("CStrBase::_iCounterInstantiations->%d", CStrBase::_iCounterInstantiations.load()),
      Format("CTablePlaces::CounterFindAndFill->%d", CTablePlaces::CounterFindAndFill.load()),
      Format("CTablePlaces::CounterGetAllRecords->%d", CTablePlaces::CounterGetAllRecords.load()),
      Format("CTablePeriods::_iInvokeCounterGetAllRecords->%d",
             CTablePeriods::_iInvokeCounterGetAllRecords.load()),
      Format("CTablePeriods::CounterGetAllRecordsForPlace->%d",
             CTablePeriods::CounterGetAllRecordsForPlace.load()),
      Format("CTablePeriods::CounterGetNumRecordsForPlace->%d",
             CTablePeriods::CounterGetNumRecordsForPlace.load()),
      Format("CTablePeriods::_iInvokeCounterFindAndFill->%d",
             CTablePeriods::_iInvokeCounterFindAndFill.load()),
      Format("CTableLAC::_iInvokeCounterFindAndFill->%d",
             CTableLAC::_iInvokeCounterFindAndFill.load()),
      Format("CTableLAC::_iInvokeCounterGetAllRecords->%d",
             CTableLAC::_iInvokeCounterGetAllRecords.load()),
  };
}
