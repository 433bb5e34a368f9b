// The same services on macOS, for a shell that reuses the plain C++ logic.
#include "platform.h"

#include <dispatch/dispatch.h>
#include <mach-o/dyld.h>
#include <signal.h>
#include <sys/wait.h>

#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace velmora::platform {

namespace {

void run_posted(void* data) {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(data));
    (*work)();
}

// Watches live on the main queue only, so the map needs no lock.
std::map<unsigned, dispatch_source_t>& watches() {
    static std::map<unsigned, dispatch_source_t> table;
    return table;
}

}  // namespace

void post_to_main(std::function<void()> work) {
    auto* owned = std::make_unique<std::function<void()>>(std::move(work)).release();
    dispatch_async_f(dispatch_get_main_queue(), owned, run_posted);
}

unsigned watch_child(pid_t pid, std::function<void()> on_exit) {
    static unsigned next = 0;
    const unsigned id = ++next;
    dispatch_source_t source = dispatch_source_create(DISPATCH_SOURCE_TYPE_PROC, static_cast<uintptr_t>(pid),
                                                      DISPATCH_PROC_EXIT, dispatch_get_main_queue());
    auto* handler = std::make_unique<std::function<void()>>([pid, id, on_exit = std::move(on_exit)] {
                        int status = 0;
                        ::waitpid(pid, &status, 0);
                        unwatch_child(id);
                        on_exit();
                    }).release();
    dispatch_set_context(source, handler);
    dispatch_source_set_event_handler_f(source,
                                        [](void* context) { (*static_cast<std::function<void()>*>(context))(); });
    dispatch_set_finalizer_f(source, [](void* context) {
        std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(context));
    });
    watches()[id] = source;
    dispatch_resume(source);
    return id;
}

void unwatch_child(unsigned watch) {
    auto found = watches().find(watch);
    if (found == watches().end()) return;
    dispatch_source_cancel(found->second);
    dispatch_release(found->second);
    watches().erase(found);
}

std::optional<std::string> executable_path() {
    std::vector<char> buffer(PATH_MAX);
    auto size = static_cast<uint32_t>(buffer.size());
    if (_NSGetExecutablePath(buffer.data(), &size) != 0) return std::nullopt;
    char resolved[PATH_MAX];
    if (::realpath(buffer.data(), resolved) == nullptr) return std::nullopt;
    return std::string(resolved);
}

void ignore_broken_pipe() { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace velmora::platform
