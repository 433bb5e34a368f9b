#include "timestamps.h"

#include <cstdio>

namespace velmora {

namespace {

struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

// Days since 1970-01-01 to a proleptic-Gregorian date (H. Hinnant's method).
CivilDate civil_from_days(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t day_of_era = days - era * 146097;
    const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;
    const auto day = static_cast<unsigned>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    const auto month = static_cast<unsigned>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    return {year_of_era + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

std::int64_t floor_divide(std::int64_t value, std::int64_t divisor) {
    std::int64_t quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
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
