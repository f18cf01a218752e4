#include "data/TablePlaces.h"

#include "app/Texts.h"

using namespace platform;

std::atomic<std::int32_t> CTablePlaces::CounterFindAndFill{0};
std::atomic<std::int32_t> CTablePlaces::CounterGetAllRecords{0};

bool CTablePlaces::FindAndFill(CStrBase& record) {
  ++CounterFindAndFill;
  return CTableCache::FindAndFill(record);
}

void CTablePlaces::GetAllRecords(std::vector<CStrPlace>* list) {
  ++CounterGetAllRecords;
  CTableCache::GetAllRecords(list);
}

void CTablePlaces::InsertDefaults() {
  // The first record of a new database: it receives Id 0, the place of an unknown location.
  CTexts* texts = CTexts::GetInstance();
  CStrPlace unknown(texts->GetText("UNKNOWN"), texts->GetText("DEFAULT PLACE"), kUnknownPlaceImage,
                    kUnknownPlaceId);
  Insert(unknown);
}

bool CTablePlaces::CheckIntegrity(int* count) {
  LoadCache();
  std::lock_guard lock(m_Lock);
  *count = static_cast<int>(m_Cache.size());
  return true;
}

std::vector<CEPROPSPEC> CTablePlaces::GetProperties() const {
  return {
      {PROP_NAME, 0, "SYM"}, {PROP_DESC, 0, "Desc"}, {PROP_IMAGE, 0, "Image"}, {PROP_ID, 1, "ID"}};
}

std::vector<CEPROPVAL> CTablePlaces::PropsForInsert(const CStrBase& record) const {
  const auto& place = dynamic_cast<const CStrPlace&>(record);
  return {CEPROPVAL::Text(PROP_NAME, place.GetName()), CEPROPVAL::Text(PROP_DESC, place.GetDesc()),
          CEPROPVAL::Text(PROP_IMAGE, place.GetImage())};
}

std::vector<CEPROPVAL> CTablePlaces::PropsForUpdate(const CStrBase& record) const {
  return PropsForInsert(record);
}

void CTablePlaces::FillRecord(const std::vector<CEPROPVAL>& props, CStrBase& record) const {
  auto& place = dynamic_cast<CStrPlace&>(record);
  for (const CEPROPVAL& p : props) {
    if (p.wFlags & CEDB_PROPNOTFOUND)
      continue;
    switch (p.propid) {
      case PROP_NAME:
        place.SetName(p.lpwstr);
        break;
      case PROP_DESC:
        place.SetDesc(p.lpwstr);
        break;
      case PROP_IMAGE:
        place.SetImage(p.lpwstr);
        break;
      case PROP_ID:
        place.SetId(p.lVal);
        break;
      default:
        break;
    }
  }
}

void CTablePlaces::ThrowUpdateError(LONG) {
  Raise("Exception upgrading registry in table Places");
}

void CTablePlaces::SortCache(std::vector<CStrPlace>& cache) {
  std::stable_sort(cache.begin(), cache.end());
}
