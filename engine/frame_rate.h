#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "result.h"

namespace velmora {

// A rate as a time scale and a frame duration: 30000/1001 is 29.97 fps.
struct FrameRate {
    std::uint32_t timescale = 0;
    std::uint32_t frame_duration = 0;
    bool operator==(const FrameRate&) const = default;
};

// A video whose frame durations differ, labelled at the standard rate its
// durations stand for.
struct VariableRate {
    FrameRate standard;    // reduced, one of the standard rates (30000/1001, 25/1 ...)
    std::string measured;  // frames over their total duration, reduced ("36000/1201")
};

// How the video's frame durations were read: a constant rate keeps its
// common delta, anything else gets a standard rate.
struct RateChoice {
    std::uint32_t sample_delta = 0;  // the common delta, or 0 for a variable rate
    std::optional<VariableRate> variable;
};

// One stts entry: sample count, sample delta.
using TimingEntry = std::pair<std::uint32_t, std::uint32_t>;

// Decides the rate of a primary video track from its timing entries, as the
// track reader accepted them (a zero delta only as a closing single sample).
// Fails with "Variable frame rate movies are not supported yet" when the
// durations stand for no standard rate.
Result<RateChoice> choose_frame_rate(std::uint32_t timescale, const std::vector<TimingEntry>& entries);

}  // namespace velmora
