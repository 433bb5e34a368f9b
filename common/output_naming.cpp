#include "output_naming.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "utf8.h"

namespace velmora {
namespace {

constexpr char32_t replacement_character = 0xFFFD;

// One decoded scalar value and the bytes it took; malformed input yields
// U+FFFD for the longest prefix that could have started a valid sequence.
struct Decoded {
    char32_t value;
    std::size_t length;
};

Decoded decode_one(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    char32_t value = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {replacement_character, 1};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (at + i >= text.size()) return {replacement_character, i};
        const std::uint8_t next = byte(at + i);
        const std::uint8_t lower = i == 1 ? low : std::uint8_t{0x80};
        const std::uint8_t upper = i == 1 ? high : std::uint8_t{0xBF};
        if (next < lower || next > upper) return {replacement_character, i};
        value = (value << 6) | (next & 0x3Fu);
    }
    return {value, length};
}

std::vector<Decoded> decode(std::string_view text) {
    std::vector<Decoded> out;
    for (std::size_t at = 0; at < text.size();) {
        const Decoded one = decode_one(text, at);
        out.push_back(one);
        at += one.length;
    }
    return out;
}

// The Unicode White_Space property.
bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool is_forbidden_in_prefix(char32_t c) {
    constexpr std::array<char32_t, 9> forbidden{U'<', U'>', U':', U'"', U'/', U'\\', U'|', U'?', U'*'};
    if (c < 0x20) return true;
    for (const char32_t f : forbidden) {
        if (c == f) return true;
    }
    return false;
}

std::string three_digit_number(std::size_t value) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%03zu", value);
    return text.data();
}

}  // namespace

NameParts split_file_name(std::string_view file_name) {
    const std::size_t dot = file_name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {std::string(file_name), {}};
    return {std::string(file_name.substr(0, dot)), std::string(file_name.substr(dot + 1))};
}

Result<std::string> checked_prefix(std::string_view prefix) {
    const std::vector<Decoded> characters = decode(prefix);
    std::size_t first = 0;
    std::size_t last = characters.size();
    while (first < last && is_white_space(characters[first].value)) ++first;
    while (last > first && is_white_space(characters[last - 1].value)) --last;
    if (last - first > max_prefix_characters) return fail(std::string(prefix_message));
    std::size_t begin_byte = 0;
    for (std::size_t i = 0; i < first; ++i) begin_byte += characters[i].length;
    std::size_t length = 0;
    for (std::size_t i = first; i < last; ++i) {
        if (is_forbidden_in_prefix(characters[i].value)) return fail(std::string(prefix_message));
        length += characters[i].length;
    }
    return std::string(prefix.substr(begin_byte, length));
}

Result<std::string> output_file_name(std::string_view source_name, const OutputOptions& options, std::size_t position) {
    const NameParts parts = split_file_name(source_name);
    if (!options.rename) return parts.stem + options.suffix + "." + parts.extension;
    auto prefix = checked_prefix(options.prefix);
    if (!prefix) return fail(prefix.error());
    std::string name = *prefix + parts.stem;
    if (options.number) name += "_" + three_digit_number(position + 1);
    return name + "." + parts.extension;
}

bool is_valid_suffix(std::string_view suffix) {
    return suffix.size() <= max_suffix_bytes && suffix.find('/') == std::string_view::npos &&
           suffix.find('\0') == std::string_view::npos;
}

std::string numbered_file_name(std::string_view name, std::size_t n) {
    const NameParts parts = split_file_name(name);
    const bool dotted = !parts.extension.empty() || (!name.empty() && name.back() == '.' && name.size() > 1);
    return parts.stem + " " + std::to_string(n) + (dotted ? "." + parts.extension : std::string());
}

bool empty_suffix_beside_source(const std::filesystem::path& folder, const std::filesystem::path& source,
                                const OutputOptions& options) {
    return options.copy && !options.rename && options.suffix.empty() && (folder / "") == (source.parent_path() / "");
}

Result<std::filesystem::path> output_folder_for(const std::filesystem::path& source, std::string_view relative_dir,
                                                std::string_view card, const OutputOptions& options) {
    if (!source.has_relative_path() || !source.has_parent_path()) return fail("Invalid source path");
    const std::filesystem::path source_folder = source.parent_path();
    if (!options.copy) return source_folder;
    if (!options.destination) return source_folder / default_output_folder_name;
    std::filesystem::path folder = *options.destination;
    if (!options.retain) return folder;
    if (!card.empty()) folder /= std::filesystem::path(card);
    if (!relative_dir.empty()) folder /= std::filesystem::path(relative_dir);
    return folder;
}

std::string temporary_file_name(std::string_view token, std::string_view source_name, std::size_t name_limit) {
    const std::string fixed = ".velmora-" + std::string(token) + ".";
    std::string name = decode_utf8_lossy(source_name);
    if (fixed.size() + name.size() > name_limit) {
        const std::size_t room = name_limit > fixed.size() ? name_limit - fixed.size() : 0;
        name.resize(complete_utf8_prefix_length(std::string_view(name).substr(0, room)));
    }
    return fixed + name;
}

std::string backup_path_for(std::string_view source_path, std::string_view token, std::size_t name_limit) {
    const std::string fixed = ".velmora-backup-" + std::string(token);
    const std::size_t slash = source_path.rfind('/');
    const std::size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
    std::string_view name = source_path.substr(name_start);
    if (fixed.size() + name.size() > name_limit) {
        const std::size_t room = name_limit > fixed.size() ? name_limit - fixed.size() : 0;
        name = name.substr(0, complete_utf8_prefix_length(name.substr(0, room)));
    }
    return std::string(source_path.substr(0, name_start)) + std::string(name) + fixed;
}

bool is_own_working_file(std::string_view file_name) {
    return file_name.starts_with(".velmora-") || file_name.find(".velmora-backup-") != std::string_view::npos;
}

}  // namespace velmora
