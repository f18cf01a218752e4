#include "data/TableLocation.h"

#include "data/DB.h"
#include "data/StrPlace.h"
#include "data/TablePlaces.h"
#include "platform/Mosutil.h"

using namespace platform;

template <class R>
bool CTableLocationOf<R>::CheckIntegrity(int* count) {
  auto db = this->LockDb();
  std::vector<R> locations = this->Records([](const R&) { return true; });
  *count = static_cast<int>(locations.size());
  CTablePlaces* places = this->m_Db->GetTablePlaces();
  return std::all_of(locations.begin(), locations.end(),
                     [places](const R& r) { return places->HasKey(r.GetPlaceId()); });
}

template <class R>
void CTableLocationOf<R>::DeleteForPlace(const CStrPlace& place) {
  auto db = this->LockDb();
  CDB::Transaction transaction(*this->m_Db);
  std::vector<R> locations;
  GetAllForPlace(&locations, place.GetId());
  for (R& location : locations)
    this->Delete(location);
  transaction.Commit();
}

template <class R>
std::vector<CEPROPSPEC> CTableLocationOf<R>::GetProperties() const {
  return {{CTableLocation::PROP_CODE, 1, "ID_LAC"}, {CTableLocation::PROP_PLACE_ID, 1, "ID_PLACE"}};
}

template <class R>
std::vector<CEPROPVAL> CTableLocationOf<R>::PropsForInsert(const CStrBase& record) const {
  const auto& location = dynamic_cast<const CStrLocation&>(record);
  return {CEPROPVAL::Long(CTableLocation::PROP_CODE, location.GetCode()),
          CEPROPVAL::Long(CTableLocation::PROP_PLACE_ID, location.GetPlaceId())};
}

template <class R>
std::vector<CEPROPVAL> CTableLocationOf<R>::PropsForUpdate(const CStrBase& record) const {
  const auto& location = dynamic_cast<const CStrLocation&>(record);
  return {CEPROPVAL::Long(CTableLocation::PROP_PLACE_ID, location.GetPlaceId())};
}

template <class R>
void CTableLocationOf<R>::FillRecord(const std::vector<CEPROPVAL>& props, CStrBase& record) const {
  auto& location = dynamic_cast<CStrLocation&>(record);
  for (const CEPROPVAL& p : props) {
    if (p.wFlags & CEDB_PROPNOTFOUND)
      continue;
    if (p.propid == CTableLocation::PROP_CODE)
      location.SetCode(p.lVal);
    if (p.propid == CTableLocation::PROP_PLACE_ID)
      location.SetPlaceId(p.lVal);
  }
}

template <class R>
void CTableLocationOf<R>::OnBulkReadError(LONG code) {
  const char* name = "INDETERMINATED";
  switch (code) {
    case ERROR_NO_DATA:
      name = "ERROR_NO_DATA ";
      break;
    case ERROR_INVALID_PARAMETER:
      name = "ERROR_INVALID_PARAMETER";
      break;
    case ERROR_INSUFFICIENT_BUFFER:
      name = "ERROR_INSUFFICIENT_BUFFER ";
      break;
    case ERROR_NO_MORE_ITEMS:
      name = "ERROR_NO_MORE_ITEMS ";
      break;
    case ERROR_KEY_DELETED:
      name = "ERROR_KEY_DELETED";
      break;
    default:
      break;
  }
  ProcesarError("%s", name);
}

template <class R>
void CTableLocationOf<R>::CopyInto(const R& cached, CStrBase& record) {
  auto& location = dynamic_cast<CStrLocation&>(record);
  location.SetCode(cached.GetCode());
  location.SetPlaceId(cached.GetPlaceId());
  location.SetOid(cached.GetOid());
}

template class CTableLocationOf<CStrCell>;
template class CTableLocationOf<CStrLAC>;
