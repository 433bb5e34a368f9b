#include "window_memory.h"

#include <algorithm>

#include "file_system.h"
#include "json_text.h"

namespace velmora {

namespace {

constexpr int kLargestSide = 100000;

std::optional<int> side(const Json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_number_integer()) return std::nullopt;
    auto value = found->get<long long>();
    if (value < 1 || value > kLargestSide) return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace

std::optional<std::string> window_memory_folder(const char* home) {
    if (home == nullptr || *home == '\0') return std::nullopt;
    return data_folder(home);
}

std::optional<Size> parse_window_memory(std::string_view text) {
    auto value = parse_json(text);
    if (!value || !value->is_object()) return std::nullopt;
    auto width = side(*value, "width");
    auto height = side(*value, "height");
    if (!width || !height) return std::nullopt;
    return Size{*width, *height};
}

std::string window_memory_text(Size size) {
    return Json{{"width", size.width}, {"height", size.height}}.dump(2) + "\n";
}

Size restored_size(std::optional<Size> remembered, const WindowGeometry& geometry, std::optional<Size> visible_area) {
    if (!remembered) return geometry.content;
    Size largest = visible_area.value_or(Size{kLargestSide, kLargestSide});
    largest = {std::max(largest.width, geometry.minimum.width), std::max(largest.height, geometry.minimum.height)};
    return {std::clamp(remembered->width, geometry.minimum.width, largest.width),
            std::clamp(remembered->height, geometry.minimum.height, largest.height)};
}

std::optional<Size> load_window_memory(const std::string& folder) {
    // A window size is a few bytes; more is not a file of ours.
    const auto text = read_file(join_path(folder, kWindowMemoryName), 4096);
    if (!text) return std::nullopt;
    return parse_window_memory(*text);
}

Status save_window_memory(const std::string& folder, Size size) {
    return write_file_atomically(join_path(folder, kWindowMemoryName), window_memory_text(size), 0666);
}

}  // namespace velmora
