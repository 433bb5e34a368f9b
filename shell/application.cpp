#include "application.h"

#include <glib-unix.h>

#include <signal.h>

#include <utility>

#include "choosers.h"
#include "names.h"
#include "page_script.h"
#include "screen.h"
#include "shortcuts.h"
#include "window_geometry.h"
#include "window_memory.h"

namespace velmora {

namespace {

constexpr const char* kApplicationId = "org.velmora.Velmora";
constexpr const char* kStartFailure = "Velmora could not start";
constexpr const char* kStopQuestion = "Stop processing and quit?";
constexpr const char* kStopDetail =
    "The movie being written now is not published and its source stays as it was. Movies already finished are kept.";
constexpr const char* kComments =
    "Gives QuickTime movies a start timecode without re-encoding them.\n\n"
    "The third-party components its programs use keep their own licences, listed in the third-party notices.";
constexpr const char* kNoticesLink = "velmora:third-party-notices";

// The page's two backgrounds, so no other colour shows before it paints.
constexpr GdkRGBA kDarkBackground{16.0f / 255.0f, 19.0f / 255.0f, 17.0f / 255.0f, 1.0f};
constexpr GdkRGBA kLightBackground{246.0f / 255.0f, 247.0f / 255.0f, 246.0f / 255.0f, 1.0f};
constexpr const char* kWindowCss =
    "window.velmora-window { background-color: rgb(246, 247, 246); }\n"
    "window.velmora-window.dark { background-color: rgb(16, 19, 17); }";

void on_alert_response(GtkDialog* dialog, int, gpointer app) {
    gtk_window_destroy(GTK_WINDOW(dialog));
    g_application_quit(G_APPLICATION(app));
}

}  // namespace

ApplicationDelegate::ApplicationDelegate(std::string resources, bool page_console)
    : app_(gtk_application_new(kApplicationId, G_APPLICATION_HANDLES_OPEN)),
      resources_(std::move(resources)),
      page_console_(page_console) {
    g_signal_connect(app_, "startup", G_CALLBACK(on_startup), this);
    g_signal_connect(app_, "activate", G_CALLBACK(on_activate), this);
    g_signal_connect(app_, "open", G_CALLBACK(on_open), this);
}

ApplicationDelegate::~ApplicationDelegate() {
    for (auto source : signal_sources_) {
        if (source != 0) g_source_remove(source);
    }
    appearance_.reset();
    focus_chain_.reset();
    close_quit_dialog();
    if (about_ != nullptr) gtk_window_destroy(GTK_WINDOW(about_));
    if (shortcuts_ != nullptr) gtk_window_destroy(GTK_WINDOW(shortcuts_));
    if (primary_menu_ != nullptr) g_object_unref(primary_menu_);
    if (window_ != nullptr) {
        gtk_window_destroy(window_);
        g_object_unref(window_);
    }
    web_view_.reset();
    backend_.reset();
    process_.reset();
    g_object_unref(app_);
}

int ApplicationDelegate::run(const std::vector<std::string>& arguments) {
    std::vector<std::string> owned = arguments;
    std::vector<char*> argv;
    argv.reserve(owned.size() + 1);
    for (auto& argument : owned) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return g_application_run(G_APPLICATION(app_), static_cast<int>(owned.size()), argv.data());
}

void ApplicationDelegate::on_startup(GApplication*, gpointer self) {
    auto* delegate = static_cast<ApplicationDelegate*>(self);
    // A session ending, or Ctrl+C in a terminal, asks to quit like the menu.
    delegate->signal_sources_[0] = g_unix_signal_add(SIGTERM, on_termination_signal, self);
    delegate->signal_sources_[1] = g_unix_signal_add(SIGINT, on_termination_signal, self);
}

void ApplicationDelegate::on_activate(GApplication*, gpointer self) {
    auto* delegate = static_cast<ApplicationDelegate*>(self);
    delegate->launch();
    if (delegate->window_ != nullptr) gtk_window_present(delegate->window_);
}

void ApplicationDelegate::on_open(GApplication*, GFile** files, int count, const char*, gpointer self) {
    auto* delegate = static_cast<ApplicationDelegate*>(self);
    delegate->launch();
    if (!delegate->bridge_) return;
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        if (char* path = g_file_get_path(files[i])) {
            paths.emplace_back(path);
            g_free(path);
        }
    }
    delegate->bridge_->files_opened(paths);
    gtk_window_present(delegate->window_);
}

