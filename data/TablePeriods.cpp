#include "data/TablePeriods.h"

#include "data/DB.h"
#include "data/StrPlace.h"
#include "data/TableActions.h"
#include "data/TablePlaces.h"

using namespace platform;

std::atomic<std::int32_t> CTablePeriods::_iInvokeCounterGetAllRecords{0};
std::atomic<std::int32_t> CTablePeriods::CounterGetAllRecordsForPlace{0};
std::atomic<std::int32_t> CTablePeriods::CounterGetNumRecordsForPlace{0};
std::atomic<std::int32_t> CTablePeriods::_iInvokeCounterFindAndFill{0};

bool CTablePeriods::FindAndFill(CStrBase& record) {
  ++_iInvokeCounterFindAndFill;
  return CTableCache::FindAndFill(record);
}

void CTablePeriods::GetAllRecords(std::vector<CStrPeriod>* list) {
  ++_iInvokeCounterGetAllRecords;
  CTableCache::GetAllRecords(list);
}

void CTablePeriods::GetAllRecordsForPlace(std::vector<CStrPeriod>* list, std::int32_t placeId) {
  ++CounterGetAllRecordsForPlace;
  *list = ChildRecords(placeId);
}

int CTablePeriods::GetNumRecordsForPlace(std::int32_t placeId) {
  ++CounterGetNumRecordsForPlace;
  return static_cast<int>(ChildRecords(placeId).size());
}

CStrPeriod CTablePeriods::CreateDefaultPeriod(std::int32_t placeId) {
  CStrPeriod period;
  period.SetName(kDefaultPeriodName);
  period.SetIdPlace(placeId);
  period.SetStart(0, 0);
  period.SetEnd(0, 0);
  Insert(period);
  return period;
}

void CTablePeriods::DeleteForPlace(const CStrPlace& place) {
  auto db = LockDb();
  CDB::Transaction transaction(*m_Db);
  // Walk a copy: the deletes below drop the cache.
  std::vector<CStrPeriod> periods;
  GetAllRecordsForPlace(&periods, place.GetId());
  for (CStrPeriod& period : periods) {
    Delete(period);
    m_Db->GetTableActions()->DeleteForPeriod(period);
  }
  transaction.Commit();
}

bool CTablePeriods::CheckIntegrity(int* count) {
  auto db = LockDb();
  std::vector<CStrPeriod> periods = Records([](const CStrPeriod&) { return true; });
  *count = static_cast<int>(periods.size());
  CTablePlaces* places = m_Db->GetTablePlaces();
  return std::all_of(periods.begin(), periods.end(),
                     [places](const CStrPeriod& p) { return places->HasKey(p.GetIdPlace()); });
}

std::vector<CEPROPSPEC> CTablePeriods::GetProperties() const {
  return {{PROP_ID, 1, "Id"},
          {PROP_NAME, 1, "SYM"},
          {PROP_ID_PLACE, 1, "IdPlace"},
          {PROP_INIT_HOUR, 1, "InitHour"},
          {PROP_INIT_MINUTE, 1, "InitMinute"},
          {PROP_END_HOUR, 1, "EndHour"},
          {PROP_END_MINUTE, 1, "EndMinute"}};
}

std::vector<CEPROPVAL> CTablePeriods::PropsForInsert(const CStrBase& record) const {
  const auto& period = dynamic_cast<const CStrPeriod&>(record);
  return {CEPROPVAL::Text(PROP_NAME, period.GetName()),
          CEPROPVAL::Long(PROP_ID_PLACE, period.GetIdPlace()),
          CEPROPVAL::Long(PROP_INIT_HOUR, period.GetStart().wHour),
          CEPROPVAL::Long(PROP_INIT_MINUTE, period.GetStart().wMinute),
          CEPROPVAL::Long(PROP_END_HOUR, period.GetEnd().wHour),
          CEPROPVAL::Long(PROP_END_MINUTE, period.GetEnd().wMinute)};
}

void CTablePeriods::FillRecord(const std::vector<CEPROPVAL>& props, CStrBase& record) const {
  auto& period = dynamic_cast<CStrPeriod&>(record);
  SYSTEMTIME start = period.GetStart();
  SYSTEMTIME end = period.GetEnd();
  for (const CEPROPVAL& p : props) {
    if (p.wFlags & CEDB_PROPNOTFOUND)
      continue;
    auto word = static_cast<WORD>(p.lVal);
    switch (p.propid) {
      case PROP_ID:
        period.SetId(p.lVal);
        break;
      case PROP_NAME:
        period.SetName(p.lpwstr);
        break;
      case PROP_ID_PLACE:
        period.SetIdPlace(p.lVal);
        break;
      case PROP_INIT_HOUR:
        start.wHour = word;
        break;
      case PROP_INIT_MINUTE:
        start.wMinute = word;
        break;
      case PROP_END_HOUR:
        end.wHour = word;
        break;
      case PROP_END_MINUTE:
        end.wMinute = word;
        break;
      default:
        break;
    }
  }
  period.SetStart(start);
  period.SetEnd(end);
}

void CTablePeriods::ThrowUpdateError(LONG) {
  Raise("Exception upgrading registry in table Periods");
}

void CTablePeriods::SortCache(std::vector<CStrPeriod>& cache) {
  std::stable_sort(cache.begin(), cache.end());
}
