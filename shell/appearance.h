#pragma once

#include <optional>
#include <string_view>

namespace velmora {

// The desktop's look as the page needs it: a dark or light palette and a
// text scale that becomes the web view's zoom.

// GNOME's "color-scheme" ("prefer-dark", "prefer-light", "default"), when
// its settings schema is installed, decides; "default" and anything else
// leave it to GTK: its dark-theme preference, or a theme named "…-dark" or
// "…:dark".
bool dark_preferred(std::optional<std::string_view> gnome_color_scheme, bool gtk_prefer_dark,
                    std::string_view gtk_theme_name);

// GTK's text scaling factor from its "gtk-xft-dpi" (1024ths of a dot per
// inch; 96 dpi is 1.0). Unset or nonsense values mean 1.0; the result is
// kept between 0.5 and 3.
double text_scale_from_xft_dpi(int xft_dpi);

}  // namespace velmora
