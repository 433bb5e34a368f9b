#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "result.h"
#include "window_geometry.h"

namespace velmora {

// The window's size is remembered between runs in "window.json" in the data
// folder, beside the backend's "settings.json".
inline constexpr std::string_view kWindowMemoryName = "window.json";

// The data folder under HOME, or nothing without HOME.
std::optional<std::string> window_memory_folder(const char* home);

// {"height":H,"width":W} with both in 1..100000; anything else is forgotten.
std::optional<Size> parse_window_memory(std::string_view text);
std::string window_memory_text(Size size);

// A remembered size never goes below the minimum nor beyond the screen.
Size restored_size(std::optional<Size> remembered, const WindowGeometry& geometry, std::optional<Size> visible_area);

std::optional<Size> load_window_memory(const std::string& folder);
// Written as a new file beside the old one, flushed, then renamed over it.
Status save_window_memory(const std::string& folder, Size size);

}  // namespace velmora
