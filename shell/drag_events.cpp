#include "drag_events.h"

#include "bridge.h"

namespace velmora {

std::optional<DropEvent> drag_entered(const std::vector<std::string>& paths) {
    if (paths.empty()) return std::nullopt;
    return DropEvent{kDragEnter, paths};
}

DropEvent drag_left() { return DropEvent{kDragLeave, {}}; }

std::optional<DropEvent> drag_dropped(const std::vector<std::string>& paths) {
    if (paths.empty()) return std::nullopt;
    return DropEvent{kDragDrop, paths};
}

}  // namespace velmora
