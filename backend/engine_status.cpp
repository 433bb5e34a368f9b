#include "engine_status.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "names.h"
#include "utf8.h"

namespace velmora {

namespace {

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

bool equals_ignoring_case(std::string_view text, std::string_view lower) noexcept {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i]) return false;
    }
    return true;
}

// The parts of a number in the plain decimal form, located by the grammar check.
struct DecimalParts {
    std::string_view integer;
    std::string_view fraction;
    long long exponent = 0;  // saturated, only its sign and size matter
};

std::optional<DecimalParts> split_decimal(std::string_view text) noexcept {
    DecimalParts parts;
    std::size_t i = 0;
    while (i < text.size() && is_digit(text[i])) ++i;
    parts.integer = text.substr(0, i);
    if (i < text.size() && text[i] == '.') {
        std::size_t start = ++i;
        while (i < text.size() && is_digit(text[i])) ++i;
        parts.fraction = text.substr(start, i - start);
    }
    if (parts.integer.empty() && parts.fraction.empty()) return std::nullopt;
    if (i == text.size()) return parts;
    if (text[i] != 'e' && text[i] != 'E') return std::nullopt;
    ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    for (; i < text.size(); ++i) {
        if (!is_digit(text[i])) return std::nullopt;
        if (parts.exponent < 1'000'000'000) parts.exponent = parts.exponent * 10 + (text[i] - '0');
    }
    if (negative) parts.exponent = -parts.exponent;
    return parts;
}

// Whether a number that the converter found out of range is too large
// (rather than too small): the position of its first significant digit
// relative to the decimal point, plus the exponent.
bool overflows(const DecimalParts& parts) noexcept {
    long long magnitude = 0;
    std::size_t first = parts.integer.find_first_not_of('0');
    if (first != std::string_view::npos) {
        magnitude = static_cast<long long>(parts.integer.size() - first);
    } else {
        std::size_t zeros = parts.fraction.find_first_not_of('0');
        magnitude = -static_cast<long long>(zeros == std::string_view::npos ? parts.fraction.size() : zeros);
    }
    return magnitude + parts.exponent > 0;
}

double clamp_fraction(double value) noexcept {
    if (std::isnan(value)) return value;
    if (value < 0) return 0;
    if (value > 1) return 1;
    return value;
}

// Splits the engine's stream into lines and decides, line by line, whether
// each is progress or status text.
class StatusCollector {
public:
    explicit StatusCollector(const ProgressSink& on_progress) : on_progress_(on_progress) {}

    // Takes the next bytes of the stream; false once they are not UTF-8.
    bool take(std::string_view bytes) {
        while (!bytes.empty()) {
            const void* found = std::memchr(bytes.data(), '\n', bytes.size());
            std::size_t length = found ? static_cast<const char*>(found) - bytes.data() : bytes.size();
            if (!append_to_line(bytes.substr(0, length))) return false;
            if (!found) break;
            if (!finish_line(true)) return false;
            bytes.remove_prefix(length + 1);
        }
        return true;
    }

    // End of the stream: a last line without its line feed still counts.
    bool finish() {
        if (line_length_ == 0) return true;
        return finish_line(false);
    }

    std::string take_collected() { return std::move(collected_); }

private:
    bool append_to_line(std::string_view bytes) {
        for (char c : bytes)
            if (!validator_.feed(static_cast<unsigned char>(c))) return false;
        line_length_ += bytes.size();
        if (line_.size() < status_line_keep_limit)
            line_.append(bytes.substr(0, std::min(bytes.size(), status_line_keep_limit - line_.size())));
        return true;
    }

    // A carriage return is part of the line ending only before a line feed.
    bool finish_line(bool ended_by_line_feed) {
        if (!validator_.at_boundary()) return false;
        std::string_view line = line_;
        if (line_length_ > line_.size())
            line = line.substr(0, complete_utf8_prefix_length(line));
        else if (ended_by_line_feed && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (auto progress = parse_progress_line(line)) {
            if (on_progress_) on_progress_(*progress);
        } else if (collected_.size() < status_collect_limit) {
            collected_.append(line);
            collected_.push_back('\n');
        }
        line_.clear();
        line_length_ = 0;
        return true;
    }

    const ProgressSink& on_progress_;
    Utf8Validator validator_;
    std::string line_;             // the kept bytes of the current line
    std::size_t line_length_ = 0;  // its full length
    std::string collected_;
};

}  // namespace

std::optional<double> parse_decimal_number(std::string_view text) noexcept {
    bool negative = false;
    std::string_view body = text;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity"))
        return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    if (equals_ignoring_case(body, "nan")) return std::numeric_limits<double>::quiet_NaN();

    auto parts = split_decimal(body);
    if (!parts) return std::nullopt;
    double value = 0;
    auto [end, error] = std::from_chars(body.data(), body.data() + body.size(), value, std::chars_format::general);
    if (error == std::errc::result_out_of_range)
        value = overflows(*parts) ? std::numeric_limits<double>::infinity() : 0.0;
    else if (error != std::errc() || end != body.data() + body.size())
        return std::nullopt;
    return negative ? -value : value;
}

std::optional<double> parse_progress_line(std::string_view line) noexcept {
    constexpr std::string_view prefix = kProgressPrefix;
    if (line.size() < prefix.size() || line.substr(0, prefix.size()) != prefix) return std::nullopt;
    auto value = parse_decimal_number(line.substr(prefix.size()));
    if (!value) return std::nullopt;
    return clamp_fraction(*value);
}

Result<std::string> read_engine_status(int fd, const ProgressSink& on_progress) {
    std::array<char, status_read_buffer_size> buffer;
    StatusCollector collector(on_progress);
    for (;;) {
        ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(system_error_text(errno));
        }
        if (n == 0) break;
        if (!collector.take(std::string_view(buffer.data(), static_cast<std::size_t>(n))))
            return fail("stream did not contain valid UTF-8");
    }
    if (!collector.finish()) return fail("stream did not contain valid UTF-8");
    return collector.take_collected();
}

}  // namespace velmora
