#pragma once

// The one progress line of a batch on standard error: movie n of N, percent
// of the batch's bytes, MB/s so far and the time left at that speed.

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace velmora::cli {

class ProgressLine {
public:
    // The sizes of the batch's movies, in the order they are sent.
    explicit ProgressLine(std::vector<std::uint64_t> sizes) : sizes_(std::move(sizes)) {}

    // A "progress" event's payload: its "index" and "progress" (null counts as 0).
    void update(const nlohmann::json& payload);

    // "Movie 2 of 5  43%  12.5 MB/s  0:12 left"; speed and time left once any byte is done.
    std::string text(double elapsed_seconds) const;

private:
    double done_bytes() const;

    std::vector<std::uint64_t> sizes_;
    std::size_t index_ = 0;
    double fraction_ = 0;
};

// Seconds as "M:SS", or "H:MM:SS" from an hour on.
std::string clock_text(double seconds);

}  // namespace velmora::cli
