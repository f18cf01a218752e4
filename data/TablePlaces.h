// The places: database "places", key "ID" numbered by the database. A new database starts with
// the place that stands for an unknown location, which receives Id 0.
#pragma once

#include <atomic>

#include "data/StrPlace.h"
#include "data/TableBase.h"

class CTablePlaces : public CTableCache<CStrPlace> {
 public:
  static constexpr platform::CEPROPID PROP_NAME = 0x2001F;   // "SYM"
  static constexpr platform::CEPROPID PROP_DESC = 0x3001F;   // "Desc"
  static constexpr platform::CEPROPID PROP_IMAGE = 0x4001F;  // "Image"
  static constexpr platform::CEPROPID PROP_ID = 0x10066;     // "ID"
  // The place of an unknown location.
  static constexpr std::int32_t kUnknownPlaceId = 0;
  static constexpr const char* kUnknownPlaceImage = "place_unknown.png";

  static std::atomic<std::int32_t> CounterFindAndFill;
  static std::atomic<std::int32_t> CounterGetAllRecords;

  explicit CTablePlaces(CDB* db) : CTableCache(db, "places") {}

  bool FindAndFill(CStrBase& record) override;
  void GetAllRecords(std::vector<CStrPlace>* list);
  void InsertDefaults() override;
  platform::CEPROPID GetKeyPropId() const override { return PROP_ID; }
  std::unique_ptr<CStrBase> NewRecord() const override { return std::make_unique<CStrPlace>(); }
  // Places have no parent.
  bool CheckIntegrity(int* count) override;

 protected:
  platform::DWORD GetDbType() const override { return kDbType; }
  std::vector<platform::CEPROPSPEC> GetProperties() const override;
  std::vector<platform::CEPROPVAL> PropsForInsert(const CStrBase& record) const override;
  std::vector<platform::CEPROPVAL> PropsForUpdate(const CStrBase& record) const override;
  void FillRecord(const std::vector<platform::CEPROPVAL>& props, CStrBase& record) const override;
  void ThrowUpdateError(platform::LONG code) override;
  // By name.
  void SortCache(std::vector<CStrPlace>& cache) override;
};
