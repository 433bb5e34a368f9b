#include "utf8.h"

#include <utility>

namespace velmora {

namespace {

struct LeadRule {
    std::size_t length = 0;  // 0: not a lead byte
    unsigned char low = 0x80;
    unsigned char high = 0xBF;  // allowed range of the second byte
};

LeadRule rule_for(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
    if (lead == 0xE0) return {3, 0xA0, 0xBF};  // no overlong forms
    if (lead == 0xED) return {3, 0x80, 0x9F};  // no surrogates
    if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
    if (lead == 0xF0) return {4, 0x90, 0xBF};  // no overlong forms
    if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
    if (lead == 0xF4) return {4, 0x80, 0x8F};  // nothing above U+10FFFF
    return {};
}

// Bytes of the longest prefix of a well-formed sequence starting at `at`
// (at least 1), and whether that prefix is the complete sequence.
std::pair<std::size_t, bool> scan_sequence(std::string_view bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (byte(at) < 0x80) return {1, true};
    const LeadRule rule = rule_for(byte(at));
    if (rule.length == 0) return {1, false};
    std::size_t length = 1;
    while (length < rule.length && at + length < bytes.size()) {
        const unsigned char next = byte(at + length);
        const bool fits = length == 1 ? next >= rule.low && next <= rule.high : (next & 0xC0) == 0x80;
        if (!fits) break;
        ++length;
    }
    return {length, length == rule.length};
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

std::size_t count_scalar_values(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    }
    return count;
}

std::string decode_utf8_lossy(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        // An invalid sequence becomes one U+FFFD for its longest valid prefix.
        const auto [length, complete] = scan_sequence(bytes, at);
        if (complete) {
            text.append(bytes.substr(at, length));
        } else {
            text.append("\xEF\xBF\xBD");
        }
        at += length;
    }
    return text;
}

}  // namespace velmora
