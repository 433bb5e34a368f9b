#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "result.h"
#include "types.h"

namespace velmora {

// How the video's frame durations were read: a constant rate keeps its
// common delta, differing ones get a standard rate, and so does a constant
// one that only comes within 0.1 % of a standard rate (1501 at 90000).
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
