#pragma once

// The command line of `velmora`: which command, its paths, and the settings
// it changes for this run, named as the settings object names them.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "result.h"

namespace velmora::cli {

enum class Verb { kProbe, kStamp, kRestore, kWindow, kHelp, kVersion };

struct Arguments {
    Verb verb = Verb::kHelp;
    std::optional<Verb> help_for;  // `velmora COMMAND --help`
    std::vector<std::string> paths;
    bool json = false;
    bool dry_run = false;
    bool defaults = false;  // the default settings, not the saved ones
    bool progress = false;  // a progress line even when standard error is no terminal
    std::optional<std::string> report;
    nlohmann::json changes = nlohmann::json::object();  // settings members to override
};

inline constexpr std::string_view kSynopsis =
    "Usage: velmora probe [--json] PATH...\n"
    "       velmora stamp [options] PATH...\n"
    "       velmora restore PATH...\n"
    "       velmora window [PATH...]\n"
    "       velmora --version | --help | COMMAND --help\n";

// The text `--help` prints for a command (the synopsis for none).
std::string_view help_text(std::optional<Verb> verb);

// argv without the program name; a usage error as a one-line message.
Result<Arguments> parse_arguments(const std::vector<std::string>& arguments);

}  // namespace velmora::cli
