#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

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

// Where the resources folder may be, relative to the executable: the build
// tree's "resources" beside the shell's folder, then the installed layout.
std::vector<std::string> resource_candidates(const std::string& executable);

// The first candidate holding the backend, else the first one at all (the
// launch then fails with a message that names what is missing).
std::string choose_resources(const std::vector<std::string>& candidates,
                             const std::function<bool(const std::string&)>& exists);

}  // namespace velmora
