#include "movie_web_view.h"

#include <cstdio>
#include <memory>

#include "drag_events.h"
#include "page_script.h"

namespace velmora {

namespace {

template <typename T>
struct GFreeDeleter {
    void operator()(T* pointer) const { g_free(pointer); }
};
using GText = std::unique_ptr<char, GFreeDeleter<char>>;

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

std::vector<std::string> local_paths(const GValue* value) {
    std::vector<std::string> paths;
    if (value == nullptr || !G_VALUE_HOLDS(value, GDK_TYPE_FILE_LIST)) return paths;
    auto* list = static_cast<GdkFileList*>(g_value_get_boxed(value));
    if (list == nullptr) return paths;
    GSList* files = gdk_file_list_get_files(list);
    for (GSList* item = files; item != nullptr; item = item->next) {
        GText path(g_file_get_path(G_FILE(item->data)));
        if (path) paths.emplace_back(path.get());
    }
    g_slist_free(files);
    return paths;
}

// Where a reply goes once the bridge has decided; the page's script context
// is kept alive so that the result can be built in it.
struct PendingReply {
    PendingReply(WebKitScriptMessageReply* message_reply, JSCValue* value)
        : reply(webkit_script_message_reply_ref(message_reply)),
          context(JSC_CONTEXT(g_object_ref(jsc_value_get_context(value)))) {}
    PendingReply(const PendingReply&) = delete;
    PendingReply& operator=(const PendingReply&) = delete;
    WebKitScriptMessageReply* reply;
    JSCContext* context;
    ~PendingReply() {
        webkit_script_message_reply_unref(reply);
        g_object_unref(context);
    }
};

void answer_page(const std::shared_ptr<PendingReply>& pending, Result<Json> outcome) {
    if (!outcome) {
        webkit_script_message_reply_return_error_message(pending->reply, outcome.error().c_str());
        return;
    }
    auto text = compact_json(*outcome);
    if (!text) {
        webkit_script_message_reply_return_error_message(pending->reply, text.error().c_str());
        return;
    }
    std::unique_ptr<JSCValue, ObjectUnref> value(jsc_value_new_from_json(pending->context, text->c_str()));
    webkit_script_message_reply_return_value(pending->reply, value.get());
}

void add_document_start_script(WebKitUserContentManager* content, const std::string& source,
                               WebKitUserContentInjectedFrames frames) {
    WebKitUserScript* script =
        webkit_user_script_new(source.c_str(), frames, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, script);
    webkit_user_script_unref(script);
}

// For development and the end-to-end test: every console line of the page
// also goes to our standard output, flushed at once. WebKit's own switch for
// this writes from the web process through a buffer that is lost when the
// process is ended.
void on_console_message(WebKitUserContentManager*, JSCValue* value, gpointer) {
    GText text(jsc_value_to_string(value));
    std::fprintf(stdout, "CONSOLE %s\n", text ? text.get() : "");
    std::fflush(stdout);
}

void forward_console(WebKitUserContentManager* content) {
    webkit_user_content_manager_register_script_message_handler(content, "velmoraConsole", nullptr);
    g_signal_connect(content, "script-message-received::velmoraConsole", G_CALLBACK(on_console_message), nullptr);
    static constexpr const char* kConsoleScript = R"JS((() => {
  const channel = window.webkit.messageHandlers.velmoraConsole;
  for (const level of ["log", "info", "warn", "error"]) {
    const original = console[level].bind(console);
    console[level] = (...args) => {
      original(...args);
      try { channel.postMessage(args.map(String).join(" ")); } catch (error) { original(String(error)); }
    };
  }
})();
)JS";
    add_document_start_script(content, kConsoleScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME);
}

}  // namespace

MovieWebView::MovieWebView(bool page_console, Handlers handlers) : handlers_(std::move(handlers)) {
    // Ephemeral: WebKit would otherwise keep caches and storage under the
    // user's home, named after the program.
    std::unique_ptr<WebKitNetworkSession, ObjectUnref> session(webkit_network_session_new_ephemeral());
    std::unique_ptr<WebKitUserContentManager, ObjectUnref> content(webkit_user_content_manager_new());
    std::unique_ptr<WebKitSettings, ObjectUnref> settings(webkit_settings_new());
    webkit_settings_set_javascript_can_open_windows_automatically(settings.get(), FALSE);
    webkit_settings_set_allow_file_access_from_file_urls(settings.get(), FALSE);
    webkit_settings_set_allow_universal_access_from_file_urls(settings.get(), FALSE);
    webkit_settings_set_enable_developer_extras(settings.get(), FALSE);

    const std::string handler(kMessageHandlerName);
    webkit_user_content_manager_register_script_message_handler_with_reply(content.get(), handler.c_str(), nullptr);
    g_signal_connect(content.get(), ("script-message-with-reply-received::" + handler).c_str(),
                     G_CALLBACK(on_script_message), this);
    add_document_start_script(content.get(), injected_script(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME);
    add_document_start_script(content.get(), frame_guard_script(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES);
    if (page_console) forward_console(content.get());

    view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", session.get(), "user-content-manager",
                                         content.get(), "settings", settings.get(), nullptr));
    g_object_ref_sink(view_);
    g_signal_connect(view_, "decide-policy", G_CALLBACK(on_decide_policy), this);
    g_signal_connect(view_, "create", G_CALLBACK(on_create), this);

    GtkDropTarget* drop = gtk_drop_target_new(GDK_TYPE_FILE_LIST, GDK_ACTION_COPY);
    gtk_drop_target_set_preload(drop, TRUE);
    // Ahead of WebKit's own target, which would hand the page no paths.
    gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(drop), GTK_PHASE_CAPTURE);
    g_signal_connect(drop, "notify::value", G_CALLBACK(on_drop_value), this);
    g_signal_connect(drop, "leave", G_CALLBACK(on_drag_leave), this);
    g_signal_connect(drop, "drop", G_CALLBACK(on_drop), this);
    gtk_widget_add_controller(GTK_WIDGET(view_), GTK_EVENT_CONTROLLER(drop));
}

