#include "timestamps.h"

#include <chrono>
#include <cstdio>

namespace velmora {

namespace {

struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

std::int64_t floor_divide(std::int64_t value, std::int64_t divisor) {
    std::int64_t quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

// The proleptic-Gregorian date `days` after 1970-01-01. std::chrono::year
// stops at 32767, so whole 400-year cycles (which repeat the calendar
// exactly) are taken off first and added back to the year.
CivilDate civil_from_days(std::int64_t days) {
    constexpr std::int64_t days_per_cycle = 146097;
    const std::int64_t cycles = floor_divide(days, days_per_cycle);
    const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{days - cycles * days_per_cycle}}};
    return {static_cast<int>(date.year()) + cycles * 400, static_cast<unsigned>(date.month()),
            static_cast<unsigned>(date.day())};
}

}  // namespace

std::optional<std::string> format_timestamp(std::int64_t seconds, std::int64_t nanoseconds) {
    const std::int64_t days = floor_divide(seconds, 86400);
    // From the remainder, not days * 86400: that product overflows near the
    // ends of the 64-bit range.
    const std::int64_t remainder = seconds % 86400;
    const std::int64_t second_of_day = remainder < 0 ? remainder + 86400 : remainder;
    const CivilDate date = civil_from_days(days);
    if (date.year < earliest_timestamp_year || date.year > latest_timestamp_year) return std::nullopt;

    char year[16];
    if (date.year > 9999)
        std::snprintf(year, sizeof year, "+%lld", static_cast<long long>(date.year));
    else if (date.year < 0)
        std::snprintf(year, sizeof year, "-%04lld", static_cast<long long>(-date.year));
    else
        std::snprintf(year, sizeof year, "%04lld", static_cast<long long>(date.year));

    char text[64];
    std::snprintf(text, sizeof text, "%s-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ", year, date.month, date.day,
                  static_cast<long long>(second_of_day / 3600), static_cast<long long>(second_of_day / 60 % 60),
                  static_cast<long long>(second_of_day % 60), static_cast<long long>(nanoseconds / 1000000));
    return std::string(text);
}

}  // namespace velmora
