#pragma once

// Instants and times of day as the page's JavaScript Date reads and shows
// them, so that a start derived here is the start the page shows: the same
// date-time texts are understood, the same range of instants exists
// (±8.64e15 ms around 1970) and the same zones apply.

#include <optional>
#include <string_view>

namespace velmora {

// Time of day of an instant in a zone, and that zone's offset from UTC.
struct WallClock {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millis = 0;
    int offset_minutes = 0;  // east of UTC
};

// Milliseconds since 1970 of an ISO 8601 date-time as Date.parse reads it:
// "YYYY", "-MM" and "-DD" optional in turn, "±YYYYYY" for other years, then
// optionally "THH:mm", ":ss" and a fraction (milliseconds, truncated), then
// "Z" or "±HH:mm". A time without a zone is local time; a date alone is UTC.
// Nothing for any other text or an instant out of range.
std::optional<double> parse_instant(std::string_view text);

// The wall clock of an instant (milliseconds since 1970) at a fixed offset
// east of UTC, or in the process's local zone (TZ) without one. Nothing for
// an instant out of range, where Date has no time of day either.
std::optional<WallClock> wall_clock(double ms, std::optional<int> offset_minutes);

}  // namespace velmora
