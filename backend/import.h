#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "result.h"
#include "service_state.h"

namespace velmora {

// "import_movies": the dispatcher has already decoded "paths".
Result<nlohmann::json> import_movies(ServiceState& state, const std::vector<std::string>& paths,
                                     const nlohmann::json& args);

}  // namespace velmora
