#include "application.h"

#include <glib-unix.h>

#include <signal.h>

#include "page_script.h"
#include "screen.h"
#include "window_geometry.h"
#include "window_memory.h"

namespace velmora {

namespace {

constexpr const char* kApplicationId = "org.velmora.Velmora";
constexpr const char* kStartFailure = "Velmora could not start";

struct ChooserRun {
    GtkFileChooserNative* native;
    std::function<void(std::vector<std::string>)> done;
    ChooserRun(GtkFileChooserNative* dialog, std::function<void(std::vector<std::string>)> then)
        : native(dialog), done(std::move(then)) {}
    ChooserRun(const ChooserRun&) = delete;
    ChooserRun& operator=(const ChooserRun&) = delete;
    ~ChooserRun() { g_object_unref(native); }
};

void on_chooser_response(GtkNativeDialog* dialog, int response, gpointer data) {
    std::unique_ptr<ChooserRun> run(static_cast<ChooserRun*>(data));
    std::vector<std::string> paths;
    if (response == GTK_RESPONSE_ACCEPT) {
        GListModel* files = gtk_file_chooser_get_files(GTK_FILE_CHOOSER(dialog));
        for (guint i = 0; i < g_list_model_get_n_items(files); ++i) {
            auto* file = G_FILE(g_list_model_get_item(files, i));
            if (char* path = g_file_get_path(file)) {
                paths.emplace_back(path);
                g_free(path);
            }
            g_object_unref(file);
        }
        g_object_unref(files);
    }
    gtk_native_dialog_hide(dialog);
    run->done(std::move(paths));
}

struct SaveRun {
    GtkFileChooserNative* native;
    std::function<void(std::optional<SaveChoice>)> done;
    SaveRun(GtkFileChooserNative* dialog, std::function<void(std::optional<SaveChoice>)> then)
        : native(dialog), done(std::move(then)) {}
    SaveRun(const SaveRun&) = delete;
    SaveRun& operator=(const SaveRun&) = delete;
    ~SaveRun() { g_object_unref(native); }
};

// GTK 4's save chooser always asks before it accepts an existing name, so a
// name that exists now is one the user agreed to replace.
void on_save_response(GtkNativeDialog* dialog, int response, gpointer data) {
    std::unique_ptr<SaveRun> run(static_cast<SaveRun*>(data));
    std::optional<SaveChoice> choice;
    if (response == GTK_RESPONSE_ACCEPT) {
        if (GFile* file = gtk_file_chooser_get_file(GTK_FILE_CHOOSER(dialog))) {
            if (char* path = g_file_get_path(file)) {
                choice = SaveChoice{path, g_file_query_exists(file, nullptr) == TRUE};
                g_free(path);
            }
            g_object_unref(file);
        }
    }
    gtk_native_dialog_hide(dialog);
    run->done(std::move(choice));
}

void on_alert_response(GtkDialog* dialog, int, gpointer app) {
    gtk_window_destroy(GTK_WINDOW(dialog));
    g_application_quit(G_APPLICATION(app));
}

template <void (ApplicationDelegate::*Method)()>
void action(GSimpleAction*, GVariant*, gpointer self) {
    (static_cast<ApplicationDelegate*>(self)->*Method)();
}

// The Edit menu acts on the page's focused text, as WebKit's own commands.
constexpr char kUndo[] = WEBKIT_EDITING_COMMAND_UNDO;
constexpr char kCut[] = WEBKIT_EDITING_COMMAND_CUT;
constexpr char kCopy[] = WEBKIT_EDITING_COMMAND_COPY;
constexpr char kPaste[] = WEBKIT_EDITING_COMMAND_PASTE;
constexpr char kSelectAll[] = WEBKIT_EDITING_COMMAND_SELECT_ALL;

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

    auto process = BackendProcess::launch_backend(resources_, {
        [this](const Json& message) { backend_->dispatch(message); },
        [this] { backend_->backend_stopped(); },
    });
    if (!process) {
        show_start_failure(process.error());
        return;
    }
    process_ = std::move(*process);
    backend_ = std::make_unique<BackendClient>(*process_);

