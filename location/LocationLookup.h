// Lookups in the profile database that the cell tracker, the cell history and the schedule
// engine share: which place a location code belongs to, and a place by its Id.
//
// A code is the cell identifier in cell mode and the location area code in LAC mode
// (CStrLocation::IsCellMode); the location table of the database follows the same mode. Without
// an open database nothing is found.
//
// Threads: any thread (the tables lock themselves). Database failures are thrown as
// CExceptionDB.
#pragma once

#include <cstdint>
#include <optional>

#include "data/StrPlace.h"

namespace locationlookup {

// The PlaceId of the location record with that code; nullopt when there is none.
std::optional<std::int32_t> PlaceIdOfCode(std::int32_t code);
// The place with that Id; nullopt when there is none.
std::optional<CStrPlace> FindPlace(std::int32_t placeId);

}  // namespace locationlookup
