#include "navigation.h"

#include <utility>

namespace velmora {

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> percent_decoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        int high = hex_digit(text[i + 1]);
        int low = hex_digit(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    // A decoded NUL would cut the path short in every system call.
    if (out.find('\0') != std::string::npos) return std::nullopt;
    return out;
}

}  // namespace

std::optional<std::string> resolve_links(const std::string& path) {
    auto resolved = canonical_path(path);
    if (!resolved) return std::nullopt;
    return std::move(*resolved);
}

std::optional<std::string> file_url_path(std::string_view url) {
    constexpr std::string_view scheme = "file://";
    if (url.size() < scheme.size()) return std::nullopt;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        char c = url[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != scheme[i]) return std::nullopt;
    }
    url.remove_prefix(scheme.size());
    auto slash = url.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    auto host = url.substr(0, slash);
    if (!host.empty() && host != "localhost") return std::nullopt;
    auto path = url.substr(slash);
    if (auto end = path.find_first_of("?#"); end != std::string_view::npos) path = path.substr(0, end);
    return percent_decoded(path);
}

bool file_url_inside(std::string_view url, const std::string& folder, const PathResolver& resolve) {
    auto path = file_url_path(url);
    if (!path) return false;
    auto resolved = resolve(*path);
    if (!resolved) return false;
    return resolved->starts_with(folder + "/");
}

bool navigation_allowed(std::optional<std::string_view> url, bool targets_main_frame, const std::string& ui_folder,
                        const PathResolver& resolve) {
    if (!url) return false;
    bool allowed = *url == "about:blank" || file_url_inside(*url, ui_folder, resolve);
    return allowed && targets_main_frame;
}

}  // namespace velmora
