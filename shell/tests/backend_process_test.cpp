#include "backend_process.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

// Answers each request with its command as the result, in the order received.
// "events" sends two events before its reply, "quit" exits right after its
// reply, "hold" is never answered, "orphan" leaves a process holding the
// output open and exits.
constexpr const char* kFakeBackend = R"SH(#!/bin/sh
while IFS= read -r line; do
  id=$(printf '%s' "$line" | sed 's/.*"id":\([0-9]*\).*/\1/')
  command=$(printf '%s' "$line" | sed 's/.*"command":"\([^"]*\)".*/\1/')
  case "$command" in
    argument) printf '{"id":%s,"result":"%s"}\n' "$id" "$1" ;;
    events) printf '{"event":"progress","payload":{"index":0}}\n{"event":"progress","payload":{"index":1}}\n{"id":%s,"result":"events"}\n' "$id" ;;
    quit) printf '{"id":%s,"result":null}\n' "$id"; exit 0 ;;
    hold) ;;
    orphan) sleep 20 </dev/null 2>/dev/null & printf '{"id":%s,"result":%s}\n' "$id" "$!"; exit 0 ;;
    *) printf '{"id":%s,"result":"%s"}\n' "$id" "$command" ;;
  esac
done
)SH";

bool spin_until(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class BackendProcessTest : public ::testing::Test {
protected:
    fs::path resources;
    std::unique_ptr<BackendProcess> process;
    std::unique_ptr<BackendClient> client;
    std::vector<std::string> events;
    int stopped = 0;

    void SetUp() override {
        platform::ignore_broken_pipe();
        resources = fs::temp_directory_path() / ("velmora-shell-process-" + std::to_string(::getpid()));
        fs::remove_all(resources);
        fs::create_directories(resources / "bin");
        auto script = resources / "bin" / "velmora-mac-backend";
        std::ofstream(script) << kFakeBackend;
        fs::permissions(script, fs::perms::owner_all);
    }
    void TearDown() override {
        client.reset();
        process.reset();
        fs::remove_all(resources);
    }

    void launch() {
        BackendProcess::Callbacks callbacks;
        callbacks.message = [this](const Json& message) { client->dispatch(message); };
        callbacks.stopped = [this] {
            ++stopped;
            client->backend_stopped();
        };
        auto launched = BackendProcess::launch_backend(resources.string(), std::move(callbacks));
        ASSERT_TRUE(launched) << launched.error();
        process = std::move(*launched);
        client = std::make_unique<BackendClient>(*process);
        client->set_on_event(
            [this](const std::string& name, const Json& payload) { events.push_back(name + " " + payload.dump()); });
    }
};

// The implicit constructor may throw when a Json member allocates; in a test that only fails the test.
struct Outcome {  // NOLINT(bugprone-exception-escape)
    bool done = false;
    Result<Json> value;
};

Completion into(Outcome& outcome) {
    return [&outcome](Result<Json> value) {
        EXPECT_FALSE(outcome.done) << "a completion runs once";
        outcome.done = true;
        outcome.value = std::move(value);
    };
}

TEST_F(BackendProcessTest, PassesTheResourcesFolderAndPairsReplies) {
    launch();
    Outcome argument, events_reply, plain;
    client->request("argument", into(argument));
    client->request("events", into(events_reply));
    client->request("plain", into(plain));
    ASSERT_TRUE(spin_until([&] { return argument.done && events_reply.done && plain.done; }));
    EXPECT_EQ(*argument.value, resources.string());
    EXPECT_EQ(*events_reply.value, "events");
    EXPECT_EQ(*plain.value, "plain");
    EXPECT_EQ(events, (std::vector<std::string>{"progress {\"index\":0}", "progress {\"index\":1}"}));
    EXPECT_EQ(stopped, 0);
}

TEST_F(BackendProcessTest, ReplyWrittenJustBeforeExitIsNotLost) {
    // The exit notice and the last line race. Letting both pile up before the
    // main loop runs puts the child watch (older source) first in line; the
    // reply must still reach its request, and only the other one is failed.
    for (int round = 0; round < 4; ++round) {
        launch();
        Outcome held, quit;
        client->request("hold", into(held));
        client->request("quit", into(quit));
        std::this_thread::sleep_for(std::chrono::milliseconds(round == 0 ? 0 : 300));
        ASSERT_TRUE(spin_until([&] { return stopped == 1; })) << round;
        ASSERT_TRUE(quit.done && held.done);
        ASSERT_TRUE(quit.value.has_value()) << round << ": " << quit.value.error();
        EXPECT_EQ(*quit.value, Json());
        EXPECT_EQ(held.value.error(), "The native backend stopped. Reopen Velmora before continuing.");

        Outcome late;
        client->request("plain", into(late));
        ASSERT_TRUE(late.done) << "refused before request returns";
        EXPECT_EQ(late.value.error(), "The native backend is unavailable.");
        client.reset();
        process.reset();
        stopped = 0;
    }
}

TEST_F(BackendProcessTest, AnOrphanHoldingTheOutputDoesNotHideTheExit) {
    launch();
    Outcome orphan, held;
    client->request("orphan", into(orphan));
    ASSERT_TRUE(spin_until([&] { return orphan.done; }));
    ASSERT_TRUE(orphan.value.has_value());
    const auto sleeper = orphan.value->get<pid_t>();
    client->request("hold", into(held));
    EXPECT_TRUE(spin_until([&] { return stopped == 1; }, std::chrono::seconds(5)));
    ::kill(sleeper, SIGKILL);
    EXPECT_TRUE(held.done);
}

TEST_F(BackendProcessTest, WritingToADeadBackendIsAnErrorNotASignal) {
    launch();
    Outcome quit;
    client->request("quit", into(quit));
    ASSERT_TRUE(spin_until([&] { return quit.done; }));
    // The child is gone but its end has not been noticed yet: the pipe is broken.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto written = process->write("{\"id\":9}\n");
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), "Broken pipe (os error 32)");
}

TEST(StopGate, StopsOnceBothTheChildAndTheReaderAreDone) {
    for (bool child_first : {true, false}) {
        int stopped = 0;
        StopGate gate([&] { ++stopped; });
        EXPECT_TRUE(gate.child_running());
        if (child_first)
            gate.child_ended();
        else
            gate.reader_done();
        EXPECT_EQ(stopped, 0) << "child first: " << child_first;
        EXPECT_EQ(gate.child_running(), !child_first);
        if (child_first)
            gate.reader_done();
        else
            gate.child_ended();
        EXPECT_EQ(stopped, 1);
        gate.child_ended();
        gate.reader_done();
        EXPECT_EQ(stopped, 1) << "stopped is reported once";
        EXPECT_FALSE(gate.child_running());
    }
}

TEST_F(BackendProcessTest, LaunchFailureNamesTheSystemError) {
    fs::remove(resources / "bin" / "velmora-mac-backend");
    auto launched = BackendProcess::launch_backend(resources.string(), {});
    ASSERT_FALSE(launched);
    EXPECT_EQ(launched.error(), "No such file or directory (os error 2)");
}

}  // namespace
}  // namespace velmora
