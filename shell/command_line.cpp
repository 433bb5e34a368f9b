#include "command_line.h"

#include <string_view>

namespace velmora {

namespace {

std::string parent_of(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

Result<CommandLine> parse_command_line(const std::vector<std::string>& arguments) {
    CommandLine line;
    constexpr std::string_view option = "--resources";
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        if (i > 0 && argument == "--") {
            line.rest.insert(line.rest.end(), arguments.begin() + static_cast<std::ptrdiff_t>(i), arguments.end());
            break;
        }
        if (i > 0 && argument == option) {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty()) return fail("--resources needs a folder");
            line.resources = arguments[++i];
        } else if (i > 0 && argument.starts_with("--resources=")) {
            auto value = argument.substr(option.size() + 1);
            if (value.empty()) return fail("--resources needs a folder");
            line.resources = std::string(value);
        } else if (i > 0 && argument == "--page-console") {
            line.page_console = true;
        } else {
            line.rest.emplace_back(argument);
        }
    }
    return line;
}

std::vector<std::string> resource_candidates(const std::string& executable) {
    const auto folder = parent_of(executable);
    const auto above = parent_of(folder);
    return {
        above + "/resources",                // build tree: build/shell/Velmora, build/resources
        above + "/share/velmora/resources",  // installed: PREFIX/bin/Velmora
        folder + "/resources",               // a folder carried around as one piece
    };
}

std::string choose_resources(const std::vector<std::string>& candidates,
                             const std::function<bool(const std::string&)>& exists) {
    for (const auto& candidate : candidates) {
        if (exists(candidate + "/bin/velmora-mac-backend")) return candidate;
    }
    return candidates.empty() ? std::string("resources") : candidates.front();
}

}  // namespace velmora
