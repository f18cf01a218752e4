// A radio cell (by its cell identifier) that belongs to a place.
#pragma once

#include "data/StrLocation.h"

class CStrCell : public CStrLocation {
 public:
  CStrCell() { Reset(); }
  CStrCell(std::int32_t code, std::int32_t placeId) {
    m_Code = code;
    m_PlaceId = placeId;
  }
  CStrCell(const CStrCell& other) = default;
  CStrCell& operator=(const CStrCell& other) = default;
  ~CStrCell() override = default;

  // "CStrCell:[oid,Code,PlaceId]".
  std::string ToString() const override;
  // Code 0, PlaceId 0, oid 0.
  void Reset() override;
};
