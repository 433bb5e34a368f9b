#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

#include "backend_client.h"
#include "backend_process.h"
#include "bridge.h"
#include "desktop_appearance.h"
#include "focus_chain.h"
#include "menus.h"
#include "movie_web_view.h"
#include "quitting.h"

namespace velmora {

// Owns everything the shell has: the backend, the window, the web view and
// the bridge state. Launch, files handed over by the desktop, About, and
// quitting, which never happens while a batch runs and otherwise waits for
// the backend's "shutdown" reply.
class ApplicationDelegate final : public BridgeHost, public QuitHost, public MenuHost {
public:
    ApplicationDelegate(std::string resources, bool page_console);
    ApplicationDelegate(const ApplicationDelegate&) = delete;
    ApplicationDelegate& operator=(const ApplicationDelegate&) = delete;
    ~ApplicationDelegate() override;

    // Runs the event loop; `arguments` starts with the program name.
    int run(const std::vector<std::string>& arguments);

    // BridgeHost
    void forward(const std::string& command, const Json& args, Completion done) override;
    void choose(const ChooserSpec& recipe, std::function<void(std::vector<std::string>)> done) override;
    void choose_save(const SaveSpec& recipe, std::function<void(std::optional<SaveChoice>)> done) override;
    void emit(std::string_view name, const Json& payload) override;
    void copy_text(const std::string& text) override;
    void batch_ended() override;
    // QuitHost
    bool backend_running() const override;
    void send_shutdown(Completion done) override;
    void send_cancel() override;
    void terminate() override;
    // MenuHost
    void evaluate(std::string_view script) override;
    void edit(const char* command) override;
    void show_about() override;
    void show_shortcuts() override;
    void request_report() override;
    void quit_requested() override;

private:
    static void on_startup(GApplication*, gpointer self);
    static void on_activate(GApplication*, gpointer self);
    static void on_open(GApplication*, GFile** files, int count, const char* hint, gpointer self);
    static gboolean on_close_request(GtkWindow*, gpointer self);
    static gboolean on_termination_signal(gpointer self);
    static void on_quit_dialog_response(GtkDialog* dialog, int response, gpointer self);
    static gboolean on_about_link(GtkAboutDialog*, const char* uri, gpointer self);

    void launch();
    void create_web_view();
    void create_window();
    void show_start_failure(const std::string& detail);
    void ask_stop_and_quit();
    void close_quit_dialog();
    void apply_look(const DesktopAppearance::Look& look);
    void remember_window_size();

    GtkApplication* app_;
    std::string resources_;
    bool page_console_;
    BridgeState state_;
    std::unique_ptr<BackendProcess> process_;
    std::unique_ptr<BackendClient> backend_;
    std::unique_ptr<Bridge> bridge_;
    std::unique_ptr<MovieWebView> web_view_;
    std::unique_ptr<DesktopAppearance> appearance_;
    std::unique_ptr<FocusChain> focus_chain_;
    GMenu* primary_menu_ = nullptr;
    GtkWindow* window_ = nullptr;
    GtkWidget* quit_dialog_ = nullptr;
    GtkWidget* about_ = nullptr;
    GtkWidget* shortcuts_ = nullptr;
    bool launched_ = false;
    unsigned signal_sources_[2] = {0, 0};
};

}  // namespace velmora
