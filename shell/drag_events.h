#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// One event for the page, produced by a drag over the web view.
struct DropEvent {
    std::string_view name;
    std::vector<std::string> paths;
    bool operator==(const DropEvent&) const = default;
};

// A drag without files is refused and raises nothing; leaving always tells
// the page, so that it can drop its highlight.
std::optional<DropEvent> drag_entered(const std::vector<std::string>& paths);
DropEvent drag_left();
std::optional<DropEvent> drag_dropped(const std::vector<std::string>& paths);

}  // namespace velmora
