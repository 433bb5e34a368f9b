#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "result.h"
#include "service_state.h"

namespace velmora {

// The twenty settings with their default values.
nlohmann::json default_settings();

// A complete settings object from any value: every member that is missing,
// of the wrong type or out of range keeps its default; unknown keys go.
nlohmann::json normalize_settings(const nlohmann::json& value);

// The whole file parsed as one JSON value; nothing on any failure.
std::optional<nlohmann::json> read_json_file(const std::string& path);

// Writes `value` pretty-printed next to `path` under a fresh temporary name
// (exclusive, 0600), flushes it to stable storage and renames it over `path`.
// The target is either untouched or completely replaced; the temporary file
// never survives the call.
Status write_json_file_atomically(const std::string& path, const nlohmann::json& value);

// Start-up: "settings.json" in the data folder, else (only when no such entry
// exists) the read-only "settings.previous", normalised. Never fails, never
// writes.
nlohmann::json read_stored_settings(const std::string& data_dir);

// "load_settings" and "save_settings".
Result<nlohmann::json> load_settings(ServiceState& state);
Result<nlohmann::json> save_settings(ServiceState& state, const nlohmann::json& value);

}  // namespace velmora
