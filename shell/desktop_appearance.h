#pragma once

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <functional>

namespace velmora {

// Follows the desktop's colour scheme while the application runs. GTK 4 without libadwaita does not follow GNOME's
// "color-scheme" itself, so its dark preference is set from it; WebKit takes the page's prefers-color-scheme from that
// preference.
class DesktopAppearance {
public:
    struct Look {
        bool dark = false;
    };

    explicit DesktopAppearance(std::function<void(const Look&)> on_change);
    DesktopAppearance(const DesktopAppearance&) = delete;
    DesktopAppearance& operator=(const DesktopAppearance&) = delete;
    ~DesktopAppearance();

    const Look& look() const { return look_; }

private:
    static void on_gtk_setting(GObject*, GParamSpec* property, gpointer self);
    static void on_color_scheme(GSettings*, const char*, gpointer self);
    void update();

    std::function<void(const Look&)> on_change_;
    GtkSettings* gtk_ = nullptr;
    GSettings* gnome_ = nullptr;    // absent without GNOME's schema
    bool gtk_prefer_dark_ = false;  // GTK's own preference, before ours
    bool applying_ = false;
    Look look_;
};

}  // namespace velmora
