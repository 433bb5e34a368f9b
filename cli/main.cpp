#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "arguments.h"
#include "backend_client.h"
#include "commands.h"
#include "resources_folder.h"

namespace {

std::string executable_path(const char* fallback) {
    std::error_code error;
    auto link = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(fallback) : link.string();
}

int usage_error(const std::string& message) {
    std::fprintf(stderr, "velmora: %s\n", message.c_str());
    std::fputs(std::string(velmora::cli::kSynopsis).c_str(), stderr);
    return velmora::cli::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace velmora::cli;
    auto arguments = parse_arguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!arguments) return usage_error(arguments.error());
    if (arguments->verb == Verb::kVersion) {
        std::puts("velmora " VELMORA_VERSION);
        return kExitDone;
    }
    if (arguments->verb == Verb::kHelp || arguments->help_for) {
        std::fputs(std::string(help_text(arguments->help_for)).c_str(), stdout);
        return kExitDone;
    }
    const auto resources = velmora::find_resources(executable_path(argv[0]));
    if (arguments->verb == Verb::kWindow) return run_window(*arguments, resources);
    if (auto caught = catch_interrupts(); !caught) {
        std::fprintf(stderr, "velmora: %s\n", caught.error().c_str());
        return kExitFailed;
    }
    if (arguments->verb == Verb::kProbe) return run_probe(*arguments, resources);
    if (arguments->verb == Verb::kRestore) return run_restore(*arguments, resources);
    return run_stamp(*arguments, resources);
}
