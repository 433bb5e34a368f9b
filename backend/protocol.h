#pragma once

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "result.h"
#include "service_state.h"

namespace velmora {

// Stack size of every request thread; handlers may recurse through JSON.
inline constexpr std::size_t kRequestStackBytes = 4u << 20;

// Start-up: resources folder (first argument), engine path, data folder from
// HOME, stored settings. Fails with "Missing resources" or "Application data
// directory is unavailable".
Result<std::shared_ptr<ServiceState>> start_service(const std::vector<std::string>& arguments, const char* home);

// Reads requests from standard input until its end or "shutdown", running each
// on its own thread. A failure (read error, bad line, missing "command") ends
// the run; running requests are then abandoned.
Status serve_requests(const std::shared_ptr<ServiceState>& state);

// Routes one command to its handler after decoding its typed arguments.
// Never writes to standard output.
Result<nlohmann::json> dispatch_command(ServiceState& state, const std::string& command, const nlohmann::json& args);

}  // namespace velmora
