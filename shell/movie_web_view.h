#pragma once

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backend_client.h"
#include "bridge.h"

namespace velmora {

// The application's only web view: ephemeral storage, the injected page API,
// the "velmora" message handler with reply, the navigation policy, no new
// windows, and native drag and drop of files.
class MovieWebView {
public:
    struct Handlers {
        std::function<void(const MessageOrigin& origin, const Json& body, Completion answer)> message;
        std::function<bool(std::optional<std::string_view> url, bool targets_main_frame)> navigation;
        // onDropEvent: a drag event for the page; unset means nothing is sent.
        std::function<void(std::string_view name, const std::vector<std::string>& paths)> drop_event;
    };

    MovieWebView(bool page_console, Handlers handlers);
    MovieWebView(const MovieWebView&) = delete;
    MovieWebView& operator=(const MovieWebView&) = delete;
    ~MovieWebView();

    GtkWidget* widget() const { return GTK_WIDGET(view_); }
    void load_file(const std::string& path);
    void evaluate(const std::string& script);
    void execute_editing_command(const char* command);

private:
    static gboolean on_script_message(WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply,
                                      gpointer self);
    static gboolean on_decide_policy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                     gpointer self);
    static GtkWidget* on_create(WebKitWebView*, WebKitNavigationAction*, gpointer);
    static void on_drop_value(GtkDropTarget* target, GParamSpec*, gpointer self);
    static void on_drag_leave(GtkDropTarget*, gpointer self);
    static gboolean on_drop(GtkDropTarget*, const GValue* value, double, double, gpointer self);
    void send_drop_event(std::string_view name, const std::vector<std::string>& paths);

    Handlers handlers_;
    WebKitWebView* view_ = nullptr;
    bool enter_sent_ = false;
};

}  // namespace velmora
