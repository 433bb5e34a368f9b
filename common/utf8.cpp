#include "utf8.h"

#include <utility>

namespace velmora {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
constexpr char32_t kReplacementCharacter = 0xFFFD;

// What a byte may start: the length of the sequence (0 for a byte that
// cannot start one) and the allowed range of the second byte.
struct LeadByte {
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
};

LeadByte lead_byte(unsigned char byte) noexcept {
    if (byte < 0x80) return {1, 0x80, 0xBF};
    if (byte >= 0xC2 && byte <= 0xDF) return {2, 0x80, 0xBF};
    if (byte == 0xE0) return {3, 0xA0, 0xBF};  // no overlong forms
    if (byte == 0xED) return {3, 0x80, 0x9F};  // no surrogates
    if (byte >= 0xE1 && byte <= 0xEF) return {3, 0x80, 0xBF};
    if (byte == 0xF0) return {4, 0x90, 0xBF};  // no overlong forms
    if (byte >= 0xF1 && byte <= 0xF3) return {4, 0x80, 0xBF};
    if (byte == 0xF4) return {4, 0x80, 0x8F};  // nothing above U+10FFFF
    return {};
}

bool is_continuation(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }

// Bytes of the longest prefix of a well-formed sequence starting at `at`
// (at least 1), and whether that prefix is the complete sequence.
std::pair<std::size_t, bool> scan_sequence(std::string_view bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const LeadByte lead = lead_byte(byte(at));
    if (lead.length == 0) return {1, false};
    std::size_t length = 1;
    while (length < lead.length && at + length < bytes.size()) {
        const unsigned char next = byte(at + length);
        const bool fits = length == 1 ? next >= lead.low && next <= lead.high : is_continuation(next);
        if (!fits) break;
        ++length;
    }
    return {length, length == lead.length};
}

// The length a lead byte of text known to be valid announces, read from its
// high bits alone.
std::size_t sequence_length(unsigned char lead) noexcept {
    if (lead < 0x80) return 1;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    return 4;
}

// Decodes the character of valid UTF-8 that starts at `start` and is `length` bytes long.
char32_t decode_at(std::string_view text, std::size_t start, std::size_t length) noexcept {
    auto lead = static_cast<unsigned char>(text[start]);
    if (length == 1) return lead;
    char32_t value = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i)
        value = (value << 6) | (static_cast<unsigned char>(text[start + i]) & 0x3F);
    return value;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const auto [length, complete] = scan_sequence(bytes, at);
        if (!complete) return false;
        at += length;
    }
    return true;
}

std::string decode_utf8_lossy(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        const auto [length, complete] = scan_sequence(bytes, at);
        if (complete) {
            text.append(bytes.substr(at, length));
        } else {
            text.append(kReplacement);
        }
        at += length;
    }
    return text;
}

Utf8Character character_at(std::string_view bytes, std::size_t at) {
    const auto [length, complete] = scan_sequence(bytes, at);
    return {complete ? decode_at(bytes, at, length) : kReplacementCharacter, length};
}

bool is_white_space(char32_t c) noexcept {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::size_t count_scalar_values(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text) {
        if (!is_continuation(static_cast<unsigned char>(c))) ++count;
    }
    return count;
}

bool Utf8Validator::feed(unsigned char byte) noexcept {
    if (!ok_) return false;
    if (remaining_ > 0) {
        if (byte < low_ || byte > high_) return ok_ = false;
        --remaining_;
        low_ = 0x80;
        high_ = 0xBF;
        return true;
    }
    const LeadByte lead = lead_byte(byte);
    if (lead.length == 0) return ok_ = false;
    remaining_ = lead.length - 1;
    low_ = lead.low;
    high_ = lead.high;
    return true;
}

std::string trim_whitespace(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t length = sequence_length(static_cast<unsigned char>(text[begin]));
        if (begin + length > text.size() || !is_white_space(decode_at(text, begin, length))) break;
        begin += length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && is_continuation(static_cast<unsigned char>(text[start]))) --start;
        if (!is_white_space(decode_at(text, start, end - start))) break;
        end = start;
    }
    return std::string(text.substr(begin, end - begin));
}

std::size_t complete_utf8_prefix_length(std::string_view bytes) noexcept {
    std::size_t start = bytes.size();
    // Find the start of the last character, at most three continuation bytes back.
    while (start > 0 && bytes.size() - start < 4 && is_continuation(static_cast<unsigned char>(bytes[start - 1])))
        --start;
    if (start == 0) return 0;
    --start;
    std::size_t length = sequence_length(static_cast<unsigned char>(bytes[start]));
    return start + length <= bytes.size() ? bytes.size() : start;
}

}  // namespace velmora
