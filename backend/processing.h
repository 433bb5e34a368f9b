#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "result.h"
#include "service_state.h"

namespace velmora {

inline constexpr std::string_view source_changed_message =
    "Source changed since import. Import it again. No output was published.";
inline constexpr std::string_view timecode_verification_message =
    "Output timecode verification failed. Source has been preserved.";
inline constexpr std::string_view stream_verification_message =
    "Output stream verification failed. Source has been preserved.";

// What "process_movies" asks for each movie: its start timecode and, where
// given and not empty, the reel name the engine writes with it.
struct MovieRequests {
    std::map<std::string, std::string> timecodes;
    std::map<std::string, std::string> reels;
};

// "process_movies": the dispatcher has already decoded "ids", "timecodes"
// and "reels". Progress events go out through emit_message.
Result<nlohmann::json> process_movies(ServiceState& state, const std::vector<std::string>& ids,
                                      const MovieRequests& requests, const nlohmann::json& options);

// Receives the payload of every "progress" event, from the request thread
// and from the engine's status reader thread.
using ProgressEventSink = std::function<void(const nlohmann::json& payload)>;

// The same batch with the events handed to `emit`.
Result<nlohmann::json> run_batch(ServiceState& state, const std::vector<std::string>& ids,
                                 const MovieRequests& requests, const nlohmann::json& options,
                                 const ProgressEventSink& emit);

// The verification of a written file against the source's movie record; the
// report is the written file's probe report. Its "reel" must be `reel`, and
// absent when `reel` is empty.
Status verify_written_report(const nlohmann::json& report, const std::string& timecode,
                             const nlohmann::json& source_record, const std::string& reel = {});

// One signature per stream that is not a timecode track, sorted:
// "<trackId as JSON>:<type>:<tag>".
std::vector<std::string> stream_signatures(const nlohmann::json& report);

}  // namespace velmora
