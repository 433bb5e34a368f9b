#include "child_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace velmora {
namespace {

namespace fs = std::filesystem;

std::set<int> open_descriptors_of(pid_t pid) {
    std::set<int> found;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        found.insert(std::stoi(entry.path().filename().string()));
    return found;
}

// The hexadecimal signal set on the line `field` of the child's status.
unsigned long long signal_set(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) return std::stoull(line.substr(field.size() + 1), nullptr, 16);
    }
    ADD_FAILURE() << field << " missing";
    return ~0ULL;
}

std::string link_target(const std::string& path) { return fs::read_symlink(path).string(); }

// The backend's engines lead their own group with every stream given; the
// shell's backend and the openers stay in ours and share our standard error.
// Either way the child starts with only its three streams, no blocked signal
// and SIGPIPE at its default, whatever this process holds or ignores.
TEST(SpawnChild, StartsCleanWithTheStreamsAndGroupAsked) {
    const int stray = ::open("/dev/null", O_RDONLY);  // no close-on-exec
    ASSERT_GE(stray, 0);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigset_t before;
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &before), 0);
    auto* const pipe_action = ::signal(SIGPIPE, SIG_IGN);

    for (const bool own_group : {true, false}) {
        SCOPED_TRACE(own_group ? "own group" : "shared group");
        auto input = make_pipe();
        auto output = make_pipe();
        auto error = make_pipe();
        ASSERT_TRUE(input && output && error);
        SpawnOptions options;
        options.streams = {input->read_end.get(), output->write_end.get(),
                           own_group ? error->write_end.get() : ChildStreams::kInherit};
        options.own_process_group = own_group;
        auto pid = spawn_child("/bin/cat", {}, options);
        ASSERT_TRUE(pid) << pid.error();
        input->read_end.reset();
        output->write_end.reset();

        // Once cat has echoed a line it is set up and waiting for the next.
        ASSERT_TRUE(write_all(input->write_end.get(), "x\n"));
        char echoed[2] = {};
        ASSERT_EQ(::read(output->read_end.get(), echoed, 2), 2);
        EXPECT_EQ(open_descriptors_of(*pid), (std::set<int>{0, 1, 2}));
        EXPECT_EQ(::getpgid(*pid), own_group ? *pid : ::getpgrp());
        EXPECT_EQ(signal_set(*pid, "SigBlk"), 0u);
        EXPECT_EQ(signal_set(*pid, "SigIgn") & (1ULL << (SIGPIPE - 1)), 0u);
        const std::string error_path = "/proc/" + std::to_string(*pid) + "/fd/2";
        EXPECT_EQ(link_target(error_path), own_group
                                               ? link_target("/proc/self/fd/" + std::to_string(error->write_end.get()))
                                               : link_target("/proc/self/fd/2"));

        input->write_end.reset();
        int status = -1;
        ASSERT_EQ(::waitpid(*pid, &status, 0), *pid);
        EXPECT_EQ(status, 0);
    }
    ::signal(SIGPIPE, pipe_action);
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ::close(stray);
}

TEST(SpawnChild, SearchesPathOnlyWhenAsked) {
    for (const bool search : {false, true}) {
        SpawnOptions options;
        options.search_path = search;
        auto pid = spawn_child("sh", {"-c", "exit 3"}, options);
        if (!search) {
            ASSERT_FALSE(pid);
            EXPECT_EQ(pid.error(), "No such file or directory (os error 2)");
            continue;
        }
        ASSERT_TRUE(pid) << pid.error();
        int status = -1;
        ASSERT_EQ(::waitpid(*pid, &status, 0), *pid);
        EXPECT_EQ(WEXITSTATUS(status), 3);
    }
}

// The command line gives its backend another HOME; the rest of the
// environment reaches the child as it is.
TEST(SpawnChild, EnvironmentEntriesReplaceOursForTheChildAlone) {
    const char* own_path = std::getenv("PATH");
    ASSERT_TRUE(own_path);
    auto output = make_pipe();
    ASSERT_TRUE(output);
    SpawnOptions options;
    options.streams = {ChildStreams::kInherit, output->write_end.get(), ChildStreams::kInherit};
    options.environment = {"HOME=/elsewhere", "VELMORA_ADDED=1"};
    auto pid = spawn_child("/bin/sh", {"-c", "printf '%s|%s|%s' \"$HOME\" \"$VELMORA_ADDED\" \"$PATH\""}, options);
    ASSERT_TRUE(pid) << pid.error();
    output->write_end.reset();
    std::string seen;
    char buffer[4096];
    for (ssize_t n; (n = ::read(output->read_end.get(), buffer, sizeof buffer)) > 0;) seen.append(buffer, n);
    int status = -1;
    ASSERT_EQ(::waitpid(*pid, &status, 0), *pid);
    EXPECT_EQ(seen, std::string("/elsewhere|1|") + own_path);
}

}  // namespace
}  // namespace velmora
