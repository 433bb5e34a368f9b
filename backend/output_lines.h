#pragma once

#include <nlohmann/json.hpp>

namespace velmora {

// Writes one compact JSON line to standard output under the process-wide
// output lock and flushes it, so replies and events from different threads
// never interleave. Safe from any thread; write errors are ignored.
void emit_message(const nlohmann::json& message);

}  // namespace velmora
