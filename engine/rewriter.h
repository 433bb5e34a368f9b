#pragma once

#include <string>

#include "result.h"

namespace velmora {

// Writes OUTPUT as INPUT plus a timecode track starting at TIMECODE, verifies
// it and prints the report of the written file.
Status write_movie(const std::string& input, const std::string& output, const std::string& timecode);

}  // namespace velmora
