// The service started with one of its standard streams closed: the number of
// a closed stream must never be handed to a file the service opens later, or
// replies written "to standard output" would land inside that file.

#include <cerrno>
#include <chrono>
#include <climits>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "support/backend_harness.h"

namespace velmora::testing {
namespace {

using nlohmann::json;

// The program with `closed` shut before exec and the other two streams on
// pipes (or, for standard input, kept open by the test).
class RawBackend {
public:
    RawBackend(int closed, const std::string& home) {
        int input[2];
        int output[2];
        int error[2];
        EXPECT_EQ(::pipe(input), 0);
        EXPECT_EQ(::pipe(output), 0);
        EXPECT_EQ(::pipe(error), 0);
        const std::string program = backend_program();
        const std::string& resources = home;  // never looked at by these tests
        const std::string home_entry = "HOME=" + home;
        std::vector<char*> arguments{const_cast<char*>(program.c_str()), const_cast<char*>(resources.c_str()), nullptr};
        std::vector<char*> environment{const_cast<char*>(home_entry.c_str()), nullptr};
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(input[0], 0);
            ::dup2(output[1], 1);
            ::dup2(error[1], 2);
            for (const int fd : {input[0], input[1], output[0], output[1], error[0], error[1]}) ::close(fd);
            ::close(closed);
            ::execve(program.c_str(), arguments.data(), environment.data());
            ::_exit(127);
        }
        ::close(input[0]);
        ::close(output[1]);
        ::close(error[1]);
        input_ = input[1];
        output_ = output[0];
        error_ = error[0];
    }
    ~RawBackend() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (const int fd : {input_, output_, error_}) {
            if (fd >= 0) ::close(fd);
        }
    }
    RawBackend(const RawBackend&) = delete;
    RawBackend& operator=(const RawBackend&) = delete;

    pid_t pid() const { return pid_; }

    bool send(const std::string& text) {
        std::string_view rest = text;
        while (!rest.empty()) {
            const ssize_t written = ::write(input_, rest.data(), rest.size());
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return false;
            rest.remove_prefix(static_cast<std::size_t>(written));
        }
        return true;
    }

    // Exit status once the child has ended within about ten seconds, else -1.
    int wait_exit() {
        for (int i = 0; i < 1000; ++i) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                reaped_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    // Everything written to standard error; call after the child has ended.
    std::string error_text() {
        std::string text;
        char buffer[4096];
        ssize_t got;
        while ((got = ::read(error_, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
        return text;
    }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int input_ = -1;
    int output_ = -1;
    int error_ = -1;
};

std::string link_target(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
    return length < 0 ? std::string() : std::string(target, static_cast<std::size_t>(length));
}

TEST(StandardStreams, ClosedInputReadsAsAnEmptyInput) {
    TempDir home;
    RawBackend backend(STDIN_FILENO, home.path());
    EXPECT_EQ(backend.wait_exit(), 0);
    EXPECT_EQ(backend.error_text(), "");
}

TEST(StandardStreams, ClosedOutputIsNeverReusedForTheSettingsFile) {
    if (::access("/proc/self/fd", F_OK) != 0) GTEST_SKIP() << "no /proc to look at descriptors";
    TempDir home;
    RawBackend backend(STDOUT_FILENO, home.path());
    // Saves race with replies that would go to descriptor 1.
    std::string burst;
    for (int i = 0; i < 50; ++i) {
        burst += R"({"id":)" + std::to_string(i) +
                 R"(,"command":"save_settings","args":{"value":{"mode":"drop"}}})"
                 "\n"
                 R"({"command":"busy"})"
                 "\n";
    }
    ASSERT_TRUE(backend.send(burst));
    const std::string stored = home.join("Library/Application Support/Velmora/settings.json");
    for (int i = 0; i < 500 && !path_exists(stored); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(path_exists(stored));
    const std::string descriptor = "/proc/" + std::to_string(backend.pid()) + "/fd/1";
    EXPECT_EQ(link_target(descriptor), "/dev/null");
    ASSERT_TRUE(backend.send(R"({"command":"shutdown"})"
                             "\n"));
    EXPECT_EQ(backend.wait_exit(), 0);
    EXPECT_EQ(backend.error_text(), "");
    json expected = json::parse(R"({
      "append": false, "continuous": false, "copy": true, "destination": null, "direction": "add", "mode": "drop", "number": false,
      "movieColumnWidth": null, "offset": "00:00:00:00", "existing": "skip", "prefix": "TC_", "recursive": true, "reel": "", "reelSource": "none", "rename": false,
      "retain": true, "source": "embedded", "start": "01:00:00:00", "suffix": "_TC", "timezone": "camera"})");
    EXPECT_EQ(read_file(stored), expected.dump(2));
}

}  // namespace
}  // namespace velmora::testing
