#pragma once

#include <optional>
#include <string>

#include "movie.h"
#include "result.h"

namespace velmora {

// Reads the written file back and accepts it only when it carries the
// requested timecode and reel (none when none was asked for) and every other
// track is unchanged. Answers the written movie, whose report the caller prints.
Result<Movie> verify_written_movie(const Movie& input, const std::string& output, const std::string& timecode,
                                   const std::optional<std::string>& reel = std::nullopt);

// The same checks on a movie already read back.
Status check_written_movie(const Movie& input, const Movie& written, const std::string& timecode,
                           const std::optional<std::string>& reel = std::nullopt);

}  // namespace velmora
