#pragma once

#include <gtk/gtk.h>

#include <functional>

namespace velmora {

// Tab, Shift+Tab and F6 between the header bar and the page, as one chain
// that never loses the focus. Within the page WebKit moves the focus; when it
// runs out of elements it hands the focus to the window, which would give it
// to a widget of WebKit's own that keeps every later Tab. That hand-over is
// taken back here and sent on to the header bar; from the header bar's ends
// the page is entered again at its first or last element.
class FocusChain {
public:
    // How the page takes the focus once the web view has it: Tab and
    // Shift+Tab at its first or last element, F6 where it was.
    enum class Entry { first, last, back };
    FocusChain(GtkWindow* window, GtkWidget* header, GtkWidget* page, std::function<void(Entry)> enter_page);
    FocusChain(const FocusChain&) = delete;
    FocusChain& operator=(const FocusChain&) = delete;
    ~FocusChain();

private:
    static gboolean on_key(GtkEventControllerKey*, guint keyval, guint, GdkModifierType state, gpointer self);
    static void on_focus_moved(GObject*, GParamSpec*, gpointer self);
    bool holds(GtkWidget* area) const;
    void enter_header(bool forward);
    void enter_page(Entry entry);
    void switch_area();

    GtkWindow* window_;
    GtkWidget* header_;
    GtkWidget* page_;
    std::function<void(Entry)> enter_page_;
    GtkEventController* keys_ = nullptr;
    bool forward_ = true;        // the direction of the last Tab
    guint32 page_tab_time_ = 0;  // when the last Tab the page received was pressed
};

}  // namespace velmora
