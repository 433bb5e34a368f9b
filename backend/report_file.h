#pragma once

// The batch report that the user saves: the page builds the text, this
// writes it like every other file the program makes.

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "result.h"

namespace velmora {

// Writes `text` to a hidden file created exclusively beside `path`, flushes
// it and only then gives it the name: without `replace` never over an
// existing file (the system's file-exists text), with it by renaming the
// complete new file over the old one. The hidden file never outlives a
// failure.
Status write_report_file(const std::string& path, std::string_view text, bool replace);

// "save_report" {"path": absolute path, "text", "replace": true to replace}.
// Answers null.
Result<nlohmann::json> save_report(const nlohmann::json& args);

}  // namespace velmora
