#include "engine_runner.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "child_process.h"
#include "json_text.h"
#include "utf8.h"
#include "utf8_text.h"

namespace velmora {

namespace {

bool contains_nul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

struct ProbeOutput {
    std::string output;
    std::string error;
};

// Reads both pipes to their end at the same time, so that a child filling
// one of them never waits for us to read the other.
Result<ProbeOutput> drain_together(UniqueFd output, UniqueFd error) {
    ProbeOutput collected;
    std::array<pollfd, 2> watched{{{output.get(), POLLIN, 0}, {error.get(), POLLIN, 0}}};
    std::array<UniqueFd*, 2> owners{&output, &error};
    std::array<std::string*, 2> sinks{&collected.output, &collected.error};
    std::array<char, 65536> buffer;
    while (watched[0].fd >= 0 || watched[1].fd >= 0) {
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return fail(system_error_text(errno));
        }
        for (std::size_t i = 0; i < watched.size(); ++i) {
            if (watched[i].fd < 0 || watched[i].revents == 0) continue;
            ssize_t n = ::read(watched[i].fd, buffer.data(), buffer.size());
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                return fail(system_error_text(errno));
            }
            if (n == 0) {
                owners[i]->reset();
                watched[i].fd = -1;  // poll passes over negative descriptors
                continue;
            }
            sinks[i]->append(buffer.data(), static_cast<std::size_t>(n));
        }
    }
    return collected;
}

// What the status reader thread leaves behind.
struct ReaderOutcome {
    bool ended_abnormally = false;
    Result<std::string> status = std::string();
};

struct WaitOutcome {
    int raw_status = 0;
    std::optional<std::string> failure;
};

// The pause between two looks at the engine. The end of its status stream
// means the engine has exited or is about to, so the pause in progress ends
// then; later pauses start at 1 ms and double back up to the poll interval.
// A short movie is then done in the time its engine takes, not on the next
// 25 ms tick.
class WritePause {
public:
    void stream_ended() {
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
        }
        changed_.notify_all();
    }

    void wait() {
        std::unique_lock lock(mutex_);
        if (!ended_) {
            changed_.wait_for(lock, write_poll_interval, [this] { return ended_; });
            return;
        }
        lock.unlock();
        std::this_thread::sleep_for(backoff_);
        backoff_ = std::min(backoff_ * 2, write_poll_interval);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool ended_ = false;
    std::chrono::milliseconds backoff_{1};
};

WaitOutcome wait_for_write(ChildProcess& child, const std::atomic<bool>& cancel, WritePause& pause) {
    for (;;) {
        if (cancel.load()) child.kill();
        auto polled = child.try_wait();
        if (!polled) {
            child.kill();
            (void)child.wait();
            return {0, polled.error()};
        }
        if (*polled) return {**polled, std::nullopt};
        pause.wait();
    }
}

}  // namespace

Result<nlohmann::json> probe_movie(const std::string& engine_path, const std::string& movie_path) {
    if (contains_nul(movie_path)) return fail(std::string(nul_path_message));

    auto null_device = open_null_device();
    if (!null_device) return fail(null_device.error());
    auto output = make_pipe();
    if (!output) return fail(output.error());
    auto error = make_pipe();
    if (!error) return fail(error.error());

    auto child = ChildProcess::spawn(engine_path, {"probe", movie_path},
                                     {null_device->get(), output->write_end.get(), error->write_end.get()});
    // Only the child may hold the write ends, or the reads below never end.
    output->write_end.reset();
    error->write_end.reset();
    null_device->reset();
    if (!child) return fail(child.error());

    auto streams = drain_together(std::move(output->read_end), std::move(error->read_end));
    if (!streams) return fail(streams.error());
    auto status = child->wait();
    if (!status) return fail(status.error());

    if (*status != 0) return fail(trim_whitespace(decode_utf8_lossy(streams->error)));
    return parse_json(streams->output);
}

Status write_timecode(const std::string& engine_path, const std::string& source_path,
                      const std::string& output_path, const std::string& timecode,
                      const std::atomic<bool>& cancel, const ProgressSink& on_progress) {
    if (contains_nul(source_path) || contains_nul(output_path)) return fail(std::string(nul_path_message));
    if (contains_nul(timecode)) return fail(std::string(nul_timecode_message));

    // The engine reads nothing: /dev/null keeps it away from the backend's
    // own standard input, which carries the shell's requests.
    auto null_device = open_null_device();
    if (!null_device) return fail(null_device.error());
    auto error = make_pipe();
    if (!error) return fail(error.error());

    auto child = ChildProcess::spawn(engine_path, {"write", source_path, output_path, timecode},
                                     {null_device->get(), null_device->get(), error->write_end.get()});
    error->write_end.reset();
    null_device->reset();
    if (!child) return fail(child.error());

    ReaderOutcome reader_outcome;
    WritePause pause;
    {
        std::jthread reader;
        try {
            reader = std::jthread([&reader_outcome, &pause, &on_progress, fd = std::move(error->read_end)] {
                try {
                    reader_outcome.status = read_engine_status(fd.get(), on_progress);
                } catch (...) {
                    reader_outcome.ended_abnormally = true;
                }
                pause.stream_ended();
            });
        } catch (const std::system_error&) {
            return fail("Engine status reader failed");  // the child is killed and reaped on the way out
        }
        WaitOutcome waited = wait_for_write(*child, cancel, pause);
        reader.join();

        if (reader_outcome.ended_abnormally) return fail("Engine status reader failed");
        if (!reader_outcome.status) return fail(reader_outcome.status.error());
        if (cancel.load()) return fail("Cancelled.");
        if (waited.failure) return fail(*waited.failure);
        if (waited.raw_status == 0) return {};
    }
    std::string message = trim_whitespace(*reader_outcome.status);
    if (message.empty()) return fail("Native timecode engine failed.");
    return fail(std::move(message));
}

}  // namespace velmora
