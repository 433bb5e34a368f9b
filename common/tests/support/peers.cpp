#include "peers.h"

#include <algorithm>
#include <cstdlib>

#include <unistd.h>

namespace velmora::testing {

bool program_on_path(std::string_view name) {
    const char* path = std::getenv("PATH");
    const std::string_view folders = path != nullptr ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= folders.size();) {
        const std::size_t colon = std::min(folders.find(':', start), folders.size());
        const std::string_view folder = folders.substr(start, colon - start);
        if (!folder.empty() && ::access((std::string(folder) + "/" + std::string(name)).c_str(), X_OK) == 0)
            return true;
        start = colon + 1;
    }
    return false;
}

std::optional<std::string> missing_programs(std::initializer_list<std::string_view> names) {
    std::string missing;
    for (const std::string_view name : names) {
        if (program_on_path(name)) continue;
        missing += (missing.empty() ? "" : ", ") + std::string(name);
    }
    if (missing.empty()) return std::nullopt;
    return "not installed: " + missing;
}

bool peers_required() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0';
}

}  // namespace velmora::testing
