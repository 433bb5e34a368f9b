#include "platform.h"

#include <glib.h>
#include <signal.h>

#include <filesystem>
#include <memory>
#include <system_error>

namespace velmora::platform {

namespace {

gboolean run_posted(gpointer data) {
    auto* work = static_cast<std::function<void()>*>(data);
    (*work)();
    return G_SOURCE_REMOVE;
}

// GLib hands ownership back here; the unique_ptr releases it.
void delete_posted(gpointer data) { std::unique_ptr<std::function<void()>>(static_cast<std::function<void()>*>(data)); }

void child_ended(GPid, gint, gpointer data) { (*static_cast<std::function<void()>*>(data))(); }

}  // namespace

void post_to_main(std::function<void()> work) {
    // GLib takes ownership through the destroy notify; invoke_full queues an
    // idle source when called off the main thread, which keeps the order.
    auto* owned = std::make_unique<std::function<void()>>(std::move(work)).release();
    g_main_context_invoke_full(nullptr, G_PRIORITY_DEFAULT, run_posted, owned, delete_posted);
}

unsigned watch_child(pid_t pid, std::function<void()> on_exit) {
    auto* owned = std::make_unique<std::function<void()>>(std::move(on_exit)).release();
    return g_child_watch_add_full(G_PRIORITY_DEFAULT, pid, child_ended, owned, delete_posted);
}

void unwatch_child(unsigned watch) {
    if (watch != 0) g_source_remove(watch);
}

std::optional<std::string> executable_path() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::nullopt;
    return path.string();
}

void ignore_broken_pipe() { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace velmora::platform