    install_menu();
    const auto ui = resources_ + "/ui";
    bridge_ = std::make_unique<Bridge>(state_, *this, canonical_path(ui).value_or(ui));
    create_web_view();
    backend_->set_on_event([this](const std::string& name, const Json& payload) { emit(name, payload); });
    create_window();
    web_view_->load_file(ui + "/index.html");
    gtk_window_present(window_);
}

void ApplicationDelegate::install_menu() {
    static const GActionEntry entries[] = {
        {"about", action<&ApplicationDelegate::show_about>, nullptr, nullptr, nullptr, {}},
        {"save-report", action<&ApplicationDelegate::request_report>, nullptr, nullptr, nullptr, {}},
        {"hide", action<&ApplicationDelegate::hide>, nullptr, nullptr, nullptr, {}},
        {"quit", action<&ApplicationDelegate::quit_requested>, nullptr, nullptr, nullptr, {}},
        {"undo", edit_action<kUndo>, nullptr, nullptr, nullptr, {}},
        {"cut", edit_action<kCut>, nullptr, nullptr, nullptr, {}},
        {"copy", edit_action<kCopy>, nullptr, nullptr, nullptr, {}},
        {"paste", edit_action<kPaste>, nullptr, nullptr, nullptr, {}},
        {"select-all", edit_action<kSelectAll>, nullptr, nullptr, nullptr, {}},
    };
    g_action_map_add_action_entries(G_ACTION_MAP(app_), entries, G_N_ELEMENTS(entries), this);

    struct Item {
        const char* label;
        const char* action;
        const char* accelerator;
    };
    auto section = [this](std::initializer_list<Item> items) {
        GMenu* menu = g_menu_new();
        for (const auto& item : items) {
            GMenuItem* entry = g_menu_item_new(item.label, item.action);
            if (item.accelerator != nullptr) {
                const char* accelerators[] = {item.accelerator, nullptr};
                gtk_application_set_accels_for_action(app_, item.action, accelerators);
                // The accelerator map stays inside the process; the attribute
                // also shows the key wherever the menu is exported and drawn.
                g_menu_item_set_attribute(entry, "accel", "s", item.accelerator);
            }
            g_menu_append_item(menu, entry);
            g_object_unref(entry);
        }
        return menu;
    };
    GMenu* about = section({{"About Velmora", "app.about", nullptr}});
    GMenu* report = section({{"Save Report…", "app.save-report", "<Control>s"}});
    GMenu* session = section({{"Hide Velmora", "app.hide", "<Control>h"}, {"Quit Velmora", "app.quit", "<Control>q"}});
    GMenu* application = g_menu_new();
    g_menu_append_section(application, nullptr, G_MENU_MODEL(about));
    g_menu_append_section(application, nullptr, G_MENU_MODEL(report));
    g_menu_append_section(application, nullptr, G_MENU_MODEL(session));
    GMenu* edit = section({{"Undo", "app.undo", "<Control>z"},
                           {"Cut", "app.cut", "<Control>x"},
                           {"Copy", "app.copy", "<Control>c"},
                           {"Paste", "app.paste", "<Control>v"},
                           {"Select All", "app.select-all", "<Control>a"}});
    GMenu* bar = g_menu_new();
    g_menu_append_submenu(bar, "Velmora", G_MENU_MODEL(application));
    g_menu_append_submenu(bar, "Edit", G_MENU_MODEL(edit));
    gtk_application_set_menubar(app_, G_MENU_MODEL(bar));
    for (GMenu* menu : {about, report, session, application, edit, bar}) g_object_unref(menu);
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
    const GdkRGBA background{16.0f / 255.0f, 19.0f / 255.0f, 17.0f / 255.0f, 1.0f};
    webkit_web_view_set_background_color(WEBKIT_WEB_VIEW(web_view_->widget()), &background);
}

void ApplicationDelegate::create_window() {
    const auto visible = visible_area();
    const auto geometry = window_geometry(visible);
    std::optional<Size> remembered;
    if (auto folder = data_folder(g_getenv("HOME"))) remembered = load_window_memory(*folder);
    const auto size = restored_size(remembered, geometry, visible);
    window_ = GTK_WINDOW(gtk_application_window_new(app_));
    g_object_ref_sink(window_);
    gtk_window_set_title(window_, "Velmora");
    gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window_), TRUE);
    gtk_window_set_default_size(window_, size.width, size.height);
    // Size and minimum both measure the whole window, menu bar included, as
    // the content of a full-size content window does.
    gtk_widget_set_size_request(GTK_WIDGET(window_), geometry.minimum.width, geometry.minimum.height);
    gtk_widget_add_css_class(GTK_WIDGET(window_), "velmora-window");
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, "window.velmora-window { background-color: rgb(16, 19, 17); }", -1);
    gtk_style_context_add_provider_for_display(gtk_widget_get_display(GTK_WIDGET(window_)), GTK_STYLE_PROVIDER(css),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
    gtk_window_set_child(window_, web_view_->widget());
    g_signal_connect(window_, "close-request", G_CALLBACK(on_close_request), this);
}