MovieWebView::~MovieWebView() {
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(view_), this);
    g_signal_handlers_disconnect_by_data(view_, this);
    g_object_unref(view_);
}

void MovieWebView::load_file(const std::string& path) {
    GText uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
    if (uri) webkit_web_view_load_uri(view_, uri.get());
}

void MovieWebView::evaluate(const std::string& script) {
    webkit_web_view_evaluate_javascript(view_, script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
}

void MovieWebView::execute_editing_command(const char* command) {
    webkit_web_view_execute_editing_command(view_, command);
}

gboolean MovieWebView::on_script_message(WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply,
                                         gpointer self) {
    auto* web_view = static_cast<MovieWebView*>(self);
    auto pending = std::make_shared<PendingReply>(reply, value);
    GText text(jsc_value_to_json(value, 0));
    Json body;
    if (text) {
        if (auto parsed = parse_json(text.get())) body = std::move(*parsed);
    }
    // The content manager belongs to this view alone, so the message is ours.
    MessageOrigin origin{true, std::nullopt};
    if (const char* uri = webkit_web_view_get_uri(web_view->view_)) origin.page_url = uri;
    web_view->handlers_.message(origin, body,
                                [pending](Result<Json> outcome) { answer_page(pending, std::move(outcome)); });
    return TRUE;
}

gboolean MovieWebView::on_decide_policy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                        gpointer self) {
    auto* web_view = static_cast<MovieWebView*>(self);
    if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return FALSE;
    auto* action = webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    std::optional<std::string_view> url;
    if (WebKitURIRequest* request = webkit_navigation_action_get_request(action)) {
        if (const char* uri = webkit_uri_request_get_uri(request)) url = uri;
    }
    // WebKitGTK names the target frame only when a link or form names one.
    const char* frame = webkit_navigation_action_get_frame_name(action);
    const std::string_view target = frame != nullptr ? frame : "";
    const bool main_frame = target.empty() || target == "_top" || target == "_self";
    if (web_view->handlers_.navigation && web_view->handlers_.navigation(url, main_frame)) {
        webkit_policy_decision_use(decision);
    } else {
        webkit_policy_decision_ignore(decision);
    }
    return TRUE;
}

GtkWidget* MovieWebView::on_create(WebKitWebView*, WebKitNavigationAction*, gpointer) {
    return nullptr;  // window.open and target="_blank" get no new view
}

void MovieWebView::on_drop_value(GtkDropTarget* target, GParamSpec*, gpointer self) {
    auto* web_view = static_cast<MovieWebView*>(self);
    const GValue* value = gtk_drop_target_get_value(target);
    if (value == nullptr || web_view->enter_sent_) return;
    auto event = drag_entered(local_paths(value));
    if (!event) {
        gtk_drop_target_reject(target);
        return;
    }
    web_view->enter_sent_ = true;
    web_view->send_drop_event(event->name, event->paths);
}

void MovieWebView::on_drag_leave(GtkDropTarget*, gpointer self) {
    auto* web_view = static_cast<MovieWebView*>(self);
    web_view->enter_sent_ = false;
    auto event = drag_left();
    web_view->send_drop_event(event.name, event.paths);
}

gboolean MovieWebView::on_drop(GtkDropTarget*, const GValue* value, double, double, gpointer self) {
    auto* web_view = static_cast<MovieWebView*>(self);
    web_view->enter_sent_ = false;
    auto event = drag_dropped(local_paths(value));
    if (!event) return FALSE;
    web_view->send_drop_event(event->name, event->paths);
    return TRUE;
}

void MovieWebView::send_drop_event(std::string_view name, const std::vector<std::string>& paths) {
    if (handlers_.drop_event) handlers_.drop_event(name, paths);
}

}  // namespace velmora
