#include <cstdio>

#include "application.h"
#include "command_line.h"
#include "navigation.h"
#include "platform.h"

namespace {

std::string resources_folder(const velmora::CommandLine& line) {
    if (line.resources) return velmora::canonical_path(*line.resources).value_or(*line.resources);
    return velmora::find_resources(velmora::platform::executable_path().value_or("Velmora"));
}

}  // namespace

int main(int argc, char** argv) {
    // A write to a backend that has died must fail, not end the shell.
    velmora::platform::ignore_broken_pipe();
    auto line = velmora::parse_command_line(std::vector<std::string>(argv, argv + argc));
    if (!line) {
        std::fprintf(stderr, "Velmora: %s\n", line.error().c_str());
        return 2;
    }
    velmora::ApplicationDelegate application(resources_folder(*line), line->page_console);
    return application.run(line->rest);
}
