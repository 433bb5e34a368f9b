#pragma once

#include <vector>

#include <nlohmann/json.hpp>

#include "result.h"

namespace velmora {

// "outputs_exist": {"exists": [bool…]}, one per path in order: true where
// something (a file, a folder, a dangling link) already holds the name, so
// that the page can mark a movie whose output is taken before Process.
Result<nlohmann::json> outputs_exist(const nlohmann::json& args);

}  // namespace velmora
