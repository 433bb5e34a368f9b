#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "spawn_platform.h"

extern char** environ;

namespace velmora {

Result<Pipe> make_pipe() {
    int ends[2];
    if (int error = open_close_on_exec_pipe(ends); error != 0) return fail(system_error_text(error));
    return Pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
}

Result<UniqueFd> open_null_device() {
    int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (fd < 0) return fail(system_error_text(errno));
    return UniqueFd(fd);
}

namespace {

// posix_spawn's two option objects, destroyed on every path.
struct SpawnFileActions {
    posix_spawn_file_actions_t value;
    int error = posix_spawn_file_actions_init(&value);
    ~SpawnFileActions() {
        if (error == 0) posix_spawn_file_actions_destroy(&value);
    }
};

struct SpawnAttributes {
    posix_spawnattr_t value;
    int error = posix_spawnattr_init(&value);
    ~SpawnAttributes() {
        if (error == 0) posix_spawnattr_destroy(&value);
    }
};

// A source descriptor below 3 could be overwritten by an earlier dup2 in the
// child; move it out of the way first.
Result<UniqueFd> duplicate_if_standard(int fd) {
    if (fd >= 3 || fd == ChildStreams::kInherit) return UniqueFd();
    int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) return fail(system_error_text(errno));
    return UniqueFd(copy);
}

// This process's environment with `overrides` in place of the entries of
// the same names.
std::vector<std::string> child_environment(const std::vector<std::string>& overrides) {
    const auto name_of = [](std::string_view entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view name = name_of(*entry);
        const bool replaced = std::ranges::any_of(overrides, [&](const std::string& o) { return name_of(o) == name; });
        if (!replaced) environment.emplace_back(*entry);
    }
    environment.insert(environment.end(), overrides.begin(), overrides.end());
    return environment;
}

int configure_attributes(posix_spawnattr_t& attributes, bool own_process_group) {
    sigset_t empty;
    sigemptyset(&empty);
    sigset_t defaults;
    sigemptyset(&defaults);
    // The programs ignore SIGPIPE; an ignored signal would survive exec.
    sigaddset(&defaults, SIGPIPE);
    if (int e = posix_spawnattr_setsigmask(&attributes, &empty); e != 0) return e;
    if (int e = posix_spawnattr_setsigdefault(&attributes, &defaults); e != 0) return e;
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (own_process_group) {
        if (int e = posix_spawnattr_setpgroup(&attributes, 0); e != 0) return e;
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    return posix_spawnattr_setflags(&attributes, flags);
}

}  // namespace

Result<pid_t> spawn_child(const std::string& program, const std::vector<std::string>& arguments,
                          const SpawnOptions& options) {
    int sources[3] = {options.streams.input, options.streams.output, options.streams.error};
    UniqueFd moved[3];
    for (int target = 0; target < 3; ++target) {
        auto copy = duplicate_if_standard(sources[target]);
        if (!copy) return std::unexpected(copy.error());
        if (*copy) {
            moved[target] = std::move(*copy);
            sources[target] = moved[target].get();
        }
    }

    SpawnFileActions actions;
    if (actions.error != 0) return fail(system_error_text(actions.error));
    for (int target = 0; target < 3; ++target) {
        const int e = sources[target] == ChildStreams::kInherit
                          ? inherit_in_child(actions.value, target)
                          : posix_spawn_file_actions_adddup2(&actions.value, sources[target], target);
        if (e != 0) return fail(system_error_text(e));
    }
    SpawnAttributes attributes;
    if (attributes.error != 0) return fail(system_error_text(attributes.error));
    if (int e = configure_attributes(attributes.value, options.own_process_group); e != 0)
        return fail(system_error_text(e));
    // Close-on-exec covers our own descriptors; this also covers any that
    // other code in the process opened without it.
    if (int e = limit_child_descriptors(actions.value, attributes.value); e != 0) return fail(system_error_text(e));

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    const std::vector<std::string> environment = child_environment(options.environment);
    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (const auto& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    pid_t pid = -1;
    const auto start = options.search_path ? posix_spawnp : posix_spawn;
    int e = start(&pid, program.c_str(), &actions.value, &attributes.value, argv.data(), envp.data());
    if (e != 0) return fail(system_error_text(e));
    return pid;
}

Result<ChildProcess> ChildProcess::spawn(const std::string& program, const std::vector<std::string>& arguments,
                                         ChildStreams streams) {
    auto pid = spawn_child(program, arguments, SpawnOptions{streams, true, false, {}});
    if (!pid) return std::unexpected(std::move(pid).error());
    return ChildProcess(*pid);
}

ChildProcess::~ChildProcess() {
    if (reaped()) return;
    kill();
    (void)wait();
}

Result<std::optional<int>> ChildProcess::try_wait() {
    if (reaped()) return fail(system_error_text(ECHILD));
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        pid_ = -1;
        return std::optional<int>(status);
    }
    if (r == 0) return std::optional<int>();
    int error = errno;
    if (error == EINTR) return std::optional<int>();
    return fail(system_error_text(error));
}

Result<int> ChildProcess::wait() {
    if (reaped()) return fail(system_error_text(ECHILD));
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, 0);
    } while (r < 0 && errno == EINTR);
    int error = errno;
    // Either way the child is gone for us: never wait for it a second time.
    pid_ = -1;
    if (r < 0) return fail(system_error_text(error));
    return status;
}

void ChildProcess::kill() noexcept {
    if (reaped()) return;
    // The child leads its own group (set at spawn), so its group id is its pid.
    if (::kill(-pid_, SIGKILL) != 0) ::kill(pid_, SIGKILL);
}

}  // namespace velmora
