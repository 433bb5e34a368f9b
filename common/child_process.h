#pragma once

// Starting child processes: pipes, the null device, and one spawn every
// program uses, so each child starts with the same clean state.

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "descriptor.h"
#include "result.h"

namespace velmora {

// Both ends are close-on-exec, so no child started elsewhere inherits them.
struct Pipe {
    UniqueFd read_end;
    UniqueFd write_end;
};

Result<Pipe> make_pipe();
// The null device, open for reading and writing, close-on-exec.
Result<UniqueFd> open_null_device();

// The descriptors (in this process) that become the child's standard streams;
// kInherit leaves the child this process's own stream of that number.
struct ChildStreams {
    static constexpr int kInherit = -1;
    int input = kInherit;
    int output = kInherit;
    int error = kInherit;
};

struct SpawnOptions {
    ChildStreams streams;
    // A child leading a process group of its own can be stopped together with
    // whatever it started; one that stays in ours also gets the terminal's
    // Ctrl+C.
    bool own_process_group = true;
    // Looks `program` up on PATH when it has no "/".
    bool search_path = false;
    // "NAME=value" entries that replace or add to this process's environment
    // for the child alone.
    std::vector<std::string> environment;
};

// Runs `program` (no shell) with `arguments` as argv[1..] and answers its
// pid, which the caller reaps. Only the three standard streams reach the
// child, whatever else this process holds open; its signal mask is cleared
// and SIGPIPE is back to its default action.
Result<pid_t> spawn_child(const std::string& program, const std::vector<std::string>& arguments,
                          const SpawnOptions& options);

// One started child process. It is reaped exactly once; a child still
// unreaped when its owner goes away is killed and reaped then, so no zombie
// and no orphan outlives the call that started it.
class ChildProcess {
public:
    // spawn_child without PATH search; the child leads a process group of its
    // own, so kill() also stops anything it started.
    static Result<ChildProcess> spawn(const std::string& program, const std::vector<std::string>& arguments,
                                      ChildStreams streams);

    ChildProcess(ChildProcess&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t pid() const noexcept { return pid_; }
    bool reaped() const noexcept { return pid_ < 0; }

    // Non-blocking poll: the raw wait status once the child has exited.
    Result<std::optional<int>> try_wait();
    // Blocks until the child has exited; returns the raw wait status.
    Result<int> wait();
    // SIGKILL to the child's process group; failures are ignored.
    void kill() noexcept;

private:
    explicit ChildProcess(pid_t pid) noexcept : pid_(pid) {}
    pid_t pid_ = -1;
};

}  // namespace velmora
