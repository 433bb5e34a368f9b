#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "backend_client.h"
#include "descriptor.h"

namespace velmora {

// The service counts as stopped once the child has ended AND the reader has
// handed over everything it read; the exit notice alone could overtake the
// last replies still on their way to the main thread.
class StopGate {
public:
    explicit StopGate(std::function<void()> stopped) : stopped_(std::move(stopped)) {}
    void child_ended() {
        child_running_ = false;
        settle();
    }
    void reader_done() {
        reader_done_ = true;
        settle();
    }
    bool child_running() const { return child_running_; }

private:
    void settle() {
        if (child_running_ || !reader_done_ || sent_) return;
        sent_ = true;
        if (stopped_) stopped_();
    }

    std::function<void()> stopped_;
    bool child_running_ = true;
    bool reader_done_ = false;
    bool sent_ = false;
};

// The running service: a child process whose standard input and output are
// pipes and whose standard error is ours. A reader thread splits and parses
// its output and hands each message to the main thread in order. Once the
// child has ended, the reader drains what the child left in the pipe before
// `stopped` runs, so no reply written before the exit is lost.
class BackendProcess final : public BackendLink {
public:
    struct Callbacks {
        std::function<void(const Json& message)> message;  // main thread
        std::function<void()> stopped;                     // main thread, once
    };

    // Starts "bin/velmora-mac-backend" under the resources folder with that
    // folder as its only argument.
    static Result<std::unique_ptr<BackendProcess>> launch_backend(const std::string& resources, Callbacks callbacks);
    static Result<std::unique_ptr<BackendProcess>> launch(const std::string& executable,
                                                          const std::vector<std::string>& arguments,
                                                          Callbacks callbacks);

    // Use launch(); public only so that it can be made unique.
    BackendProcess(pid_t pid, UniqueFd input, UniqueFd output, UniqueFd wake_read, UniqueFd wake_write,
                   Callbacks callbacks);
    BackendProcess(const BackendProcess&) = delete;
    BackendProcess& operator=(const BackendProcess&) = delete;
    ~BackendProcess() override;

    bool running() const override;
    Status write(std::string_view bytes) override;
    pid_t pid() const { return pid_; }

private:
    struct Shared;

    static void read_loop(int output, int wake, std::shared_ptr<Shared> shared);
    void child_ended();

    pid_t pid_;
    UniqueFd input_;
    UniqueFd output_;
    UniqueFd wake_read_;
    UniqueFd wake_write_;
    std::shared_ptr<Shared> shared_;
    std::thread reader_;
};

}  // namespace velmora
