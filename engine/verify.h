#pragma once

#include <string>

#include "movie.h"
#include "result.h"

namespace velmora {

// Reads the written file back and accepts it only when it carries the
// requested timecode and every other track is unchanged. Answers the written
// movie, whose report the caller prints.
Result<Movie> verify_written_movie(const Movie& input, const std::string& output, const std::string& timecode);

}  // namespace velmora
