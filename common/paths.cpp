#include "paths.h"

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace velmora {

std::string join_path(std::string_view base, std::string_view relative) {
    if (base.empty()) return std::string(relative);
    if (base.back() == '/') return std::string(base) + std::string(relative);
    return std::string(base) + "/" + std::string(relative);
}

std::string parent_folder(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string folder_of(std::string_view path) {
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string_view last_component(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string with_extension(std::string_view path, std::string_view extension) {
    const std::string_view name = last_component(path);
    const auto dot = name.rfind('.');
    std::string result(path);
    if (dot != std::string_view::npos && dot != 0) {
        result.resize(path.size() - name.size() + dot);
    }
    return result + "." + std::string(extension);
}

std::string data_folder(std::string_view home) {
    return join_path(join_path(home, "Library/Application Support"), "Velmora");
}

Result<std::string> canonical_path(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return fail(system_error_text(errno));
    return std::string(resolved.get());
}

}  // namespace velmora
