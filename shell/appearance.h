#pragma once

#include <optional>
#include <string_view>

namespace velmora {

// The desktop's look as the page needs it: a dark or light palette. (GTK's
// text scaling factor needs nothing from us: WebKitGTK zooms the page by
// gtk-xft-dpi itself, live, and the page's rem sizes follow.)

// GNOME's "color-scheme" ("prefer-dark", "prefer-light", "default"), when
// its settings schema is installed, decides; "default" and anything else
// leave it to GTK: its dark-theme preference, or a theme named "…-dark" or
// "…:dark".
bool dark_preferred(std::optional<std::string_view> gnome_color_scheme, bool gtk_prefer_dark,
                    std::string_view gtk_theme_name);

}  // namespace velmora
