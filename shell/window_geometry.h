#pragma once

#include <optional>

namespace velmora {

struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};

struct WindowGeometry {
    Size content;
    Size minimum;
    bool operator==(const WindowGeometry&) const = default;
};

inline constexpr Size kPreferredContent{1280, 940};
inline constexpr Size kContentWithoutScreen{1280, 900};
inline constexpr Size kPreferredMinimum{1000, 620};

// The window fits the screen's visible area and never asks for a minimum
// larger than itself.
WindowGeometry window_geometry(std::optional<Size> visible_area);

}  // namespace velmora
