#include "reel_name.h"

#include <algorithm>

#include "utf8.h"

namespace velmora {

namespace {

// C1 controls (U+0080 to U+009F) are the two-byte sequences C2 80 to C2 9F.
bool has_control_character(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F) return true;
        if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F) return true;
    }
    return false;
}

}  // namespace

bool is_valid_reel_name(std::string_view text) {
    if (text.empty() || text.size() > kReelNameLimit) return false;
    return is_valid_utf8(text) && !has_control_character(text);
}

}  // namespace velmora
