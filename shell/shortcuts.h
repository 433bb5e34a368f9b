#pragma once

#include <span>
#include <string>

namespace velmora {

// One key of the window, as the Keyboard Shortcuts window lists it.
struct Shortcut {
    const char* group;
    const char* title;
    const char* accelerator;  // GTK's accelerator syntax, "<Control>o"
};

// Every key the window answers: the menu's, the page's and the focus chain's.
std::span<const Shortcut> window_shortcuts();

// The GtkBuilder text of a GtkShortcutsWindow with the id "shortcuts" that
// lists `shortcuts` in groups, in their order.
std::string shortcuts_window_ui(std::span<const Shortcut> shortcuts);

}  // namespace velmora
