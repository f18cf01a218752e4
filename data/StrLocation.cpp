#include "data/StrLocation.h"

#include <atomic>

#include "data/StrCell.h"
#include "data/StrLAC.h"

namespace {
std::atomic<bool> g_cellMode{false};
}  // namespace

std::unique_ptr<CStrLocation> CStrLocation::NewLocation() {
  if (IsCellMode())
    return std::make_unique<CStrCell>();
  return std::make_unique<CStrLAC>();
}

void CStrLocation::SetCellMode(bool cellMode) {
  g_cellMode.store(cellMode);
}

bool CStrLocation::IsCellMode() {
  return g_cellMode.load();
}
