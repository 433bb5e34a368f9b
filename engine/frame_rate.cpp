#include "frame_rate.h"

#include <algorithm>
#include <array>
#include <numeric>

namespace velmora {

namespace {

__extension__ using Wide = unsigned __int128;

// The rates cameras and editors label footage at, in the order ties go.
// clang-format off
constexpr std::array<FrameRate, 10> kStandardRates{{
    {24000, 1001}, {24, 1}, {25, 1}, {30000, 1001}, {30, 1},
    {48000, 1001}, {48, 1}, {50, 1}, {60000, 1001}, {60, 1},
}};
// clang-format on

// Differing durations within 1 % of a standard rate stand for that rate; a
// constant duration must come within 0.1 % (phones' 1501 at 90000 is 59.94),
// so that 12.5 or 15 fps stays as it is.
constexpr unsigned kVariableToleranceDivisor = 100;
constexpr unsigned kConstantToleranceDivisor = 1000;

Wide gcd_wide(Wide a, Wide b) {
    while (b != 0) {
        const Wide r = a % b;
        a = b;
        b = r;
    }
    return a;
}

std::string decimal(Wide value) {
    std::string digits;
    do {
        digits.push_back(static_cast<char>('0' + static_cast<unsigned>(value % 10)));
        value /= 10;
    } while (value != 0);
    std::reverse(digits.begin(), digits.end());
    return digits;
}

// The durations that stand for the frame rate: a closing zero-length sample
// is left out, and so is a short closing frame (a last delta below every
// other one).
std::vector<TimingEntry> considered_entries(std::vector<TimingEntry> entries) {
    if (entries.empty()) return entries;
    if (entries.back().second == 0) {
        entries.pop_back();
        return entries;
    }
    if (entries.size() < 2 || entries.back().first != 1) return entries;
    const std::uint32_t last = entries.back().second;
    const bool shortest = std::all_of(entries.begin(), entries.end() - 1,
                                      [last](const TimingEntry& entry) { return last < entry.second; });
    if (shortest) entries.pop_back();
    return entries;
}

std::optional<FrameRate> standard_rate_of(std::uint32_t timescale, std::uint32_t delta) {
    for (const FrameRate& rate : kStandardRates)
        if (std::uint64_t{timescale} * rate.frame_duration == std::uint64_t{delta} * rate.timescale) return rate;
    return std::nullopt;
}

// The standard rate nearest to samples / duration (in time-scale units) by
// relative difference, or nullopt when even the nearest is more than
// 1 / tolerance_divisor off.
std::optional<FrameRate> nearest_standard_rate(std::uint32_t timescale, std::uint64_t samples, std::uint64_t duration,
                                               unsigned tolerance_divisor) {
    // |r/s - 1| = |timescale * samples * den - duration * num| / (duration * num);
    // comparing two of them, the common factor `duration` cancels.
    const Wide measured = Wide{timescale} * samples;
    auto distance = [&](const FrameRate& rate) {
        const Wide a = measured * rate.frame_duration;
        const Wide b = Wide{duration} * rate.timescale;
        return a > b ? a - b : b - a;
    };
    const FrameRate* best = &kStandardRates.front();
    for (const FrameRate& rate : kStandardRates)
        if (distance(rate) * best->timescale < distance(*best) * rate.timescale) best = &rate;
    if (distance(*best) * tolerance_divisor > Wide{duration} * best->timescale) return std::nullopt;
    return *best;
}

// Frames over their total duration, reduced: what the container measures.
std::string measured_rate(std::uint32_t timescale, std::uint64_t samples, std::uint64_t duration) {
    const Wide numerator = Wide{timescale} * samples;
    const Wide g = gcd_wide(numerator, duration);
    return decimal(numerator / g) + "/" + decimal(Wide{duration} / g);
}

// A constant duration keeps its own rate unless it only comes near a
// standard one that its time scale cannot hold.
RateChoice constant_rate(std::uint32_t timescale, std::uint32_t delta, std::uint64_t samples, std::uint64_t duration) {
    if (standard_rate_of(timescale, delta)) return RateChoice{delta, std::nullopt};
    const std::optional<FrameRate> near =
        nearest_standard_rate(timescale, samples, duration, kConstantToleranceDivisor);
    if (!near) return RateChoice{delta, std::nullopt};
    return RateChoice{delta, VariableRate{*near, measured_rate(timescale, samples, duration)}};
}

}  // namespace

Result<RateChoice> choose_frame_rate(std::uint32_t timescale, const std::vector<TimingEntry>& entries) {
    const std::vector<TimingEntry> considered = considered_entries(entries);
    if (considered.empty()) return fail("Variable frame rate movies are not supported yet");
    std::uint32_t smallest = UINT32_MAX;
    std::uint32_t largest = 0;
    std::uint64_t samples = 0;
    std::uint64_t duration = 0;
    for (const auto& [count, delta] : considered) {
        smallest = std::min(smallest, delta);
        largest = std::max(largest, delta);
        samples += count;
        duration += std::uint64_t{count} * delta;
    }
    if (smallest == largest) return constant_rate(timescale, smallest, samples, duration);

    std::optional<FrameRate> standard;
    const bool on_grid = std::all_of(considered.begin(), considered.end(),
                                     [smallest](const TimingEntry& entry) { return entry.second % smallest == 0; });
    if (on_grid) standard = standard_rate_of(timescale, smallest);
    if (!standard) {
        if (std::uint64_t{largest} > 2 * std::uint64_t{smallest})
            return fail("Variable frame rate movies are not supported yet");
        standard = nearest_standard_rate(timescale, samples, duration, kVariableToleranceDivisor);
        if (!standard) return fail("Variable frame rate movies are not supported yet");
    }
    return RateChoice{0, VariableRate{*standard, measured_rate(timescale, samples, duration)}};
}

}  // namespace velmora
