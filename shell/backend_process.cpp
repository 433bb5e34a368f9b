#include "backend_process.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "child_process.h"
#include "platform.h"
#include "service_process.h"

namespace velmora {

// Fields touched only on the main thread; the reader thread only holds a
// reference so that work it posted can tell whether the process object is gone.
struct BackendProcess::Shared {
    explicit Shared(Callbacks given)
        : callbacks(std::move(given)), gate([this] {
              if (alive && callbacks.stopped) callbacks.stopped();
          }) {}
    Callbacks callbacks;
    bool alive = true;
    StopGate gate;
};

Result<std::unique_ptr<BackendProcess>> BackendProcess::launch_backend(const std::string& resources,
                                                                       Callbacks callbacks) {
    return launch(backend_program(resources), {resources}, std::move(callbacks));
}

Result<std::unique_ptr<BackendProcess>> BackendProcess::launch(const std::string& executable,
                                                               const std::vector<std::string>& arguments,
                                                               Callbacks callbacks) {
    TRY(Pipe wake, make_pipe());
    // The service stays in our process group, so Ctrl+C on a terminal reaches
    // it too; GLib's child watch reaps it.
    TRY(ServicePipes service, start_service(executable, arguments, false));
    return std::make_unique<BackendProcess>(service.pid, std::move(service.input), std::move(service.output),
                                            std::move(wake.read_end), std::move(wake.write_end), std::move(callbacks));
}

BackendProcess::BackendProcess(pid_t pid, UniqueFd input, UniqueFd output, UniqueFd wake_read, UniqueFd wake_write,
                               Callbacks callbacks)
    : pid_(pid),
      input_(std::move(input)),
      output_(std::move(output)),
      wake_read_(std::move(wake_read)),
      wake_write_(std::move(wake_write)),
      shared_(std::make_shared<Shared>(std::move(callbacks))) {
    auto shared = shared_;
    // Never cancelled: GLib must reap the child even after this object is gone.
    (void)platform::watch_child(pid_, [this, shared] {
        if (shared->alive) child_ended();
    });
    reader_ = std::thread(read_loop, output_.get(), wake_read_.get(), shared_);
}

BackendProcess::~BackendProcess() {
    shared_->alive = false;
    // Closing the service's input lets it end on its own; the watch stays so
    // that GLib still reaps it.
    input_.reset();
    char byte = 1;
    [[maybe_unused]] auto ignored = ::write(wake_write_.get(), &byte, 1);
    if (reader_.joinable()) reader_.join();
}

bool BackendProcess::running() const { return shared_->gate.child_running(); }

Status BackendProcess::write(std::string_view bytes) { return write_all(input_.get(), bytes); }

void BackendProcess::child_ended() {
    // Everything the child wrote is in the pipe now; tell the reader to take
    // it and stop, even if another process still holds the pipe open.
    char byte = 1;
    [[maybe_unused]] auto ignored = ::write(wake_write_.get(), &byte, 1);
    shared_->gate.child_ended();
}

void BackendProcess::read_loop(int output, int wake, std::shared_ptr<Shared> shared) {
    LineSplitter splitter;
    char buffer[65536];
    bool draining = false;
    auto hand_over = [&](std::string_view bytes) {
        for (auto& line : splitter.feed(bytes)) {
            auto message = parse_backend_line(line);
            if (!message) continue;
            platform::post_to_main([shared, message = std::move(*message)] {
                if (shared->alive && shared->callbacks.message) shared->callbacks.message(message);
            });
        }
    };
    for (;;) {
        if (!draining) {
            pollfd fds[2] = {{output, POLLIN, 0}, {wake, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (fds[1].revents != 0) {
                draining = true;
                ::fcntl(output, F_SETFL, ::fcntl(output, F_GETFL) | O_NONBLOCK);
            } else if (fds[0].revents == 0) {
                continue;
            }
        }
        auto count = ::read(output, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        hand_over(std::string_view(buffer, static_cast<std::size_t>(count)));
    }
    platform::post_to_main([shared] {
        if (shared->alive) shared->gate.reader_done();
    });
}

}  // namespace velmora
