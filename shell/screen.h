#pragma once

#include <optional>

#include "window_geometry.h"

namespace velmora {

// The visible area of the first monitor (the work area on X11); nothing
// when there is no monitor at all.
std::optional<Size> visible_area();

}  // namespace velmora
