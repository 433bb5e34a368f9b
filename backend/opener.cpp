#include "opener.h"

#include <cerrno>
#include <csignal>
#include <exception>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform.h"
#include "published_outputs.h"

extern char** environ;

namespace velmora {
namespace {

// Owns the attribute and file-action objects of one posix_spawnp call.
class SpawnSetup {
public:
    SpawnSetup() {
        ok_ = ::posix_spawn_file_actions_init(&actions_) == 0;
        ok_ = ::posix_spawnattr_init(&attributes_) == 0 && ok_;
    }
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions_);
        ::posix_spawnattr_destroy(&attributes_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // Standard input and output are the null device: the backend's standard
    // output carries the protocol, and an opener that printed to it would
    // corrupt a reply. Standard error stays the backend's.
    int prepare() {
        if (!ok_) return ENOMEM;
        if (int e = ::posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0)) return e;
        if (int e = ::posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0)) return e;
        if (int e = inherit_in_child(actions_, 2)) return e;
        sigset_t none;
        sigset_t defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        if (int e = ::posix_spawnattr_setsigmask(&attributes_, &none)) return e;
        if (int e = ::posix_spawnattr_setsigdefault(&attributes_, &defaults)) return e;
        if (int e = ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF)) return e;
        // The desktop program may outlive the backend: it must hold none of
        // its pipes or files, whatever their close-on-exec flag.
        return limit_child_descriptors(actions_, attributes_);
    }

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

private:
    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attributes_{};
    bool ok_ = false;
};

Result<pid_t> spawn_opener(const OpenerCommand& command) {
    SpawnSetup setup;
    if (int error = setup.prepare(); error != 0) return fail(system_error_text(error));
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(command.program.c_str()));
    for (const std::string& argument : command.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int error =
        ::posix_spawnp(&pid, command.program.c_str(), setup.actions(), setup.attributes(), argv.data(), environ);
    if (error != 0) return fail(system_error_text(error));
    return pid;
}

// Blocks until the child has ended; true when it exited with status 0.
bool reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Waits for the opener off the request thread, so the reply is not delayed
// and no zombie is left behind; an opener that failed gives way to the
// plan's fallback, which is reaped the same way.
void reap_in_background(pid_t pid, std::optional<OpenerCommand> fallback) {
    try {
        std::thread([pid, fallback = std::move(fallback)] {
            if (reap(pid) || !fallback) return;
            if (auto second = spawn_opener(*fallback)) reap(*second);
        }).detach();
    } catch (const std::exception&) {
        // Without a thread the child stays unreaped until the backend ends;
        // waiting here would hold up the reply.
    }
}

Status start_opener(const OpenerPlan& plan) {
    auto started = spawn_opener(plan.first);
    if (started) {
        reap_in_background(*started, plan.fallback);
        return {};
    }
    if (!plan.fallback) return fail(started.error());
    auto fallback = spawn_opener(*plan.fallback);
    if (!fallback) return fail(fallback.error());
    reap_in_background(*fallback, std::nullopt);
    return {};
}

}  // namespace

Result<nlohmann::json> reveal(ServiceState& state, const nlohmann::json& args) {
    if (!args.is_object()) return fail("Missing output file");
    const auto file = args.find("file");
    if (file == args.end() || !file->is_string()) return fail("Missing output file");
    const std::string path = file->get<std::string>();
    if (!is_published_output(state, path)) return fail("Unknown output file");
    if (auto started = start_opener(reveal_in_file_manager(path)); !started) return fail(started.error());
    return nullptr;
}

Result<nlohmann::json> third_party_notices(ServiceState& state) {
    std::string page = state.resources_dir;
    if (!page.empty() && !page.ends_with('/')) page += '/';
    page += "notices/index.html";
    if (auto started = start_opener(open_with_default_application(page)); !started) return fail(started.error());
    return nullptr;
}

}  // namespace velmora
