#include "engine_runner.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "child_process.h"
#include "json_text.h"
#include "names.h"
#include "utf8.h"

namespace velmora {

namespace {

bool contains_nul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

struct ProbeOutput {
    std::string output;
    std::string error;
    bool timed_out = false;
};

using Deadline = std::chrono::steady_clock::time_point;

// Milliseconds left for poll(), at least 0.
int milliseconds_until(Deadline deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, std::numeric_limits<int>::max()));
}

// Reads both pipes to their end at the same time, so that a child filling
// one of them never waits for us to read the other; gives up at the deadline.
Result<ProbeOutput> drain_together(UniqueFd output, UniqueFd error, Deadline deadline) {
    ProbeOutput collected;
    std::array<pollfd, 2> watched{{{output.get(), POLLIN, 0}, {error.get(), POLLIN, 0}}};
    std::array<UniqueFd*, 2> owners{&output, &error};
    std::array<std::string*, 2> sinks{&collected.output, &collected.error};
    std::array<char, 65536> buffer;
    while (watched[0].fd >= 0 || watched[1].fd >= 0) {
        const int ready = ::poll(watched.data(), watched.size(), milliseconds_until(deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return fail(system_error_text(errno));
        }
        if (ready == 0 && milliseconds_until(deadline) == 0) {
            collected.timed_out = true;
            return collected;
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

// The child's raw wait status, or nullopt when it is still running at the
// deadline (an engine that closed its streams but never exits).
Result<std::optional<int>> wait_until(ChildProcess& child, Deadline deadline) {
    std::chrono::milliseconds pause{1};
    for (;;) {
        TRY(auto polled, child.try_wait());
        if (polled) return polled;
        if (milliseconds_until(deadline) == 0) return std::optional<int>();
        std::this_thread::sleep_for(
            std::min<std::chrono::milliseconds>(pause, std::chrono::milliseconds(milliseconds_until(deadline))));
        pause = std::min(pause * 2, write_poll_interval);
    }
}

WaitOutcome wait_for_write(ChildProcess& child, const std::atomic<bool>& cancel, WritePause& pause) {
    for (;;) {
        if (cancel.load()) child.kill();
        auto polled = child.try_wait();
        if (!polled) {
            child.kill();
            (void)child.wait();
            return {0, polled.error()};
        }
        if (const std::optional<int>& exited = *polled) return {*exited, std::nullopt};
        pause.wait();
    }
}

}  // namespace

namespace {

struct EngineRun {
    std::optional<int> exit_status;  // nothing: still running at the deadline, now killed
    std::string output;
    std::string error;
};

// Runs the engine with `arguments` to its end, both streams collected.
Result<EngineRun> run_to_end(const std::string& engine_path, const std::vector<std::string>& arguments,
                             Deadline deadline) {
    TRY(auto null_device, open_null_device());
    TRY(auto output, make_pipe());
    TRY(auto error, make_pipe());

    auto child =
        ChildProcess::spawn(engine_path, arguments, {null_device.get(), output.write_end.get(), error.write_end.get()});
    // Only the child may hold the write ends, or the reads below never end.
    output.write_end.reset();
    error.write_end.reset();
    null_device.reset();
    if (!child) return fail(child.error());

    TRY(auto streams, drain_together(std::move(output.read_end), std::move(error.read_end), deadline));
    TRY(auto status,
        streams.timed_out ? Result<std::optional<int>>(std::optional<int>()) : wait_until(*child, deadline));
    if (!status) child->kill();  // its whole process group; reaped when `child` goes
    return EngineRun{status, std::move(streams.output), std::move(streams.error)};
}

std::string failure_text(const EngineRun& run) { return trim_whitespace(decode_utf8_lossy(run.error)); }

// A stamp changes the movie itself: once started it runs to its end (the
// engine puts the original back on any failure it sees), whatever it takes.
constexpr Deadline no_deadline = Deadline::max();

}  // namespace

Result<nlohmann::json> probe_movie(const std::string& engine_path, const std::string& movie_path,
                                   std::chrono::milliseconds time_limit) {
    if (contains_nul(movie_path)) return fail(std::string(nul_path_message));
    const Deadline deadline = std::chrono::steady_clock::now() + time_limit;
    const std::vector<std::string> arguments{std::string(engine_command::kProbe), movie_path};
    TRY(const EngineRun run, run_to_end(engine_path, arguments, deadline));
    if (!run.exit_status) return fail(std::string(probe_timeout_message));
    if (*run.exit_status != 0) return fail(failure_text(run));
    return parse_json(run.output);
}

Result<std::string> stamp_in_place(const std::string& engine_path, const std::string& movie_path,
                                   const std::string& timecode, const std::string& reel) {
    if (contains_nul(movie_path)) return fail(std::string(nul_path_message));
    if (contains_nul(timecode)) return fail(std::string(nul_timecode_message));
    if (contains_nul(reel)) return fail(std::string(invalid_reel_message));
    std::vector<std::string> arguments{std::string(engine_command::kStamp), movie_path, timecode};
    if (!reel.empty()) arguments.push_back(reel);
    TRY(const EngineRun run, run_to_end(engine_path, arguments, no_deadline));
    if (run.exit_status != 0) {
        std::string message = failure_text(run);
        return fail(message.empty() ? std::string("Native timecode engine failed.") : std::move(message));
    }
    return run.output;
}

Status unstamp_in_place(const std::string& engine_path, const std::string& movie_path) {
    if (contains_nul(movie_path)) return fail(std::string(nul_path_message));
    const std::vector<std::string> arguments{std::string(engine_command::kUnstamp), movie_path};
    TRY(const EngineRun run, run_to_end(engine_path, arguments, no_deadline));
    if (run.exit_status != 0) {
        std::string message = failure_text(run);
        return fail(message.empty() ? std::string("Native timecode engine failed.") : std::move(message));
    }
    return {};
}

Status write_timecode(const std::string& engine_path, const std::string& source_path, const std::string& output_path,
                      const std::string& timecode, const std::atomic<bool>& cancel, const ProgressSink& on_progress,
                      const std::string& reel) {
    if (contains_nul(source_path) || contains_nul(output_path)) return fail(std::string(nul_path_message));
    if (contains_nul(timecode)) return fail(std::string(nul_timecode_message));
    if (contains_nul(reel)) return fail(std::string(invalid_reel_message));

    // The engine reads nothing: /dev/null keeps it away from the backend's
    // own standard input, which carries the shell's requests.
    TRY(auto null_device, open_null_device());
    TRY(auto error, make_pipe());

    std::vector<std::string> arguments{std::string(engine_command::kWrite), source_path, output_path, timecode};
    if (!reel.empty()) arguments.push_back(reel);
    auto child =
        ChildProcess::spawn(engine_path, arguments, {null_device.get(), null_device.get(), error.write_end.get()});
    error.write_end.reset();
    null_device.reset();
    if (!child) return fail(child.error());

    ReaderOutcome reader_outcome;
    WritePause pause;
    {
        std::jthread reader;
        try {
            reader = std::jthread([&reader_outcome, &pause, &on_progress, fd = std::move(error.read_end)] {
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
