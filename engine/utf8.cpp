#include "utf8.h"

#include <cstdint>

namespace velmora {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed sequence at `i`, or 0 with `consumed` set to the
// bytes that belong to the broken sequence (at least 1).
std::size_t sequence_at(std::string_view bytes, std::size_t i, std::size_t& consumed) {
    const auto lead = static_cast<std::uint8_t>(bytes[i]);
    consumed = 1;
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    std::uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= bytes.size()) return 0;
        const auto byte = static_cast<std::uint8_t>(bytes[i + k]);
        const bool fits = k == 1 ? (byte >= low && byte <= high) : (byte >= 0x80 && byte <= 0xBF);
        if (!fits) return 0;
        consumed = k + 1;
    }
    return length;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t consumed = 0;
        const std::size_t length = sequence_at(bytes, i, consumed);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string utf8_lossy(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t consumed = 0;
        const std::size_t length = sequence_at(bytes, i, consumed);
        if (length == 0) {
            text += kReplacement;
            i += consumed;
        } else {
            text.append(bytes.substr(i, length));
            i += length;
        }
    }
    return text;
}

}  // namespace velmora
