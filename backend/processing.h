#pragma once

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "result.h"
#include "service_state.h"

namespace velmora {

// "process_movies": the dispatcher has already decoded "ids" and "timecodes".
Result<nlohmann::json> process_movies(ServiceState& state, const std::vector<std::string>& ids,
                                      const std::map<std::string, std::string>& timecodes,
                                      const nlohmann::json& options);

}  // namespace velmora
