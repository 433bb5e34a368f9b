#include "output_naming.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "utf8.h"

namespace velmora {
namespace {

std::vector<Utf8Character> decode(std::string_view text) {
    std::vector<Utf8Character> out;
    for (std::size_t at = 0; at < text.size(); at += out.back().length) out.push_back(character_at(text, at));
    return out;
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
    const std::vector<Utf8Character> characters = decode(prefix);
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
