// The common base of the two kinds of location record: a radio cell and a location area. Both
// tie a location code (the cell identifier or the location area code) to a place.
#pragma once

#include <memory>

#include "data/StrBase.h"

class CStrLocation : public CStrBase {
 public:
  CStrLocation() = default;
  CStrLocation(const CStrLocation& other) = default;
  CStrLocation& operator=(const CStrLocation& other) = default;
  ~CStrLocation() override = default;

  // The logical key is the location code.
  std::int32_t GetId() const override { return m_Code; }
  void SetId(std::int32_t id) override { m_Code = id; }

  virtual std::int32_t GetCode() const { return m_Code; }
  virtual std::int32_t GetPlaceId() const { return m_PlaceId; }
  virtual void SetCode(std::int32_t code) { m_Code = code; }
  virtual void SetPlaceId(std::int32_t placeId) { m_PlaceId = placeId; }
  // The address of the code, for use as a search key.
  virtual std::int32_t* GetCodeRef() { return &m_Code; }

  // An empty cell record in cell mode, else an empty location-area record.
  static std::unique_ptr<CStrLocation> NewLocation();

  // Whether places are recognised by cell (true) or by location area (false). The cell-location
  // manager keeps this in step with its own mode; LAC mode until it says otherwise.
  // Thread-safe.
  static void SetCellMode(bool cellMode);
  static bool IsCellMode();

  // Sorted containers of locations order them by code, ascending.
  friend bool operator<(const CStrLocation& a, const CStrLocation& b) {
    return a.m_Code < b.m_Code;
  }

 protected:
  std::int32_t m_Code = 0;
  std::int32_t m_PlaceId = 0;
};
