// The two tables that map a location code to a place: cells ("cells") and location areas
// ("lacs"). Both key their records by the code ("ID_LAC") and keep them in code order.
#pragma once

#include "data/StrCell.h"
#include "data/StrLAC.h"
#include "data/StrLocation.h"
#include "data/TableBase.h"

class CStrPlace;

// What the schedule engine and the cell tracker use, whichever of the two tables is in use.
class CTableLocation : public CTableBase {
 public:
  static constexpr platform::CEPROPID PROP_CODE = 0x10003;      // "ID_LAC"
  static constexpr platform::CEPROPID PROP_PLACE_ID = 0x20003;  // "ID_PLACE"

  using CTableBase::CTableBase;

  platform::CEPROPID GetKeyPropId() const override { return PROP_CODE; }
  // Deletes every location of the place. All or nothing.
  virtual void DeleteForPlace(const CStrPlace& place) = 0;
  // Sorts the cache by code.
  virtual void Sort() = 0;
};

// The shared implementation over the record type R (CStrCell or CStrLAC).
template <class R>
class CTableLocationOf : public CTableCache<R, CTableLocation> {
 public:
  using CTableCache<R, CTableLocation>::CTableCache;

  std::unique_ptr<CStrBase> NewRecord() const override { return std::make_unique<R>(); }
  bool CheckIntegrity(int* count) override;

  // The place's locations, in code order.
  void GetAllForPlace(std::vector<R>* list, std::int32_t placeId) {
    *list = this->ChildRecords(placeId);
  }
  void DeleteForPlace(const CStrPlace& place) override;
  void Sort() override {
    std::lock_guard lock(this->m_Lock);
    SortCache(this->m_Cache);
    this->IndexesChanged();
  }

 protected:
  std::vector<platform::CEPROPSPEC> GetProperties() const override;
  std::vector<platform::CEPROPVAL> PropsForInsert(const CStrBase& record) const override;
  std::vector<platform::CEPROPVAL> PropsForUpdate(const CStrBase& record) const override;
  void FillRecord(const std::vector<platform::CEPROPVAL>& props, CStrBase& record) const override;
  // A record that cannot be read is reported to the user and skipped.
  void OnBulkReadError(platform::LONG code) override;
  void SortCache(std::vector<R>& cache) override { std::stable_sort(cache.begin(), cache.end()); }
  // A location record of either kind can be filled.
  void CopyInto(const R& cached, CStrBase& record) override;
  std::int32_t ParentOf(const R& record) const override { return record.GetPlaceId(); }
};

extern template class CTableLocationOf<CStrCell>;
extern template class CTableLocationOf<CStrLAC>;