void ApplicationDelegate::show_start_failure(const std::string& detail) {
    GtkWidget* alert = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s",
                                              kStartFailure);
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
    if (request_quit(state_, *this) == QuitAnswer::now) terminate();
}

void ApplicationDelegate::show_about() {
    if (web_view_) web_view_->evaluate(std::string(kAboutScript));
}

// The page has the batch and builds the report; it asks back with "save_report".
void ApplicationDelegate::request_report() { emit(kSaveReportRequested, Json()); }

void ApplicationDelegate::hide() {
    if (window_ != nullptr) gtk_window_minimize(window_);
}

template <const char* Command>
void ApplicationDelegate::edit_action(GSimpleAction*, GVariant*, gpointer self) {
    static_cast<ApplicationDelegate*>(self)->edit(Command);
}

void ApplicationDelegate::edit(const char* command) {
    if (web_view_) web_view_->execute_editing_command(command);
}

void ApplicationDelegate::forward(const std::string& command, const Json& args, Completion done) {
    if (!backend_) {
        done(fail(std::string(kBackendUnavailable)));
        return;
    }
    backend_->request(command, args, std::move(done));
}

void ApplicationDelegate::choose(const ChooserSpec& recipe, std::function<void(std::vector<std::string>)> done) {
    const auto action = recipe.directories ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN;
    GtkFileChooserNative* native = gtk_file_chooser_native_new(recipe.title.c_str(), window_, action, nullptr, nullptr);
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(native), TRUE);
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(native), recipe.multiple ? TRUE : FALSE);
    if (!recipe.extensions.empty()) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, "Movies");
        for (const auto& extension : recipe.extensions) gtk_file_filter_add_suffix(filter, extension.c_str());
        gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(native), filter);
        g_object_unref(filter);
    }
    auto* run = std::make_unique<ChooserRun>(native, std::move(done)).release();
    g_signal_connect(native, "response", G_CALLBACK(on_chooser_response), run);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(native));
}

void ApplicationDelegate::choose_save(const SaveSpec& recipe, std::function<void(std::optional<SaveChoice>)> done) {
    GtkFileChooserNative* native =
        gtk_file_chooser_native_new(recipe.title.c_str(), window_, GTK_FILE_CHOOSER_ACTION_SAVE, nullptr, nullptr);
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(native), TRUE);
    if (!recipe.folder.empty()) {
        GFile* folder = g_file_new_for_path(recipe.folder.c_str());
        // A folder that is gone leaves the chooser where it would open anyway.
        (void)gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(native), folder, nullptr);
        g_object_unref(folder);
    }
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(native), recipe.name.c_str());
    auto* run = std::make_unique<SaveRun>(native, std::move(done)).release();
    g_signal_connect(native, "response", G_CALLBACK(on_save_response), run);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(native));
}

void ApplicationDelegate::emit(std::string_view name, const Json& payload) {
    if (!web_view_) return;
    if (auto script = emit_script(name, payload)) web_view_->evaluate(*script);
}

bool ApplicationDelegate::backend_running() const { return backend_ && backend_->running(); }

void ApplicationDelegate::send_shutdown(Completion done) { backend_->request("shutdown", Json::object(), std::move(done)); }

void ApplicationDelegate::terminate() {
    remember_window_size();
    g_application_quit(G_APPLICATION(app_));
}

void ApplicationDelegate::remember_window_size() {
    if (window_ == nullptr || gtk_window_is_maximized(window_)) return;
    const Size size{gtk_widget_get_width(GTK_WIDGET(window_)), gtk_widget_get_height(GTK_WIDGET(window_))};
    if (size.width <= 0 || size.height <= 0) return;
    // Losing the size costs the user one resize next time; nothing to report.
    if (auto folder = data_folder(g_getenv("HOME"))) (void)save_window_memory(*folder, size);
}

}  // namespace velmora
