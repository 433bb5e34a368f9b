#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "result.h"

namespace velmora {

// The settings that decide where a batch publishes and under which names.
struct OutputOptions {
    bool copy = false;                       // new file in an output folder; else in place
    bool append = false;                     // in place without a copy: only when `copy` is off
    std::optional<std::string> destination;  // a non-empty folder chosen by the user
    bool retain = false;
    bool rename = false;
    std::string prefix;
    bool number = false;
    std::string suffix{"_TC"};     // after the stem when not renamed
    bool number_existing = false;  // "existing": "number"; else "skip"
};

inline constexpr std::string_view default_output_folder_name = "Velmora Output";
inline constexpr std::size_t max_prefix_characters = 100;  // Unicode scalar values
inline constexpr std::string_view prefix_message =
    "Use a filename prefix without special characters (up to 100 characters).";
inline constexpr std::string_view empty_suffix_message =
    "An empty suffix needs an output folder other than the movie's own folder.";
inline constexpr std::size_t max_suffix_bytes = 16;

// 0 to 16 bytes without "/" or NUL.
bool is_valid_suffix(std::string_view suffix);

struct NameParts {
    std::string stem;
    std::string extension;  // empty when the name has no dot after its first byte
};
NameParts split_file_name(std::string_view file_name);

// The prefix with Unicode white space trimmed, or the prefix message when it
// is too long or holds a control or forbidden character.
Result<std::string> checked_prefix(std::string_view prefix);

// The published file name of a new-file batch; position is 0-based. Not
// renamed: stem, suffix, "." and extension; renamed: the prefix rule, which
// ignores the suffix so that stored settings keep naming files as before.
Result<std::string> output_file_name(std::string_view source_name, const OutputOptions& options, std::size_t position);

// `name` with " N" before its extension: the N-th name tried when the first
// is taken.
std::string numbered_file_name(std::string_view name, std::size_t n);

// The folder that receives the output, before it is created or resolved.
// "retain" only applies below a chosen destination: the default folder
// already sits beside each source, inside its relative folder. A movie found
// in a folder the user gave goes below that folder's own name (`card`), so
// that two cards with the same layout never meet.
Result<std::filesystem::path> output_folder_for(const std::filesystem::path& source, std::string_view relative_dir,
                                                std::string_view card, const OutputOptions& options);

// True when a new file would keep the source's own name in the source's own
// folder because the suffix is empty: such a movie is refused.
bool empty_suffix_beside_source(const std::filesystem::path& folder, const std::filesystem::path& source,
                                const OutputOptions& options);

// The longest file name most file systems take (NAME_MAX on Linux and macOS).
inline constexpr std::size_t default_name_limit = 255;

// ".velmora-TOKEN.NAME" with the name decoded lossily to UTF-8 and, where the
// whole would exceed `name_limit` bytes, cut at a character boundary so that
// it fits: a long source name must not make its own temporary file illegal.
std::string temporary_file_name(std::string_view token, std::string_view source_name,
                                std::size_t name_limit = default_name_limit);
// "SOURCE.velmora-backup-TOKEN", where SOURCE is the source's own file name,
// its bytes unchanged, cut at a character boundary where the whole name
// would exceed `name_limit` bytes: a long name must not keep its movie from
// being replaced in place.
std::string backup_path_for(std::string_view source_path, std::string_view token,
                            std::size_t name_limit = default_name_limit);
// A name this program gives its own files: a backup, or a hidden temporary.
bool is_own_working_file(std::string_view file_name);

}  // namespace velmora
