#include "drag_events.h"

#include "bridge.h"
#include "names.h"

namespace velmora {

std::optional<DropEvent> drag_entered(const std::vector<std::string>& paths) {
    if (paths.empty()) return std::nullopt;
    return DropEvent{page_event::kDragEnter, paths};
}

DropEvent drag_left() { return DropEvent{page_event::kDragLeave, {}}; }

std::optional<DropEvent> drag_dropped(const std::vector<std::string>& paths) {
    if (paths.empty()) return std::nullopt;
    return DropEvent{page_event::kDragDrop, paths};
}

}  // namespace velmora
