#pragma once

#include <string>

namespace velmora {

// "PID-NANOS-COUNT": the process id, nanoseconds since the Unix epoch (0 before
// it) and a process-wide counter that starts at 0 and grows by one per call.
// Movie ids and every temporary or backup name draw from this one counter, so
// two tokens of one process never collide, even within one nanosecond.
std::string make_unique_token();

}  // namespace velmora
