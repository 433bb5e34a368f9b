#include "focus_chain.h"

#include <utility>

namespace velmora {

namespace {

GtkDirectionType tab_direction(bool forward) { return forward ? GTK_DIR_TAB_FORWARD : GTK_DIR_TAB_BACKWARD; }

}  // namespace

FocusChain::FocusChain(GtkWindow* window, GtkWidget* header, GtkWidget* page, std::function<void(Entry)> enter_page)
    : window_(window), header_(header), page_(page), enter_page_(std::move(enter_page)) {
    keys_ = gtk_event_controller_key_new();
    // Ahead of the focused widget, so that the page never sees the keys that
    // cross between the two areas.
    gtk_event_controller_set_propagation_phase(keys_, GTK_PHASE_CAPTURE);
    g_signal_connect(keys_, "key-pressed", G_CALLBACK(on_key), this);
    gtk_widget_add_controller(GTK_WIDGET(window_), keys_);
    g_signal_connect(window_, "notify::focus-widget", G_CALLBACK(on_focus_moved), this);
}

FocusChain::~FocusChain() {
    g_signal_handlers_disconnect_by_data(window_, this);
    g_signal_handlers_disconnect_by_data(keys_, this);
}

bool FocusChain::holds(GtkWidget* area) const {
    GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(window_));
    return focus != nullptr && (focus == area || gtk_widget_is_ancestor(focus, area));
}

gboolean FocusChain::on_key(GtkEventControllerKey* controller, guint keyval, guint, GdkModifierType state,
                            gpointer self) {
    auto* chain = static_cast<FocusChain*>(self);
    if ((state & (GDK_CONTROL_MASK | GDK_ALT_MASK)) != 0) return FALSE;
    if (keyval == GDK_KEY_F6) {
        chain->switch_area();
        return TRUE;
    }
    if (keyval != GDK_KEY_Tab && keyval != GDK_KEY_ISO_Left_Tab && keyval != GDK_KEY_KP_Tab) return FALSE;
    const guint32 time = gtk_event_controller_get_current_event_time(GTK_EVENT_CONTROLLER(controller));
    // Inside the page WebKit moves the focus and hands it out at the ends.
    if (!chain->holds(chain->header_)) {
        chain->forward_ = keyval != GDK_KEY_ISO_Left_Tab && (state & GDK_SHIFT_MASK) == 0;
        chain->page_tab_time_ = time;
        return FALSE;
    }
    // WebKit gives a key the page left unused back to the window once it has
    // handed the focus out: that Tab has brought the focus here already.
    if (time == chain->page_tab_time_) return TRUE;
    chain->forward_ = keyval != GDK_KEY_ISO_Left_Tab && (state & GDK_SHIFT_MASK) == 0;
    if (!gtk_widget_child_focus(chain->header_, tab_direction(chain->forward_))) {
        chain->enter_page(chain->forward_ ? Entry::first : Entry::last);
    }
    return TRUE;
}

// WebKit hands the focus out by moving it to a widget inside the web view
// that is not the page: the chain goes on in the header bar.
void FocusChain::on_focus_moved(GObject*, GParamSpec*, gpointer self) {
    auto* chain = static_cast<FocusChain*>(self);
    GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(chain->window_));
    if (focus == nullptr || focus == chain->page_ || !gtk_widget_is_ancestor(focus, chain->page_)) return;
    chain->enter_header(chain->forward_);
}

void FocusChain::enter_header(bool forward) { gtk_widget_child_focus(header_, tab_direction(forward)); }

void FocusChain::enter_page(Entry entry) {
    gtk_widget_grab_focus(page_);
    enter_page_(entry);
}

// F6: the page takes back the element it had focused.
void FocusChain::switch_area() {
    if (holds(header_)) {
        enter_page(Entry::back);
        return;
    }
    enter_header(true);
}

}  // namespace velmora
