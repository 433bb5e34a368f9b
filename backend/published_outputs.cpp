#include "published_outputs.h"

#include <mutex>

namespace velmora {

std::string path_comparison_key(std::string_view path) {
    const bool absolute = path.starts_with('/');
    std::string key = absolute ? "/" : "";
    bool first = true;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        // A leading "." of a relative path is a component of its own.
        if (part.empty() || (part == "." && !(first && !absolute))) continue;
        if (!first) key += '/';
        key += part;
        first = false;
    }
    return key;
}

void record_published_output(ServiceState& state, const std::string& path) {
    std::lock_guard lock(state.published_outputs_mutex);
    state.published_outputs.insert(path_comparison_key(path));
}

bool is_published_output(ServiceState& state, const std::string& path) {
    const std::string key = path_comparison_key(path);
    std::lock_guard lock(state.published_outputs_mutex);
    return state.published_outputs.contains(key);
}

}  // namespace velmora
