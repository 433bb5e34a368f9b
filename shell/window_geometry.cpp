#include "window_geometry.h"

#include <algorithm>

namespace velmora {

WindowGeometry window_geometry(std::optional<Size> visible_area) {
    Size content = kContentWithoutScreen;
    if (visible_area) {
        content = {std::min(visible_area->width, kPreferredContent.width),
                   std::min(visible_area->height, kPreferredContent.height)};
    }
    Size minimum{std::min(content.width, kPreferredMinimum.width), std::min(content.height, kPreferredMinimum.height)};
    return {content, minimum};
}

}  // namespace velmora