gboolean ApplicationDelegate::on_close_request(GtkWindow*, gpointer self) {
    static_cast<ApplicationDelegate*>(self)->quit_requested();
    return TRUE;  // the window never closes by itself: quitting decides
}

gboolean ApplicationDelegate::on_termination_signal(gpointer self) {
    static_cast<ApplicationDelegate*>(self)->quit_requested();
    return G_SOURCE_CONTINUE;
}

void ApplicationDelegate::launch() {
    if (launched_) return;
    launched_ = true;

    BackendProcess::Callbacks callbacks;
    callbacks.message = [this](const Json& message) { backend_->dispatch(message); };
    callbacks.stopped = [this] { backend_->backend_stopped(); };
    auto process = BackendProcess::launch_backend(resources_, std::move(callbacks));
    if (!process) {
        show_start_failure(process.error());
        return;
    }
    process_ = std::move(*process);
    backend_ = std::make_unique<BackendClient>(*process_);

    primary_menu_ = install_menus(app_, *this);
    const auto ui = resources_ + "/ui";
    bridge_ = std::make_unique<Bridge>(state_, *this, canonical_path(ui).value_or(ui));
    create_web_view();
    backend_->set_on_event([this](const std::string& name, const Json& payload) { emit(name, payload); });
    create_window();
    appearance_ =
        std::make_unique<DesktopAppearance>([this](const DesktopAppearance::Look& look) { apply_look(look); });
    web_view_->load_file(ui + "/index.html");
    gtk_window_present(window_);
}

void ApplicationDelegate::create_web_view() {
    MovieWebView::Handlers handlers;
    handlers.message = [this](const MessageOrigin& origin, const Json& body, Completion answer) {
        bridge_->handle_message(origin, body, std::move(answer));
    };
    handlers.navigation = [this](std::optional<std::string_view> url, bool main_frame) {
        return navigation_allowed(url, main_frame, bridge_->ui_folder(), bridge_->resolver());
    };
    handlers.drop_event = [this](std::string_view name, const std::vector<std::string>& paths) {
        emit(name, Json{{"paths", paths}});
    };
    web_view_ = std::make_unique<MovieWebView>(page_console_, std::move(handlers));
}

void ApplicationDelegate::create_window() {
    const auto visible = visible_area();
    const auto geometry = window_geometry(visible);
    std::optional<Size> remembered;
    if (auto folder = window_memory_folder(g_getenv("HOME"))) remembered = load_window_memory(*folder);
    const auto size = restored_size(remembered, geometry, visible);
    window_ = GTK_WINDOW(gtk_application_window_new(app_));
    g_object_ref_sink(window_);
    gtk_window_set_title(window_, "Velmora");
    gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window_), FALSE);
    GtkWidget* header = gtk_header_bar_new();
    GtkWidget* menu_button = gtk_menu_button_new();
    gtk_menu_button_set_icon_name(GTK_MENU_BUTTON(menu_button), "open-menu-symbolic");
    gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(menu_button), G_MENU_MODEL(primary_menu_));
    gtk_menu_button_set_primary(GTK_MENU_BUTTON(menu_button), TRUE);  // F10 opens it
    gtk_widget_set_tooltip_text(menu_button, "Main Menu");
    gtk_accessible_update_property(GTK_ACCESSIBLE(menu_button), GTK_ACCESSIBLE_PROPERTY_LABEL, "Main Menu", -1);
    gtk_header_bar_pack_end(GTK_HEADER_BAR(header), menu_button);
    gtk_window_set_titlebar(window_, header);
    gtk_window_set_default_size(window_, size.width, size.height);
    // Size and minimum both measure the whole window, menu bar included, as
    // the content of a full-size content window does.
    gtk_widget_set_size_request(GTK_WIDGET(window_), geometry.minimum.width, geometry.minimum.height);
    gtk_widget_add_css_class(GTK_WIDGET(window_), "velmora-window");
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, kWindowCss, -1);
    gtk_style_context_add_provider_for_display(gtk_widget_get_display(GTK_WIDGET(window_)), GTK_STYLE_PROVIDER(css),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
    gtk_window_set_child(window_, web_view_->widget());
    g_signal_connect(window_, "close-request", G_CALLBACK(on_close_request), this);
    focus_chain_ = std::make_unique<FocusChain>(window_, header, web_view_->widget(), [this](FocusChain::Entry entry) {
        evaluate(entry == FocusChain::Entry::back ? focus_back_script()
                                                  : focus_edge_script(entry == FocusChain::Entry::first));
    });
}

