#pragma once

// `velmora probe` as a table: one row per movie record, columns padded.

#include <string>

#include <nlohmann/json.hpp>

namespace velmora::cli {

// Name, rate, duration, timecode, reel, recorded or creation time, video.
std::string probe_table(const nlohmann::json& records);

// "30000/1001" as "29.97", "25/1" as "25"; anything else as it came.
std::string rate_text(const std::string& rate);

// When recording began in the camera's zone ("2024-05-01 10:00:00 +03:00"),
// else the record's "created", else "".
std::string time_text(const nlohmann::json& record);

}  // namespace velmora::cli
