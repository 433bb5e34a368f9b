#include "appearance.h"

namespace velmora {

namespace {

bool ends_with(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

bool dark_preferred(std::optional<std::string_view> gnome_color_scheme, bool gtk_prefer_dark,
                    std::string_view gtk_theme_name) {
    if (gnome_color_scheme == "prefer-dark") return true;
    if (gnome_color_scheme == "prefer-light") return false;
    return gtk_prefer_dark || ends_with(gtk_theme_name, "-dark") || ends_with(gtk_theme_name, ":dark");
}

}  // namespace velmora
