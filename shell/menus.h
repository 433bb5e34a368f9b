#pragma once

#include <gtk/gtk.h>

#include <string_view>

namespace velmora {

// What the menu items and their keys do, supplied by the application.
class MenuHost {
public:
    virtual ~MenuHost() = default;
    virtual void evaluate(std::string_view script) = 0;
    // One of WebKit's editing commands, on the page's focused text.
    virtual void edit(const char* command) = 0;
    virtual void show_about() = 0;
    virtual void show_shortcuts() = 0;
    virtual void request_report() = 0;
    virtual void quit_requested() = 0;
};

// Adds the application's actions and keys to `app`, exports the primary menu
// and returns it; the caller owns the reference. `host` outlives `app`'s
// actions. Cancel starts disabled.
GMenu* install_menus(GtkApplication* app, MenuHost& host);

// Cancel is offered in the menu only while a batch runs.
void enable_cancel(GtkApplication* app, bool enabled);

}  // namespace velmora
