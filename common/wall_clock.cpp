#include "wall_clock.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <ctime>

namespace velmora {

namespace {

// Date's range: 100,000,000 days either side of 1970.
constexpr double kLatestInstant = 8.64e15;
constexpr std::int64_t kMillisPerDay = 86400000;

bool in_range(double ms) { return std::fabs(ms) <= kLatestInstant; }

std::int64_t floor_divide(std::int64_t value, std::int64_t divisor) {
    const std::int64_t quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

// Days since 1970-01-01 of a proleptic-Gregorian date (H. Hinnant's method).
// A day past the month's end runs on into the next month, as Date.parse does.
std::int64_t days_from_civil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = floor_divide(year, 400);
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

// Reads the text left to right; every read fails on anything unexpected.
class TextReader {
public:
    explicit TextReader(std::string_view text) : text_(text) {}

    bool at_end() const { return at_ == text_.size(); }
    bool next_is(char c) const { return at_ < text_.size() && text_[at_] == c; }

    bool take(char c) {
        if (!next_is(c)) return false;
        ++at_;
        return true;
    }

    // Exactly `count` ASCII digits as a number.
    std::optional<std::int64_t> number(std::size_t count) {
        std::int64_t value = 0;
        for (std::size_t i = 0; i < count; ++i, ++at_) {
            if (at_ >= text_.size() || text_[at_] < '0' || text_[at_] > '9') return std::nullopt;
            value = value * 10 + (text_[at_] - '0');
        }
        return value;
    }

    // One or more digits after the decimal point as milliseconds, truncated.
    std::optional<int> millis() {
        int value = 0;
        std::size_t count = 0;
        for (; at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9'; ++at_, ++count)
            if (count < 3) value = value * 10 + (text_[at_] - '0');
        if (count == 0) return std::nullopt;
        for (; count < 3; ++count) value *= 10;
        return value;
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
};

struct Fields {
    std::int64_t year = 0;
    std::int64_t month = 1;
    std::int64_t day = 1;
    bool has_time = false;
    std::int64_t hour = 0;
    std::int64_t minute = 0;
    std::int64_t second = 0;
    int millis = 0;
    std::optional<std::int64_t> zone_minutes;
};

std::optional<std::int64_t> read_year(TextReader& in) {
    if (in.next_is('+') || in.next_is('-')) {
        const bool negative = in.take('-');
        if (!negative) in.take('+');
        const auto year = in.number(6);
        // "-000000" names no year.
        if (!year || (negative && *year == 0)) return std::nullopt;
        return negative ? -*year : *year;
    }
    return in.number(4);
}

bool read_date(TextReader& in, Fields& fields) {
    const auto year = read_year(in);
    if (!year) return false;
    fields.year = *year;
    if (!in.take('-')) return true;
    const auto month = in.number(2);
    if (!month || *month < 1 || *month > 12) return false;
    fields.month = *month;
    if (!in.take('-')) return true;
    const auto day = in.number(2);
    if (!day || *day < 1 || *day > 31) return false;
    fields.day = *day;
    return true;
}

bool read_time(TextReader& in, Fields& fields) {
    if (!in.take('T')) return true;
    fields.has_time = true;
    const auto hour = in.number(2);
    if (!hour || !in.take(':')) return false;
    const auto minute = in.number(2);
    if (!minute) return false;
    fields.hour = *hour;
    fields.minute = *minute;
    if (in.take(':')) {
        const auto second = in.number(2);
        if (!second) return false;
        fields.second = *second;
        if (in.take('.')) {
            const auto millis = in.millis();
            if (!millis) return false;
            fields.millis = *millis;
        }
    }
    // 24:00 is the end of the day and nothing after it.
    if (fields.hour == 24) return fields.minute == 0 && fields.second == 0 && fields.millis == 0;
    return fields.hour < 24 && fields.minute < 60 && fields.second < 60;
}

bool read_zone(TextReader& in, Fields& fields) {
    if (in.take('Z')) {
        fields.zone_minutes = 0;
        return true;
    }
    if (!in.next_is('+') && !in.next_is('-')) return true;
    const bool negative = in.take('-');
    if (!negative) in.take('+');
    const auto hours = in.number(2);
    if (!hours || !in.take(':')) return false;
    const auto minutes = in.number(2);
    if (!minutes || *hours > 23 || *minutes > 59) return false;
    fields.zone_minutes = (negative ? -1 : 1) * (*hours * 60 + *minutes);
    return true;
}

// The instant of a local date and time, by the C library's zone rules.
std::optional<double> local_instant(const Fields& fields) {
    std::tm local{};
    local.tm_year = static_cast<int>(fields.year - 1900);
    local.tm_mon = static_cast<int>(fields.month - 1);
    local.tm_mday = static_cast<int>(fields.day);
    local.tm_hour = static_cast<int>(fields.hour);
    local.tm_min = static_cast<int>(fields.minute);
    local.tm_sec = static_cast<int>(fields.second);
    local.tm_isdst = -1;
    errno = 0;
    const std::time_t seconds = std::mktime(&local);
    if (seconds == static_cast<std::time_t>(-1) && errno != 0) return std::nullopt;
    return static_cast<double>(seconds) * 1000.0 + fields.millis;
}

}  // namespace

std::optional<double> parse_instant(std::string_view text) {
    TextReader in(text);
    Fields fields;
    if (!read_date(in, fields) || !read_time(in, fields) || !read_zone(in, fields) || !in.at_end()) return std::nullopt;

    std::optional<double> ms;
    if (fields.has_time && !fields.zone_minutes) {
        ms = local_instant(fields);
    } else {
        const std::int64_t days =
            days_from_civil(fields.year, static_cast<int>(fields.month), static_cast<int>(fields.day));
        const std::int64_t time = ((fields.hour * 60 + fields.minute) * 60 + fields.second) * 1000 + fields.millis;
        ms = static_cast<double>(days * kMillisPerDay + time - fields.zone_minutes.value_or(0) * 60000);
    }
    if (!ms || !in_range(*ms)) return std::nullopt;
    return ms;
}

std::optional<WallClock> wall_clock(double ms, std::optional<int> offset_minutes) {
    if (!in_range(ms)) return std::nullopt;
    if (offset_minutes) {
        const double shifted = std::trunc(ms) + *offset_minutes * 60000.0;
        if (!in_range(shifted)) return std::nullopt;
        const std::int64_t day_ms = static_cast<std::int64_t>(shifted) -
                                    floor_divide(static_cast<std::int64_t>(shifted), kMillisPerDay) * kMillisPerDay;
        return WallClock{static_cast<int>(day_ms / 3600000), static_cast<int>(day_ms / 60000 % 60),
                         static_cast<int>(day_ms / 1000 % 60), static_cast<int>(day_ms % 1000), *offset_minutes};
    }
    const auto whole = static_cast<std::int64_t>(std::trunc(ms));
    const std::int64_t seconds = floor_divide(whole, 1000);
    const auto time = static_cast<std::time_t>(seconds);
    std::tm local{};
    // localtime_r need not look at TZ again by itself.
    tzset();
    if (localtime_r(&time, &local) == nullptr) return std::nullopt;
    return WallClock{local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(whole - seconds * 1000),
                     static_cast<int>(local.tm_gmtoff / 60)};
}

}  // namespace velmora
