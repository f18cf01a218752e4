// The cells of the places: database "cells", keyed by the cell identifier.
#pragma once

#include "data/StrCell.h"
#include "data/TableLocation.h"

class CTableCell : public CTableLocationOf<CStrCell> {
 public:
  explicit CTableCell(CDB* db) : CTableLocationOf(db, "cells") {}

 protected:
  void ThrowUpdateError(platform::LONG code) override { ThrowWriteError(code); }
};