void ApplicationDelegate::show_start_failure(const std::string& detail) {
    GtkWidget* alert =
        gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", kStartFailure);
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(alert), "%s", detail.c_str());
    gtk_window_set_title(GTK_WINDOW(alert), "Velmora");
    gtk_window_set_application(GTK_WINDOW(alert), app_);
    g_signal_connect(alert, "response", G_CALLBACK(on_alert_response), app_);
    gtk_window_present(GTK_WINDOW(alert));
}

void ApplicationDelegate::quit_requested() {
    if (!launched_ || !backend_) {
        g_application_quit(G_APPLICATION(app_));
        return;
    }
    const auto answer = request_quit(state_, *this);
    if (answer == QuitAnswer::now) terminate();
    // Refused while a batch runs: the page has its notice, the user a choice.
    if (answer == QuitAnswer::cancel && !state_.quit_after_batch) ask_stop_and_quit();
}

void ApplicationDelegate::ask_stop_and_quit() {
    if (quit_dialog_ != nullptr) {
        gtk_window_present(GTK_WINDOW(quit_dialog_));
        return;
    }
    GtkWidget* dialog =
        gtk_message_dialog_new(window_, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                               GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE, "%s", kStopQuestion);
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", kStopDetail);
    gtk_dialog_add_buttons(GTK_DIALOG(dialog), "_Keep Processing", GTK_RESPONSE_CANCEL, "_Stop and Quit",
                           GTK_RESPONSE_ACCEPT, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
    if (GtkWidget* stop = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT)) {
        gtk_widget_add_css_class(stop, "destructive-action");
    }
    gtk_window_set_title(GTK_WINDOW(dialog), kStopQuestion);
    g_signal_connect(dialog, "response", G_CALLBACK(on_quit_dialog_response), this);
    quit_dialog_ = dialog;
    gtk_window_present(GTK_WINDOW(dialog));
}

void ApplicationDelegate::on_quit_dialog_response(GtkDialog*, int response, gpointer self) {
    auto* delegate = static_cast<ApplicationDelegate*>(self);
    delegate->close_quit_dialog();
    if (response == GTK_RESPONSE_ACCEPT && stop_and_quit(delegate->state_, *delegate) == QuitAnswer::now) {
        delegate->terminate();
    }
}

void ApplicationDelegate::close_quit_dialog() {
    if (quit_dialog_ == nullptr) return;
    GtkWidget* dialog = std::exchange(quit_dialog_, nullptr);
    g_signal_handlers_disconnect_by_data(dialog, this);
    gtk_window_destroy(GTK_WINDOW(dialog));
}

void ApplicationDelegate::batch_ended() {
    enable_cancel(app_, false);
    // Whatever the user would have answered, the batch is over.
    close_quit_dialog();
    if (batch_answered(state_, *this) == QuitAnswer::now) terminate();
}

void ApplicationDelegate::show_about() {
    if (about_ != nullptr) {
        gtk_window_present(GTK_WINDOW(about_));
        return;
    }
    about_ = gtk_about_dialog_new();
    auto* about = GTK_ABOUT_DIALOG(about_);
    gtk_about_dialog_set_program_name(about, "Velmora");
    gtk_about_dialog_set_version(about, VELMORA_VERSION);
    gtk_about_dialog_set_comments(about, kComments);
    // Installed with the application under its id; a build tree has no icon to show.
    GtkIconTheme* icons = gtk_icon_theme_get_for_display(gtk_widget_get_display(about_));
    gtk_about_dialog_set_logo_icon_name(
        about, gtk_icon_theme_has_icon(icons, kApplicationId) ? kApplicationId : "video-x-generic");
    gtk_about_dialog_set_license_type(about, GTK_LICENSE_GPL_3_0);
    gtk_about_dialog_set_website(about, kNoticesLink);
    gtk_about_dialog_set_website_label(about, "Third-party notices");
    gtk_window_set_transient_for(GTK_WINDOW(about_), window_);
    gtk_window_set_modal(GTK_WINDOW(about_), TRUE);
    gtk_window_set_hide_on_close(GTK_WINDOW(about_), TRUE);
    g_signal_connect(about_, "activate-link", G_CALLBACK(on_about_link), this);
    gtk_window_present(GTK_WINDOW(about_));
}

