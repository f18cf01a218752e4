// The one JSON writer and reader of the platform and its tools: the records the phone keeps as
// JSON text (outbox, boxes, telephony requests, opened files) and the console's reports.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Keys keep the order in which they were added, the order the records have always had.
using Json = nlohmann::ordered_json;

// Compact text of `value`: UTF-8 kept as it is; quotes, backslashes and control characters
// escaped; bytes that are not UTF-8 replaced by U+FFFD rather than failing.
std::string JsonText(const Json& value);

// The value `text` holds, or nullopt when it is not JSON.
std::optional<Json> ParseJson(std::string_view text);

}  // namespace platform
