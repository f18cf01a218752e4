// The location areas of the places: database "lacs", keyed by the location area code.
#pragma once

#include <atomic>

#include "data/StrLAC.h"
#include "data/TableLocation.h"

class CTableLAC : public CTableLocationOf<CStrLAC> {
 public:
  static std::atomic<std::int32_t> _iInvokeCounterFindAndFill;
  static std::atomic<std::int32_t> _iInvokeCounterGetAllRecords;

  explicit CTableLAC(CDB* db) : CTableLocationOf(db, "lacs") {}

  bool FindAndFill(CStrBase& record) override;
  void GetAllRecords(std::vector<CStrLAC>* list);

 protected:
  void ThrowUpdateError(platform::LONG code) override;
};
