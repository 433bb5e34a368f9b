#include "menus.h"

#include <webkit/webkit.h>

#include <initializer_list>

#include "page_script.h"

namespace velmora {

namespace {

template <void (MenuHost::*Method)()>
void host_action(GSimpleAction*, GVariant*, gpointer host) {
    (static_cast<MenuHost*>(host)->*Method)();
}

// Each such action is named after the page's button it presses.
void page_action(GSimpleAction* action, GVariant*, gpointer host) {
    static_cast<MenuHost*>(host)->evaluate(click_script(g_action_get_name(G_ACTION(action))));
}

template <const char* Command>
void edit_action(GSimpleAction*, GVariant*, gpointer host) {
    static_cast<MenuHost*>(host)->edit(Command);
}

// The editing keys act on the page's focused text, as WebKit's own commands.
constexpr char kUndo[] = WEBKIT_EDITING_COMMAND_UNDO;
constexpr char kCut[] = WEBKIT_EDITING_COMMAND_CUT;
constexpr char kCopy[] = WEBKIT_EDITING_COMMAND_COPY;
constexpr char kPaste[] = WEBKIT_EDITING_COMMAND_PASTE;

struct Item {
    const char* label;
    const char* action;
    const char* accelerator;
    bool bound = true;  // false: the key is shown, the page handles it
};

void bind(GtkApplication* app, const char* action, const char* accelerator) {
    const char* accelerators[] = {accelerator, nullptr};
    gtk_application_set_accels_for_action(app, action, accelerators);
}

GMenu* section(GtkApplication* app, std::initializer_list<Item> items) {
    GMenu* menu = g_menu_new();
    for (const auto& item : items) {
        GMenuItem* entry = g_menu_item_new(item.label, item.action);
        if (item.accelerator != nullptr) {
            if (item.bound) bind(app, item.action, item.accelerator);
            // The accelerator map stays inside the process; the attribute
            // also shows the key wherever the menu is exported and drawn.
            g_menu_item_set_attribute(entry, "accel", "s", item.accelerator);
        }
        g_menu_append_item(menu, entry);
        g_object_unref(entry);
    }
    return menu;
}

}  // namespace

GMenu* install_menus(GtkApplication* app, MenuHost& host) {
    static const GActionEntry entries[] = {
        {"add-movies", page_action, nullptr, nullptr, nullptr, {}},
        {"add-folder", page_action, nullptr, nullptr, nullptr, {}},
        {"process", page_action, nullptr, nullptr, nullptr, {}},
        {"cancel", page_action, nullptr, nullptr, nullptr, {}},
        {"help", page_action, nullptr, nullptr, nullptr, {}},
        {"about", host_action<&MenuHost::show_about>, nullptr, nullptr, nullptr, {}},
        {"shortcuts", host_action<&MenuHost::show_shortcuts>, nullptr, nullptr, nullptr, {}},
        {"save-report", host_action<&MenuHost::request_report>, nullptr, nullptr, nullptr, {}},
        {"quit", host_action<&MenuHost::quit_requested>, nullptr, nullptr, nullptr, {}},
        {"undo", edit_action<kUndo>, nullptr, nullptr, nullptr, {}},
        {"cut", edit_action<kCut>, nullptr, nullptr, nullptr, {}},
        {"copy", edit_action<kCopy>, nullptr, nullptr, nullptr, {}},
        {"paste", edit_action<kPaste>, nullptr, nullptr, nullptr, {}},
    };
    g_action_map_add_action_entries(G_ACTION_MAP(app), entries, G_N_ELEMENTS(entries), &host);

    // Escape cancels only while a batch runs and must reach the page's
    // fields and dialogs otherwise, so the page handles it.
    GMenu* add = section(
        app, {{"Add Movies…", "app.add-movies", "<Control>o"}, {"Add Folder…", "app.add-folder", "<Shift><Control>o"}});
    GMenu* run =
        section(app, {{"Process", "app.process", "<Control>Return"}, {"Cancel", "app.cancel", "Escape", false}});
    GMenu* report = section(app, {{"Save Report…", "app.save-report", "<Control>s"}});
    GMenu* about = section(app, {{"Keyboard Shortcuts", "app.shortcuts", "<Control>question"},
                                 {"Help", "app.help", "F1"},
                                 {"About Velmora", "app.about", nullptr}});
    GMenu* quit = section(app, {{"Quit", "app.quit", "<Control>q"}});
    GMenu* primary = g_menu_new();
    for (GMenu* part : {add, run, report, about, quit}) {
        g_menu_append_section(primary, nullptr, G_MENU_MODEL(part));
        g_object_unref(part);
    }
    // The text fields' editing keys, as WebKit's own commands, without menu items.
    bind(app, "app.undo", "<Control>z");
    bind(app, "app.cut", "<Control>x");
    bind(app, "app.copy", "<Control>c");
    bind(app, "app.paste", "<Control>v");
    // Ctrl+A is left to the page: inside a text field WebKit selects the
    // field's text, elsewhere the page selects the list's rows.
    // Exported for desktops that show an application's menu themselves; the
    // window shows it as the header bar's primary menu.
    gtk_application_set_menubar(app, G_MENU_MODEL(primary));
    enable_cancel(app, false);
    return primary;
}

void enable_cancel(GtkApplication* app, bool enabled) {
    GAction* cancel = g_action_map_lookup_action(G_ACTION_MAP(app), "cancel");
    if (cancel != nullptr) g_simple_action_set_enabled(G_SIMPLE_ACTION(cancel), enabled ? TRUE : FALSE);
}

}  // namespace velmora
