#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "result.h"
#include "service_state.h"

namespace velmora {

// Probes the file at `canonical`, whose status was `before`: the record as
// the page gets it but for "id", "name", "relativeDir", "card" and
// "backups", or the message for the import's errors.
Result<MovieRecord> probed_movie(const ServiceState& state, const std::string& canonical, const FileStatus& before);

// "import_movies": the dispatcher has already decoded "paths".
Result<nlohmann::json> import_movies(ServiceState& state, const std::vector<std::string>& paths,
                                     const nlohmann::json& args);

}  // namespace velmora
