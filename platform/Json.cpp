#include "platform/Json.h"

namespace platform {

std::string JsonText(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<Json> ParseJson(std::string_view text) {
  Json value = Json::parse(text, nullptr, false);
  if (value.is_discarded())
    return std::nullopt;
  return value;
}

}  // namespace platform
