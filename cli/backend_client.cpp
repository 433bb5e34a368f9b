#include "backend_client.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "child_process.h"

namespace velmora::cli {

namespace {

// The signal handler only writes a byte here; the waiting call reads it.
int interrupt_write_end = -1;
int interrupt_read_end = -1;

void note_interrupt(int) {
    const char byte = 1;
    [[maybe_unused]] auto ignored = ::write(interrupt_write_end, &byte, 1);
}

}  // namespace

Status catch_interrupts() {
    TRY(Pipe pipe, make_pipe());
    // Neither end may block: the handler must return, and the reader drains
    // whatever is there.
    ::fcntl(pipe.write_end.get(), F_SETFL, O_NONBLOCK);
    ::fcntl(pipe.read_end.get(), F_SETFL, O_NONBLOCK);
    // Both ends live as long as the process: the handler may run at any time.
    interrupt_read_end = pipe.read_end.release();
    interrupt_write_end = pipe.write_end.release();
    struct sigaction action {};
    action.sa_handler = note_interrupt;
    sigemptyset(&action.sa_mask);
    if (::sigaction(SIGINT, &action, nullptr) != 0) return fail("cannot catch Ctrl+C");
    return {};
}

Result<BackendClient> BackendClient::start(const std::string& resources, const std::optional<std::string>& home) {
    // A backend with no reader must fail its write, not end us.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> environment;
    if (home) environment.push_back("HOME=" + *home);
    // A process group of its own: Ctrl+C reaches only us, and we cancel the batch.
    TRY(ServicePipes pipes, start_service(backend_program(resources), {resources}, true, std::move(environment)));
    return BackendClient(std::move(pipes));
}

BackendClient::BackendClient(BackendClient&& other) noexcept
    : pipes_(std::move(other.pipes_)),
      splitter_(std::move(other.splitter_)),
      pending_(std::move(other.pending_)),
      next_id_(other.next_id_),
      interrupts_(other.interrupts_) {
    other.pipes_.pid = -1;
}

BackendClient::~BackendClient() {
    if (pipes_.pid < 0) return;
    if (interrupts_ > 1) ::kill(pipes_.pid, SIGKILL);
    // At the end of its input the backend finishes and exits.
    pipes_.input.reset();
    int status = 0;
    while (::waitpid(pipes_.pid, &status, 0) < 0 && errno == EINTR) {
    }
}

Status BackendClient::send(std::string_view command, const Json& args, std::int64_t id) {
    const Json request = {{"id", id}, {"command", std::string(command)}, {"args", args}};
    return write_all(pipes_.input.get(), request.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n");
}

Status BackendClient::on_interrupt() {
    char bytes[16];
    while (::read(interrupt_read_end, bytes, sizeof bytes) > 0) ++interrupts_;
    if (interrupts_ > 1) {
        ::kill(pipes_.pid, SIGKILL);
        return fail("Interrupted.");
    }
    return send("cancel", Json::object(), next_id_++);
}

Result<std::optional<Json>> BackendClient::next_message() {
    while (pending_.empty()) {
        pollfd fds[2] = {{pipes_.output.get(), POLLIN, 0}, {interrupt_read_end, POLLIN, 0}};
        if (::poll(fds, interrupt_read_end < 0 ? 1 : 2, -1) < 0) {
            if (errno == EINTR) continue;
            return fail("cannot wait for the backend");
        }
        if (interrupt_read_end >= 0 && fds[1].revents != 0) {
            TRY_VOID(on_interrupt());
            return std::optional<Json>();
        }
        char buffer[65536];
        const auto count = ::read(pipes_.output.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return fail("The native backend stopped.");
        for (auto& line : splitter_.feed(std::string_view(buffer, static_cast<std::size_t>(count)))) {
            pending_.push_back(std::move(line));
        }
    }
    auto line = std::move(pending_.front());
    pending_.erase(pending_.begin());
    auto message = Json::parse(line, nullptr, false);
    return std::optional<Json>(message.is_object() ? std::move(message) : Json::object());
}

Result<Json> BackendClient::call(std::string_view command, const Json& args, const EventHandler& on_event) {
    const auto id = next_id_++;
    TRY_VOID(send(command, args, id));
    for (;;) {
        TRY(auto message, next_message());
        if (!message) continue;
        if (const auto event = message->find("event"); event != message->end() && event->is_string()) {
            if (on_event) on_event(event->get<std::string>(), message->value("payload", Json()));
            continue;
        }
        if (message->value("id", Json()) != Json(id)) continue;
        if (const auto error = message->find("error"); error != message->end()) {
            return fail(error->is_string() ? error->get<std::string>() : error->dump());
        }
        return message->value("result", Json());
    }
}

}  // namespace velmora::cli
