#include "resources_folder.h"

#include <filesystem>

#include "paths.h"

namespace velmora {

std::vector<std::string> resource_candidates(const std::string& executable) {
    const auto folder = folder_of(executable);
    const auto above = folder_of(folder);
    return {
        above + "/resources",                // build tree: build/shell/Velmora, build/cli/velmora, build/resources
        above + "/share/velmora/resources",  // installed: PREFIX/bin/Velmora
        above + "/lib/velmora/resources",    // installed: PREFIX/bin/velmora beside PREFIX/lib/velmora
        folder + "/resources",               // a folder carried around as one piece, PREFIX/lib/velmora/Velmora
    };
}

std::string choose_resources(const std::vector<std::string>& candidates,
                             const std::function<bool(const std::string&)>& exists) {
    for (const auto& candidate : candidates) {
        if (exists(candidate + "/bin/velmora-mac-backend")) return candidate;
    }
    return candidates.empty() ? std::string("resources") : candidates.front();
}

std::string find_resources(const std::string& executable) {
    auto folder = choose_resources(resource_candidates(executable), [](const std::string& path) {
        std::error_code error;
        return std::filesystem::exists(path, error);
    });
    return canonical_path(folder).value_or(folder);
}

}  // namespace velmora
