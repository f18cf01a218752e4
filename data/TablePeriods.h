// The time frames of the places: database "periods", key "Id" numbered by the database.
#pragma once

#include <atomic>

#include "data/StrPeriod.h"
#include "data/TableBase.h"

class CStrPlace;

class CTablePeriods : public CTableCache<CStrPeriod> {
 public:
  static constexpr platform::CEPROPID PROP_ID = 0x10066;           // "Id"
  static constexpr platform::CEPROPID PROP_NAME = 0x2001F;         // "SYM"
  static constexpr platform::CEPROPID PROP_ID_PLACE = 0x30003;     // "IdPlace"
  static constexpr platform::CEPROPID PROP_INIT_HOUR = 0x40003;    // "InitHour"
  static constexpr platform::CEPROPID PROP_INIT_MINUTE = 0x50003;  // "InitMinute"
  static constexpr platform::CEPROPID PROP_END_HOUR = 0x60003;     // "EndHour"
  static constexpr platform::CEPROPID PROP_END_MINUTE = 0x70003;   // "EndMinute"
  // Name of the whole-day frame; not translated.
  static constexpr const char* kDefaultPeriodName = "Default";

  static std::atomic<std::int32_t> _iInvokeCounterGetAllRecords;
  static std::atomic<std::int32_t> CounterGetAllRecordsForPlace;
  static std::atomic<std::int32_t> CounterGetNumRecordsForPlace;
  static std::atomic<std::int32_t> _iInvokeCounterFindAndFill;

  explicit CTablePeriods(CDB* db) : CTableCache(db, "periods") {}

  bool FindAndFill(CStrBase& record) override;
  void GetAllRecords(std::vector<CStrPeriod>* list);
  platform::CEPROPID GetKeyPropId() const override { return PROP_ID; }
  std::unique_ptr<CStrBase> NewRecord() const override { return std::make_unique<CStrPeriod>(); }
  // Every period's place must exist.
  bool CheckIntegrity(int* count) override;

  // The place's periods, by start time.
  void GetAllRecordsForPlace(std::vector<CStrPeriod>* list, std::int32_t placeId);
  int GetNumRecordsForPlace(std::int32_t placeId);
  // Inserts a frame named "Default" from 00:00 to 00:00 (the whole day) for the place and
  // returns it as stored.
  CStrPeriod CreateDefaultPeriod(std::int32_t placeId);
  // Deletes every period of the place, each followed by its actions. All or nothing.
  void DeleteForPlace(const CStrPlace& place);

 protected:
  std::vector<platform::CEPROPSPEC> GetProperties() const override;
  std::vector<platform::CEPROPVAL> PropsForInsert(const CStrBase& record) const override;
  std::vector<platform::CEPROPVAL> PropsForUpdate(const CStrBase& record) const override {
    return PropsForInsert(record);
  }
  void FillRecord(const std::vector<platform::CEPROPVAL>& props, CStrBase& record) const override;
  void ThrowUpdateError(platform::LONG code) override;
  // By start time.
  void SortCache(std::vector<CStrPeriod>& cache) override;
  std::int32_t ParentOf(const CStrPeriod& period) const override { return period.GetIdPlace(); }
};
