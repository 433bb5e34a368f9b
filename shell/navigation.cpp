#include "navigation.h"

#include <memory>
#include <utility>

#include <glib.h>

namespace velmora {

namespace {

using GlibText = std::unique_ptr<gchar, decltype(&g_free)>;

// An escaped "/" is one more "/" to us; the library refuses it in a path.
std::string with_plain_slashes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && text[i + 1] == '2' && (text[i + 2] == 'F' || text[i + 2] == 'f')) {
            out.push_back('/');
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

}  // namespace

std::optional<std::string> resolve_links(const std::string& path) {
    auto resolved = canonical_path(path);
    if (!resolved) return std::nullopt;
    return std::move(*resolved);
}

std::optional<std::string> file_url_path(std::string_view url) {
    // The page's own links may carry a query or a fragment, which the library
    // would refuse or keep in the path.
    const std::string address = with_plain_slashes(url.substr(0, url.find_first_of("?#")));
    gchar* host = nullptr;
    // Refuses other schemes, bad or NUL escapes and invalid host names.
    GlibText path(g_filename_from_uri(address.c_str(), &host, nullptr), g_free);
    const GlibText host_text(host, g_free);
    if (!path) return std::nullopt;
    if (host_text && std::string_view(host_text.get()) != "localhost") return std::nullopt;
    return std::string(path.get());
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
