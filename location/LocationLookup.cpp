#include "location/LocationLookup.h"

#include "data/DB.h"
#include "data/StrLocation.h"
#include "data/TableLocation.h"
#include "data/TablePlaces.h"

namespace locationlookup {

std::optional<std::int32_t> PlaceIdOfCode(std::int32_t code) {
  CDB* db = CDB::GetInstance();
  if (!db || !db->GetTableLocation())
    return std::nullopt;
  std::unique_ptr<CStrLocation> location = CStrLocation::NewLocation();
  location->SetCode(code);
  if (!db->GetTableLocation()->FindAndFill(*location))
    return std::nullopt;
  return location->GetPlaceId();
}

std::optional<CStrPlace> FindPlace(std::int32_t placeId) {
  CDB* db = CDB::GetInstance();
  if (!db || !db->GetTablePlaces())
    return std::nullopt;
  CStrPlace place;
  place.SetId(placeId);
  if (!db->GetTablePlaces()->FindAndFill(place))
    return std::nullopt;
  return place;
}

}  // namespace locationlookup