void ApplicationDelegate::show_shortcuts() {
    if (shortcuts_ == nullptr) {
        GtkBuilder* builder = gtk_builder_new_from_string(shortcuts_window_ui(window_shortcuts()).c_str(), -1);
        shortcuts_ = GTK_WIDGET(gtk_builder_get_object(builder, "shortcuts"));
        // GTK keeps a top-level window until it is destroyed, without the builder.
        g_object_unref(builder);
        gtk_window_set_transient_for(GTK_WINDOW(shortcuts_), window_);
        gtk_window_set_hide_on_close(GTK_WINDOW(shortcuts_), TRUE);
    }
    gtk_window_present(GTK_WINDOW(shortcuts_));
}

// The page has the batch and builds the report; it asks back with "save_report".
void ApplicationDelegate::request_report() { emit(page_event::kSaveReportRequested, Json()); }

// The notices open the way the page's link opens them: through the backend.
gboolean ApplicationDelegate::on_about_link(GtkAboutDialog*, const char* uri, gpointer self) {
    if (uri == nullptr || std::string_view(uri) != kNoticesLink) return FALSE;
    auto* delegate = static_cast<ApplicationDelegate*>(self);
    delegate->forward("third_party_notices", Json::object(), [](Result<Json>) {});
    return TRUE;
}

void ApplicationDelegate::apply_look(const DesktopAppearance::Look& look) {
    if (window_ != nullptr) {
        if (look.dark)
            gtk_widget_add_css_class(GTK_WIDGET(window_), "dark");
        else
            gtk_widget_remove_css_class(GTK_WIDGET(window_), "dark");
    }
    if (!web_view_) return;
    auto* view = WEBKIT_WEB_VIEW(web_view_->widget());
    webkit_web_view_set_background_color(view, look.dark ? &kDarkBackground : &kLightBackground);
}

void ApplicationDelegate::evaluate(std::string_view script) {
    if (web_view_) web_view_->evaluate(std::string(script));
}

void ApplicationDelegate::edit(const char* command) {
    if (web_view_) web_view_->execute_editing_command(command);
}

void ApplicationDelegate::forward(const std::string& command, const Json& args, Completion done) {
    if (!backend_) {
        done(fail(std::string(kBackendUnavailable)));
        return;
    }
    if (command == backend_command::kProcessMovies) enable_cancel(app_, true);
    backend_->request(command, args, std::move(done));
}

void ApplicationDelegate::choose(const ChooserSpec& recipe, std::function<void(std::vector<std::string>)> done) {
    show_open_chooser(window_, recipe, std::move(done));
}

void ApplicationDelegate::choose_save(const SaveSpec& recipe, std::function<void(std::optional<SaveChoice>)> done) {
    show_save_chooser(window_, recipe, std::move(done));
}

void ApplicationDelegate::emit(std::string_view name, const Json& payload) {
    if (!web_view_) return;
    if (auto script = emit_script(name, payload)) web_view_->evaluate(*script);
}

void ApplicationDelegate::copy_text(const std::string& text) {
    if (window_ == nullptr) return;
    gdk_clipboard_set_text(gtk_widget_get_clipboard(GTK_WIDGET(window_)), text.c_str());
}

bool ApplicationDelegate::backend_running() const { return backend_ && backend_->running(); }

void ApplicationDelegate::send_shutdown(Completion done) {
    backend_->request(backend_command::kShutdown, std::move(done));
}

void ApplicationDelegate::send_cancel() {
    if (backend_) backend_->request(backend_command::kCancel, [](Result<Json>) {});
}

void ApplicationDelegate::terminate() {
    remember_window_size();
    g_application_quit(G_APPLICATION(app_));
}

void ApplicationDelegate::remember_window_size() {
    if (window_ == nullptr || gtk_window_is_maximized(window_)) return;
    // GTK keeps the default size at the window's current size as the user
    // resizes it; unlike the widget's size it counts what the header bar's
    // frame adds, so it is what the next start sets again.
    Size size;
    gtk_window_get_default_size(window_, &size.width, &size.height);
    if (size.width <= 0 || size.height <= 0) return;
    // Losing the size costs the user one resize next time; nothing to report.
    if (auto folder = window_memory_folder(g_getenv("HOME"))) (void)save_window_memory(*folder, size);
}

}  // namespace velmora
