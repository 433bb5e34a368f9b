#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "movie.h"
#include "result.h"

namespace velmora {

// Tracks how far the copy is: k in 1..90 is 90 times the copied share,
// rounded down, and is reported once per change.
class CopyProgress {
public:
    explicit CopyProgress(std::uint64_t total) : total_(total) {}
    // The new k after `copied` bytes in all, or nullopt when it did not change.
    std::optional<unsigned> advance(std::uint64_t copied);

private:
    std::uint64_t total_;
    unsigned last_ = 0;
};

// "progress=" and k / 100 in its shortest decimal form, with a line feed.
std::string progress_line(unsigned k);

// Reads the written file back and accepts it only when it carries the
// requested timecode and every other track is unchanged. Answers the written
// movie, whose report the caller prints.
Result<Movie> verify_written_movie(const Movie& input, const std::string& output, const std::string& timecode);

}  // namespace velmora
