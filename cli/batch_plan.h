#pragma once

// What a batch will be, worked out as the page works it out: each imported
// movie's start (common/start_derivation.h), its reel (common/reel_name.h)
// and, for a dry run, where its output goes (common/output_naming.h).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "result.h"

namespace velmora::cli {

using Json = nlohmann::json;

struct PlannedMovie {
    Json record;                       // the import's movie record
    std::optional<std::string> start;  // "HH:MM:SS:FF", or nothing when it cannot be derived
    std::string problem;               // why there is no start
    std::optional<std::string> reel;
};

// The movies in import order under the (normalised) settings.
std::vector<PlannedMovie> plan_batch(const Json& files, const Json& settings);

// The request's "ids", "timecodes" and "reels" for the movies that have a start.
Json batch_request(const std::vector<PlannedMovie>& movies, const Json& settings);

// Where the movie's output is published: the first name the rules give
// (a name already taken is left to the batch), or the movie itself in place.
Result<std::string> planned_output(const PlannedMovie& movie, const Json& settings, std::size_t position);

std::string text_member(const Json& object, const char* key);
std::uint64_t size_member(const Json& object);

}  // namespace velmora::cli
