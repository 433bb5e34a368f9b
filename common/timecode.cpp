#include "timecode.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace velmora {

namespace {

constexpr double kNtsc30 = 30000.0 / 1001.0;
constexpr double kNtsc60 = 60000.0 / 1001.0;
constexpr double kDropTolerance = 0.002;

double exact_rate(std::uint32_t timescale, std::uint32_t frame_duration) {
    return static_cast<double>(timescale) / static_cast<double>(frame_duration);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::uint32_t two_digits(std::string_view text, std::size_t at) {
    return static_cast<std::uint32_t>((text[at] - '0') * 10 + (text[at + 1] - '0'));
}

// Non-drop frames from the label fields, in wrapping 32-bit arithmetic.
std::uint32_t label_frames(std::uint32_t fps, std::uint32_t hours, std::uint32_t minutes, std::uint32_t seconds,
                           std::uint32_t frames) {
    return frames + fps * (3600u * hours + 60u * minutes + seconds);
}

// Reduces n modulo a day of labels; a modulus that wraps to 0 leaves n as is.
std::uint32_t wrap_day(std::uint32_t n, std::uint32_t day) { return day == 0 ? n : n % day; }

// Drop-frame frame count to the frame count of the same label without drops.
std::uint32_t undo_drops(std::uint32_t n, std::uint32_t fps, std::uint32_t d) {
    const std::uint32_t block = 600u * fps - 9u * d;
    const std::uint32_t minute = 60u * fps - d;
    const std::uint32_t q = n / block;
    const std::uint32_t r = n % block;
    if (r >= d) n += d * ((r - d) / minute);
    return n + 9u * d * q;
}

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view trim_spaces(std::string_view text) {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    return text;
}

// One group of one or two digits, taken from the front of text, as two digits.
std::optional<std::string> take_group(std::string_view& text) {
    std::size_t length = 0;
    while (length < text.size() && length < 3 && is_digit(text[length])) ++length;
    if (length == 0 || length > 2) return std::nullopt;
    std::string group = length == 1 ? "0" + std::string(text.substr(0, 1)) : std::string(text.substr(0, 2));
    text.remove_prefix(length);
    return group;
}

// Up to eight digits, filled from the right.
std::optional<std::string> digits_label(std::string_view text) {
    if (text.empty() || text.size() > 8) return std::nullopt;
    for (char c : text)
        if (!is_digit(c)) return std::nullopt;
    const std::string padded = std::string(8 - text.size(), '0') + std::string(text);
    return padded.substr(0, 2) + ":" + padded.substr(2, 2) + ":" + padded.substr(4, 2) + ":" + padded.substr(6, 2);
}

// Four groups; ":" between the first three, ":", ";" or "." before the frames.
std::optional<std::string> grouped_label(std::string_view text) {
    std::string label;
    for (int group = 0; group < 4; ++group) {
        const auto digits = take_group(text);
        if (!digits) return std::nullopt;
        label += *digits;
        if (group == 3) break;
        if (text.empty()) return std::nullopt;
        const char separator = text.front();
        const bool frames_next = group == 2;
        if (separator != ':' && !(frames_next && (separator == ';' || separator == '.'))) return std::nullopt;
        label += separator == ':' ? ':' : ';';
        text.remove_prefix(1);
    }
    if (!text.empty()) return std::nullopt;
    return label;
}

}  // namespace

Result<std::string> enter_timecode(std::string_view text) {
    const std::string_view typed = trim_spaces(text);
    if (auto label = digits_label(typed)) return *label;
    if (auto label = grouped_label(typed)) return *label;
    return fail("Use HH:MM:SS:FF timecode");
}

std::uint32_t nominal_fps(std::uint32_t timescale, std::uint32_t frame_duration) {
    const double rounded = std::round(exact_rate(timescale, frame_duration));
    if (!(rounded >= 0.0)) return 0;
    if (rounded >= 4294967295.0) return 4294967295u;
    return static_cast<std::uint32_t>(rounded);
}

Result<std::uint32_t> drop_frames_per_minute(std::uint32_t timescale, std::uint32_t frame_duration) {
    const double rate = exact_rate(timescale, frame_duration);
    if (std::fabs(rate - kNtsc30) < kDropTolerance) return 2u;
    if (std::fabs(rate - kNtsc60) < kDropTolerance) return 4u;
    return fail("Drop-frame requires 29.97 or 59.94 fps");
}

Result<TimecodeValue> parse_timecode(std::string_view text, std::uint32_t timescale, std::uint32_t frame_duration) {
    if (text.size() != 11 || text[2] != ':' || text[5] != ':' || (text[8] != ':' && text[8] != ';'))
        return fail("Use HH:MM:SS:FF timecode");
    for (std::size_t at : {0u, 3u, 6u, 9u})
        if (!is_digit(text[at]) || !is_digit(text[at + 1])) return fail("Invalid timecode digits");

    const std::uint32_t hours = two_digits(text, 0);
    const std::uint32_t minutes = two_digits(text, 3);
    const std::uint32_t seconds = two_digits(text, 6);
    const std::uint32_t frames = two_digits(text, 9);
    const std::uint32_t fps = nominal_fps(timescale, frame_duration);
    if (hours > 23 || minutes > 59 || seconds > 59 || frames >= fps)
        return fail("Timecode is outside the frame-rate range");

    const bool drop = text[8] == ';';
    std::uint32_t frame = label_frames(fps, hours, minutes, seconds, frames);
    if (drop) {
        TRY(const std::uint32_t d, drop_frames_per_minute(timescale, frame_duration));
        if (minutes % 10 != 0 && seconds == 0 && frames < d) return fail("Skipped drop-frame timecode label");
        const std::uint32_t total_minutes = 60u * hours + minutes;
        frame -= d * (total_minutes - total_minutes / 10u);
    }
    return TimecodeValue{frame, drop};
}

Result<std::string> format_timecode(std::uint32_t frame, std::uint32_t timescale, std::uint32_t frame_duration,
                                    bool drop_frame) {
    const std::uint32_t fps = nominal_fps(timescale, frame_duration);
    // Every caller has already refused rates below one frame per second.
    if (fps == 0) return fail("Unsupported frame rate");
    std::uint32_t n = frame;
    char separator = ':';
    if (drop_frame) {
        TRY(const std::uint32_t d, drop_frames_per_minute(timescale, frame_duration));
        n = undo_drops(wrap_day(n, fps * 86400u - 1296u * d), fps, d);
        separator = ';';
    } else {
        n = wrap_day(n, fps * 86400u);
    }
    const std::uint32_t hours = n / fps / 3600u;
    const std::uint32_t minutes = (n / fps / 60u) % 60u;
    const std::uint32_t seconds = (n / fps) % 60u;
    const std::uint32_t frames = n % fps;
    std::array<char, 48> text{};
    const int length =
        std::snprintf(text.data(), text.size(), "%02u:%02u:%02u%c%02u", hours, minutes, seconds, separator, frames);
    return std::string(text.data(), static_cast<std::size_t>(length));
}

}  // namespace velmora
