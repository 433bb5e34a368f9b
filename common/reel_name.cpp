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

// The length of the valid UTF-8 sequence at `at`, or 0 for an invalid byte.
std::size_t sequence_length(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (at + length > text.size() || !is_valid_utf8(text.substr(at, length))) return 0;
    return length;
}

}  // namespace

bool is_valid_reel_name(std::string_view text) {
    if (text.empty() || text.size() > kReelNameLimit) return false;
    return is_valid_utf8(text) && !has_control_character(text);
}

std::string reel_from_name(std::string_view text) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequence_length(text, at);
        if (length == 0) {
            ++at;
            continue;
        }
        const auto character = text.substr(at, length);
        at += length;
        if (has_control_character(character)) continue;
        if (out.size() + length > kReelNameLimit) break;
        out.append(character);
    }
    return out;
}

std::string_view reel_folder_name(std::string_view path) {
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    const auto folder = path.substr(0, slash);
    const auto start = folder.rfind('/');
    return start == std::string_view::npos ? folder : folder.substr(start + 1);
}

std::optional<std::string> reel_for(const ReelFacts& movie, const ReelSettings& settings) {
    std::string_view name;
    if (settings.reel_source == "custom") {
        name = settings.reel;
    } else if (settings.reel_source == "card") {
        name = movie.card && !movie.card->empty() ? std::string_view(*movie.card) : reel_folder_name(movie.path);
    } else if (settings.reel_source == "folder") {
        name = reel_folder_name(movie.path);
    } else if (settings.source == "embedded" && movie.reel) {
        name = *movie.reel;
    }
    auto reel = reel_from_name(name);
    if (reel.empty()) return std::nullopt;
    return reel;
}

}  // namespace velmora
