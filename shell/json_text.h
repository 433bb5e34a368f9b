#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "result.h"

namespace velmora {

using Json = nlohmann::json;

// The JSON library throws; these are the only places where that is caught.
Result<Json> parse_json(std::string_view text);
Result<std::string> compact_json(const Json& value);

}  // namespace velmora
