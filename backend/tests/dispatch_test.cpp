// dispatch_command and emit_message in-process.

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "json_text.h"
#include "output_lines.h"
#include "protocol.h"
#include "settings.h"
#include "support/backend_harness.h"

namespace velmora {
namespace {

using nlohmann::json;

TEST(DispatchCommand, BusyAndCancelUseTheFlags) {
    ServiceState state;
    EXPECT_EQ(dispatch_command(state, "busy", nullptr), json(false));
    state.busy.store(true);
    EXPECT_EQ(dispatch_command(state, "busy", nullptr), json(true));
    EXPECT_FALSE(state.cancel.load());
    EXPECT_EQ(dispatch_command(state, "cancel", json::array()), json());
    EXPECT_TRUE(state.cancel.load());
    EXPECT_EQ(dispatch_command(state, "cancel", nullptr), json());
    EXPECT_TRUE(state.cancel.load());
}

TEST(DispatchCommand, LoadSettingsReturnsTheInMemoryCopy) {
    ServiceState state;
    state.settings = normalize_settings(json{{"mode", "drop"}});
    EXPECT_EQ(dispatch_command(state, "load_settings", json{{"ignored", 1}}), state.settings);
}

TEST(DispatchCommand, SaveSettingsNormalisesAndStores) {
    testing::TempDir home;
    ServiceState state;
    state.data_dir = home.join("data");
    state.settings = default_settings();
    EXPECT_EQ(dispatch_command(state, "save_settings", json{{"value", {{"copy", false}, {"x", 1}}}}), json());
    EXPECT_EQ(state.settings, normalize_settings(json{{"copy", false}}));
    EXPECT_EQ(testing::read_file(home.join("data/settings.json")), to_pretty_json(state.settings));
}

TEST(DispatchCommand, NamesMatchExactly) {
    ServiceState state;
    for (const char* name : {"Busy", "busy ", " busy", "bus", "busyy", "", "CANCEL", "load-settings", "Restore",
                             "save-report", "saveReport", "remove-backups", "remove_backup"}) {
        const auto outcome = dispatch_command(state, name, json::object());
        ASSERT_FALSE(outcome.has_value()) << name;
        EXPECT_EQ(outcome.error(), "Unknown native command") << name;
    }
    EXPECT_FALSE(state.cancel.load());
    // The newer commands are routed and check their own arguments.
    EXPECT_EQ(dispatch_command(state, "restore", json::object()).error(), "invalid type: null, expected a string");
    EXPECT_EQ(dispatch_command(state, "save_report", json{{"path", 1}}).error(),
              "invalid type: integer `1`, expected a string");
    EXPECT_EQ(dispatch_command(state, "remove_backups", json{{"ids", "a"}}).error(),
              "invalid type: string \"a\", expected a sequence");
    EXPECT_EQ(dispatch_command(state, "remove_backups", json{{"ids", {"unknown"}}}),
              (json{{"kept", json::array()}, {"removed", json::array()}}));
}

// Captures what emit_message writes to standard output through a pipe.
class StdoutCapture {
public:
    StdoutCapture() {
        int ends[2];
        EXPECT_EQ(::pipe(ends), 0);
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        ::dup2(ends[1], STDOUT_FILENO);
        ::close(ends[1]);
        read_end_ = ends[0];
        reader_ = std::thread([this] {
            char buffer[65536];
            ssize_t got;
            while ((got = ::read(read_end_, buffer, sizeof buffer)) > 0)
                text_.append(buffer, static_cast<std::size_t>(got));
        });
    }
    // Restores standard output and returns everything written meanwhile.
    std::string finish() {
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        reader_.join();
        ::close(read_end_);
        return text_;
    }

private:
    int saved_ = -1;
    int read_end_ = -1;
    std::thread reader_;
    std::string text_;
};

TEST(EmitMessage, LinesFromManyThreadsNeverInterleave) {
    constexpr int kThreads = 6;
    constexpr int kPerThread = 15;
    // Far above the pipe's atomic write size, so only the lock keeps lines whole.
    const std::string filler(200000, 'x');
    StdoutCapture capture;
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                emit_message(json{{"event", "progress"}, {"payload", {{"id", t}, {"index", i}, {"fill", filler}}}});
            }
        });
    }
    for (auto& thread : threads) thread.join();
    const std::string text = capture.finish();

    std::vector<int> next_index(kThreads, 0);
    std::size_t start = 0;
    int lines = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "unterminated last line";
        const auto message = parse_json(std::string_view(text).substr(start, end - start));
        ASSERT_TRUE(message.has_value()) << "torn line " << lines << ": " << message.error();
        const int id = (*message)["payload"]["id"].get<int>();
        EXPECT_EQ((*message)["payload"]["index"], next_index.at(id)++);  // each thread's order is kept
        start = end + 1;
        ++lines;
    }
    EXPECT_EQ(lines, kThreads * kPerThread);
}

TEST(EmitMessage, WritesCompactSortedJsonAndALineFeed) {
    StdoutCapture capture;
    emit_message(json::parse(R"({"payload":{"total":2,"id":"a","index":0,"progress":0.5},"event":"progress"})"));
    emit_message(json{{"id", 1}, {"result", std::string("bad \xff byte")}});
    EXPECT_EQ(capture.finish(),
              "{\"event\":\"progress\",\"payload\":{\"id\":\"a\",\"index\":0,\"progress\":0.5,\"total\":2}}\n"
              "{\"id\":1,\"result\":\"bad \xef\xbf\xbd byte\"}\n");
}

}  // namespace
}  // namespace velmora
