#pragma once

#include <cstdint>
#include <optional>
#include <string>

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

}  // namespace velmora
