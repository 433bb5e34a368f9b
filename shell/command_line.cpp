#include "command_line.h"

#include <string_view>

namespace velmora {

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

}  // namespace velmora
