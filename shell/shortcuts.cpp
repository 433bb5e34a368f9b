#include "shortcuts.h"

#include <array>
#include <string_view>

namespace velmora {

namespace {

// clang-format off
constexpr std::array kShortcuts = {
    Shortcut{"Movies", "Add movies", "<Control>o"},
    Shortcut{"Movies", "Add a folder", "<Shift><Control>o"},
    Shortcut{"Movies", "Select every row of the list", "<Control>a"},
    Shortcut{"Movies", "Remove the selected rows from the list", "Delete"},
    Shortcut{"Movies", "Next movie's start field", "Tab"},
    Shortcut{"Movies", "Use the derived start again, in a start field", "Escape"},
    Shortcut{"Processing", "Process", "<Control>Return"},
    Shortcut{"Processing", "Cancel processing", "Escape"},
    Shortcut{"Processing", "Save the report", "<Control>s"},
    Shortcut{"Moving around", "Next control", "Tab"},
    Shortcut{"Moving around", "Previous control", "<Shift>Tab"},
    Shortcut{"Moving around", "Between the header bar and the page", "F6"},
    Shortcut{"Moving around", "Main menu", "F10"},
    Shortcut{"Text fields", "Undo", "<Control>z"},
    Shortcut{"Text fields", "Cut", "<Control>x"},
    Shortcut{"Text fields", "Copy", "<Control>c"},
    Shortcut{"Text fields", "Paste", "<Control>v"},
    Shortcut{"Text fields", "Select all the field's text", "<Control>a"},
    Shortcut{"Window", "Larger text", "<Control>plus"},
    Shortcut{"Window", "Smaller text", "<Control>minus"},
    Shortcut{"Window", "Normal text size", "<Control>0"},
    Shortcut{"Window", "Help", "F1"},
    Shortcut{"Window", "Keyboard shortcuts", "<Control>question"},
    Shortcut{"Window", "Quit", "<Control>q"},
};
// clang-format on

std::string escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string property(std::string_view name, std::string_view value) {
    return "<property name=\"" + std::string(name) + "\">" + escaped(value) + "</property>";
}

}  // namespace

std::span<const Shortcut> window_shortcuts() { return kShortcuts; }

std::string shortcuts_window_ui(std::span<const Shortcut> shortcuts) {
    std::string ui =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<interface>"
        "<object class=\"GtkShortcutsWindow\" id=\"shortcuts\">" +
        property("title", "Keyboard Shortcuts") + property("modal", "1") +
        "<child><object class=\"GtkShortcutsSection\">" + property("section-name", "shortcuts") +
        property("max-height", "16");
    std::string_view group;
    for (const auto& shortcut : shortcuts) {
        if (shortcut.group != group) {
            if (!group.empty()) ui += "</object></child>";
            group = shortcut.group;
            ui += "<child><object class=\"GtkShortcutsGroup\">" + property("title", group);
        }
        ui += "<child><object class=\"GtkShortcutsShortcut\">" + property("title", shortcut.title) +
              property("accelerator", shortcut.accelerator) + "</object></child>";
    }
    if (!group.empty()) ui += "</object></child>";
    ui += "</object></child></object></interface>\n";
    return ui;
}

}  // namespace velmora
