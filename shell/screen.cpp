// Kept apart: the X11 headers define macros such as Status and None that
// would rewrite our own names in any file that includes them.
#include "screen.h"

#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/x11/gdkx.h>
#endif

namespace velmora {

std::optional<Size> visible_area() {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) return std::nullopt;
    GListModel* monitors = gdk_display_get_monitors(display);
    if (g_list_model_get_n_items(monitors) == 0) return std::nullopt;
    auto* monitor = GDK_MONITOR(g_list_model_get_item(monitors, 0));
    GdkRectangle area{};
#ifdef GDK_WINDOWING_X11
    if (GDK_IS_X11_MONITOR(monitor)) {
        gdk_x11_monitor_get_workarea(monitor, &area);
    } else
#endif
    {
        gdk_monitor_get_geometry(monitor, &area);
    }
    g_object_unref(monitor);
    if (area.width <= 0 || area.height <= 0) return std::nullopt;
    return Size{area.width, area.height};
}

}  // namespace velmora
