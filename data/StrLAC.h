// A location area (by its location area code) that belongs to a place.
#pragma once

#include "data/StrLocation.h"

class CStrLAC : public CStrLocation {
 public:
  CStrLAC() { Reset(); }
  CStrLAC(std::int32_t code, std::int32_t placeId) {
    m_Code = code;
    m_PlaceId = placeId;
  }
  CStrLAC(const CStrLAC& other) = default;
  CStrLAC& operator=(const CStrLAC& other) = default;
  ~CStrLAC() override = default;

  // "CStrLAC:[oid,Code,PlaceId]".
  std::string ToString() const override;
  // Code 0, PlaceId 0, oid 0.
  void Reset() override;
};
