#include "shortcuts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace velmora {
namespace {

TEST(Shortcuts, TheWindowListsEveryKeyOfTheMenuThePageAndTheFocusChain) {
    // clang-format off
    const std::vector<std::string> keys = {
        "<Control>o", "<Shift><Control>o", "<Control>Return", "Escape", "<Control>s", "F1", "<Control>question",
        "<Control>q", "F10", "F6", "Tab", "<Shift>Tab", "<Control>a", "Delete", "<Control>plus", "<Control>minus",
        "<Control>0", "<Control>z", "<Control>x", "<Control>c", "<Control>v",
    };
    // clang-format on
    const auto listed = window_shortcuts();
    for (const auto& key : keys) {
        EXPECT_TRUE(std::ranges::any_of(listed, [&](const Shortcut& s) { return s.accelerator == key; })) << key;
    }
    const std::string ui = shortcuts_window_ui(listed);
    for (const auto& shortcut : listed) {
        EXPECT_NE(ui.find(std::string(">") + shortcut.title + "</property>"), std::string::npos) << shortcut.title;
    }
}

TEST(Shortcuts, BuilderTextGroupsInOrderAndEscapes) {
    struct Case {
        std::vector<Shortcut> shortcuts;
        std::string body;  // between the section's properties and its end
    };
    const std::string shortcut_open = "<child><object class=\"GtkShortcutsShortcut\">";
    const std::string group_open = "<child><object class=\"GtkShortcutsGroup\"><property name=\"title\">";
    const std::vector<Case> cases = {
        {{}, ""},
        {{{"A & B", "Add", "<Control>o"}},
         group_open + "A &amp; B</property>" + shortcut_open +
             "<property name=\"title\">Add</property><property name=\"accelerator\">&lt;Control&gt;o</property>"
             "</object></child></object></child>"},
        {{{"G", "One", "F1"}, {"G", "Two", "F2"}, {"H", "\"Three\"", "F3"}},
         group_open + "G</property>" + shortcut_open +
             "<property name=\"title\">One</property><property name=\"accelerator\">F1</property></object></child>" +
             shortcut_open +
             "<property name=\"title\">Two</property><property name=\"accelerator\">F2</property></object></child>"
             "</object></child>" +
             group_open + "H</property>" + shortcut_open +
             "<property name=\"title\">&quot;Three&quot;</property><property name=\"accelerator\">F3</property>"
             "</object></child></object></child>"},
    };
    const std::string head =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<interface><object class=\"GtkShortcutsWindow\" id=\"shortcuts\">"
        "<property name=\"title\">Keyboard Shortcuts</property><property name=\"modal\">1</property>"
        "<child><object class=\"GtkShortcutsSection\"><property name=\"section-name\">shortcuts</property>"
        "<property name=\"max-height\">16</property>";
    for (const auto& c : cases) {
        EXPECT_EQ(shortcuts_window_ui(c.shortcuts), head + c.body + "</object></child></object></interface>\n");
    }
}

}  // namespace
}  // namespace velmora
