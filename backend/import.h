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

// The file of `earlier` read again as import reads it, keeping how it was
// given ("id", "name", "relativeDir", "card") and looking up its backups
// again: the record that replaces the stored one after the file changed.
Result<MovieRecord> probed_again(const ServiceState& state, const MovieRecord& earlier);

// The same from a report the engine just printed for the file (a stamp's),
// with `status` read after it: the file is not read again.
Result<MovieRecord> reported_again(nlohmann::json report, const MovieRecord& earlier, const FileStatus& status);

// "import_movies": the dispatcher has already decoded "paths".
Result<nlohmann::json> import_movies(ServiceState& state, const std::vector<std::string>& paths,
                                     const nlohmann::json& args);

}  // namespace velmora
