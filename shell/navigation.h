#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "paths.h"

namespace velmora {

// Resolves symbolic links; nothing when the path does not exist.
using PathResolver = std::function<std::optional<std::string>(const std::string&)>;
// The real one: the canonical path, the failure's reason dropped.
std::optional<std::string> resolve_links(const std::string& path);

// The local path of a "file:" URL (empty or "localhost" host, percent escapes
// decoded, query and fragment dropped); nothing for any other URL.
std::optional<std::string> file_url_path(std::string_view url);

// True when the URL is a file inside `folder` (itself already resolved) once
// its symbolic links are resolved. The folder itself is not inside.
bool file_url_inside(std::string_view url, const std::string& folder, const PathResolver& resolve);

// The page may only move to "about:blank" or to files inside its own folder,
// and never inside a sub-frame.
bool navigation_allowed(std::optional<std::string_view> url, bool targets_main_frame, const std::string& ui_folder,
                        const PathResolver& resolve);

}  // namespace velmora
