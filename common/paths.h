#pragma once

// Paths are raw bytes: std::string holds them unconverted.

#include <string>
#include <string_view>

#include "result.h"

namespace velmora {

// `relative` appended to `base` with one "/" between them.
std::string join_path(std::string_view base, std::string_view relative);
// Text before the last "/" ("" when there is none, "/" for a top-level
// entry); trailing "/" are passed over first.
std::string parent_folder(std::string_view path);
// The folder a file named `path` is created in: the text before the last
// "/" as given, "." when there is none, "/" for a top-level entry.
std::string folder_of(std::string_view path);
// Text after the last "/".
std::string_view last_component(std::string_view path);
// `path` with the extension of its last component (after its last dot, if
// that dot is not the first character) replaced by `extension`, or with "."
// and `extension` appended when it has none.
std::string with_extension(std::string_view path, std::string_view extension);
// Where the programs keep what they remember for the user (the backend's
// settings, the shell's window size): HOME/Library/Application Support/Velmora.
std::string data_folder(std::string_view home);
// The absolute path without links, "." or ".."; the system's error text
// when `path` cannot be resolved.
Result<std::string> canonical_path(const std::string& path);

}  // namespace velmora
