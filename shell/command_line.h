#pragma once

#include <optional>
#include <string>
#include <vector>

#include "resources_folder.h"
#include "result.h"

namespace velmora {

struct CommandLine {
    std::optional<std::string> resources;  // --resources DIR
    bool page_console = false;             // --page-console: the page's console lines go to standard output
    std::vector<std::string> rest;         // everything else, program name first, for the toolkit
};

// Takes out the shell's own options; the toolkit sees the rest (files to
// open among them).
Result<CommandLine> parse_command_line(const std::vector<std::string>& arguments);

}  // namespace velmora
