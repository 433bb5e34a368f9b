#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmora {

// Earliest and latest years a timestamp may name (the range of the usual
// proleptic-Gregorian date libraries).
inline constexpr std::int64_t earliest_timestamp_year = -262144;
inline constexpr std::int64_t latest_timestamp_year = 262143;

// UTC text "YYYY-MM-DDTHH:MM:SS.mmmZ" for an instant given as seconds and
// nanoseconds (0..999,999,999) since the Unix epoch; the milliseconds are
// truncated. Years outside 0..9999 are written with a sign ("+10000",
// "-0001"). Nothing when the year lies outside the range above.
std::optional<std::string> format_timestamp(std::int64_t seconds, std::int64_t nanoseconds = 0);

}  // namespace velmora
