#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "file_system.h"
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

// The descriptors (in this process) that become the child's standard streams.
struct ChildStreams {
    int input = -1;
    int output = -1;
    int error = -1;
};

// One started child process. It is reaped exactly once; a child still
// unreaped when its owner goes away is killed and reaped then, so no zombie
// and no orphan outlives the call that started it.
class ChildProcess {
public:
    // Runs `program` (no PATH search, no shell) with `arguments` as argv[1..].
    // Only the three given descriptors reach the child; its signal mask is
    // cleared and SIGPIPE is back to its default action. The child leads a
    // process group of its own, so kill() also stops anything it started.
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
