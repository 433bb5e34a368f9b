#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "result.h"
#include "service_state.h"

namespace velmora {

// "process_movies": the dispatcher has already decoded "ids" and "timecodes".
// Progress events go out through emit_message.
Result<nlohmann::json> process_movies(ServiceState& state, const std::vector<std::string>& ids,
                                      const std::map<std::string, std::string>& timecodes,
                                      const nlohmann::json& options);

// Receives the payload of every "progress" event, from the request thread
// and from the engine's status reader thread.
using ProgressEventSink = std::function<void(const nlohmann::json& payload)>;

// The same batch with the events handed to `emit`.
Result<nlohmann::json> run_batch(ServiceState& state, const std::vector<std::string>& ids,
                                 const std::map<std::string, std::string>& timecodes, const nlohmann::json& options,
                                 const ProgressEventSink& emit);

// The verification of a written file against the source's movie record; the
// report is the written file's probe report.
Status verify_written_report(const nlohmann::json& report, const std::string& timecode,
                             const nlohmann::json& source_record);

// One signature per stream that is not a timecode track, sorted:
// "<trackId as JSON>:<type>:<tag>".
std::vector<std::string> stream_signatures(const nlohmann::json& report);

}  // namespace velmora
