#include "engine_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "json_text.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

std::string fake_engine() {
    return (std::filesystem::path(__FILE__).parent_path() / "fake_engines" / "scripted_engine.sh").string();
}

// A probe or write case for the scripted engine: it picks its behaviour from
// the last path component.
std::string case_path(const std::string& name) { return "/nonexistent/cases/" + name + ".mov"; }

int count_open_descriptors() {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return -1;
    while (dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    ::closedir(dir);
    return count;
}

// True when this process has no child left, running or unreaped.
bool no_child_left() {
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-runner-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string join(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Records the progress calls of one write.
struct ProgressLog {
    std::mutex mutex;
    std::vector<double> values;
    std::thread::id caller;
    ProgressSink sink() {
        return [this](double value) {
            std::lock_guard lock(mutex);
            values.push_back(value);
            caller = std::this_thread::get_id();
        };
    }
};

// Every run must leave the descriptor table and the child list as it found them.
class EngineRunnerTest : public ::testing::Test {
protected:
    void SetUp() override { descriptors_before_ = count_open_descriptors(); }
    void TearDown() override {
        EXPECT_EQ(count_open_descriptors(), descriptors_before_) << "a descriptor leaked";
        EXPECT_TRUE(no_child_left()) << "a child was left unreaped";
    }

    Status write_case(const std::string& name, ProgressLog& log, const std::atomic<bool>& cancel) {
        return write_timecode(fake_engine(), case_path(name), temp_.join("out.mov"), "01:00:00:00", cancel, log.sink());
    }

    TempFolder temp_;
    int descriptors_before_ = 0;
};

struct ProbeCase {
    const char* name;
    bool succeeds;
    const char* expected;  // the report's compact text, or the message
};

TEST_F(EngineRunnerTest, ProbeOutcomes) {
    const ProbeCase cases[] = {
        {"report", true, R"({"engine":"velmora-native","rate":"25/1","streams":[]})"},
        {"empty-array", true, "[]"},
        {"spaced-failure", false, "Unsupported frame rate"},
        {"silent-failure", false, ""},
        {"report-then-failure", false, "late failure"},
        {"lossy-failure", false,
         "\xEF\xBF\xBD"
         "bad \xEF\xBF\xBD"},
        {"killed", false, "dying"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto report = probe_movie(fake_engine(), case_path(c.name));
        ASSERT_EQ(report.has_value(), c.succeeds) << (report ? report->dump() : report.error());
        if (c.succeeds)
            EXPECT_EQ(report->dump(), c.expected);
        else
            EXPECT_EQ(report.error(), c.expected);
    }
}

// Unparsable output fails with the JSON module's message for exactly those bytes.
TEST_F(EngineRunnerTest, ProbeOutputThatIsNoJsonDocument) {
    const std::pair<const char*, const char*> cases[] = {
        {"no-output", ""},
        {"not-json", "not json\n"},
        {"trailing-text", "{} x\n"},
    };
    for (const auto& [name, output] : cases) {
        SCOPED_TRACE(name);
        auto report = probe_movie(fake_engine(), case_path(name));
        ASSERT_FALSE(report);
        auto expected = parse_json(output);
        ASSERT_FALSE(expected);
        EXPECT_EQ(report.error(), expected.error());
        EXPECT_NE(report.error().find(" at line 1 column "), std::string::npos) << report.error();
    }
}

// An engine that never answers (a FIFO, a stalled mount) is killed, with its
// children, when the probe's time is up; one that answers in time is not.
TEST_F(EngineRunnerTest, ProbeThatOutlivesItsTimeLimitIsKilled) {
    const ProbeCase cases[] = {
        {"never-answers", false, "The engine did not answer within 60 seconds."},
        {"closes-streams-and-stays", false, "The engine did not answer within 60 seconds."},
        {"answers-after-a-pause", true, "{}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto started = std::chrono::steady_clock::now();
        auto report = probe_movie(fake_engine(), case_path(c.name), 1500ms);
        ASSERT_EQ(report.has_value(), c.succeeds) << (report ? report->dump() : report.error());
        EXPECT_EQ(c.succeeds ? report->dump() : report.error(), c.expected);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
    }
}

TEST_F(EngineRunnerTest, ProbeDrainsBothLargeStreamsTogether) {
    auto future = std::async(std::launch::async, [] { return probe_movie(fake_engine(), case_path("big-streams")); });
    ASSERT_EQ(future.wait_for(20s), std::future_status::ready) << "the probe stalled on a full pipe";
    auto report = future.get();
    ASSERT_TRUE(report) << report.error();
    ASSERT_TRUE(report->is_array());
    EXPECT_EQ(report->size(), 200000u);
}

TEST_F(EngineRunnerTest, EngineStandardInputIsTheNullDevice) {
    auto report = probe_movie(fake_engine(), case_path("stdin"));
    ASSERT_TRUE(report) << report.error();
    EXPECT_EQ((*report)["stdin"], "/dev/null");

    ProgressLog log;
    std::atomic<bool> cancel{false};
    ASSERT_TRUE(write_case("streams", log, cancel));
    EXPECT_EQ(read_text(temp_.join("out.mov")), "/dev/null\n/dev/null\n");
}

TEST_F(EngineRunnerTest, WritePassesEachArgumentUnchanged) {
    const std::string source = "/tmp/odd dir 'single' \"double\" $(echo x); *|&/arguments.mov";
    const std::string output = temp_.join("out with space.mov");
    std::atomic<bool> cancel{false};
    const std::string arguments = "write\n" + source + "\n" + output + "\n01:00:00;00\n";
    // An empty reel adds no argument; any other is one argument, as given.
    const std::pair<std::string, std::string> cases[] = {
        {"", arguments},
        {"A001", arguments + "A001\n"},
        {" Card 'B' $(x) ", arguments + " Card 'B' $(x) \n"},
    };
    for (const auto& [reel, expected] : cases) {
        SCOPED_TRACE(reel);
        std::filesystem::remove(output);
        auto written = write_timecode(fake_engine(), source, output, "01:00:00;00", cancel, {}, reel);
        ASSERT_TRUE(written) << written.error();
        EXPECT_EQ(read_text(output), expected);
    }
}

// The process ids of this process's children whose program is `command`.
std::vector<pid_t> children_running(const std::string& command) {
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string stat = read_text(entry.path().string() + "/stat");
        auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 2));
        char state;
        pid_t parent = 0;
        fields >> state >> parent;
        std::string comm = read_text(entry.path().string() + "/comm");
        if (parent == ::getpid() && comm == command + "\n") found.push_back(std::stoi(name));
    }
    return found;
}

std::set<int> open_descriptors_of(pid_t pid) {
    std::set<int> descriptors;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        descriptors.insert(std::stoi(entry.path().filename().string()));
    return descriptors;
}

TEST_F(EngineRunnerTest, OnlyTheStandardStreamsReachTheEngine) {
    // A descriptor opened without close-on-exec elsewhere in the process.
    int stray = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 0);
    ASSERT_EQ(::dup2(stray, 200), 200);
    ::close(stray);

    std::atomic<bool> cancel{false};
    auto running = std::async(std::launch::async, [&] {
        return write_timecode(fake_engine(), case_path("sleep"), temp_.join("out.mov"), "00:00:00:00", cancel, {});
    });
    std::vector<pid_t> engines;
    for (int tries = 0; tries < 400 && engines.empty(); ++tries) {
        std::this_thread::sleep_for(25ms);
        engines = children_running("sleep");
    }
    std::set<int> descriptors;
    if (engines.size() == 1) descriptors = open_descriptors_of(engines[0]);
    cancel = true;
    auto result = running.get();
    ::close(200);

    ASSERT_EQ(engines.size(), 1u);
    EXPECT_EQ(descriptors, (std::set<int>{0, 1, 2}));
    EXPECT_EQ(result.error(), "Cancelled.");
}

TEST_F(EngineRunnerTest, MissingOrUnrunnableEngineGivesTheSystemErrorText) {
    const std::string missing = temp_.join("bin/velmora-engine");
    const std::string not_executable = temp_.join("velmora-engine");
    std::ofstream(not_executable) << "#!/bin/sh\n";
    std::filesystem::permissions(not_executable, std::filesystem::perms::owner_read);
    std::atomic<bool> cancel{false};

    const std::pair<std::string, std::string> cases[] = {
        {missing, "No such file or directory (os error 2)"},
        {not_executable, "Permission denied (os error 13)"},
    };
    for (const auto& [engine, message] : cases) {
        SCOPED_TRACE(engine);
        auto report = probe_movie(engine, case_path("report"));
        ASSERT_FALSE(report);
        EXPECT_EQ(report.error(), message);
        auto written = write_timecode(engine, case_path("success"), temp_.join("out.mov"), "00:00:00:00", cancel, {});
        ASSERT_FALSE(written);
        EXPECT_EQ(written.error(), message);
    }
}

TEST_F(EngineRunnerTest, PathWithNulByteIsRefusedBeforeAnyEngineRuns) {
    const std::string with_nul("/tmp/a\0/report.mov", 18);
    std::atomic<bool> cancel{false};
    auto report = probe_movie(fake_engine(), with_nul);
    ASSERT_FALSE(report);
    EXPECT_EQ(report.error(), "Invalid path: it contains a NUL byte.");

    const std::string output = temp_.join("out.mov");
    for (const auto& [source, target] : {std::pair{with_nul, output}, std::pair{case_path("success"), output + '\0'}}) {
        auto written = write_timecode(fake_engine(), source, target, "00:00:00:00", cancel, {});
        ASSERT_FALSE(written);
        EXPECT_EQ(written.error(), "Invalid path: it contains a NUL byte.");
    }
    auto written =
        write_timecode(fake_engine(), case_path("success"), output, std::string("00:00:00:00\0x", 13), cancel, {});
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), "Invalid timecode: it contains a NUL byte.");
    written = write_timecode(fake_engine(), case_path("arguments"), output, "00:00:00:00", cancel, {},
                             std::string("A\0B", 3));
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), "Invalid reel name");
    EXPECT_FALSE(std::filesystem::exists(output));
}

std::string flood_lines(int count, int width) {
    std::string text;
    for (int i = 1; i <= count; ++i) {
        char number[16];
        std::snprintf(number, sizeof number, "%05d", i);
        std::string line = std::string("status line ") + number + " ";
        line.resize(static_cast<std::size_t>(width), 'x');
        if (i > 1) text += '\n';
        text += line;
    }
    return text;
}

struct WriteCase {
    const char* name;
    std::string message;  // empty: success
    std::vector<double> progress;
};

TEST_F(EngineRunnerTest, WriteOutcomes) {
    const double nan = std::nan("");
    const WriteCase cases[] = {
        {"success", "", {0, 0.5, 1}},
        {"progress-table",
         "progress= 0.5\nprogress=abc\nprogress=\nprogress=0.5 \nprogressx=0.5\nprogress=0x1p-1",
         {0.5, 1, 0, 0.25, 0.1, 0, 0.5, nan, 1, 1}},
        {"carriage-return-at-end", "progress=0.5", {}},
        {"message", "Output already exists", {}},
        // 100-byte lines reach 12,000 exactly after 120 lines: no more is kept.
        {"flood-100", flood_lines(120, 99), {}},
        // 101-byte lines: the 119th starts below the limit and carries past it.
        {"flood-101", flood_lines(119, 100), {}},
        {"progress-only", "Native timecode engine failed.", {0.1, 0.9}},
        {"blank-status", "Native timecode engine failed.", {}},
        {"killed", "Native timecode engine failed.", {}},
        {"invalid-utf8", "stream did not contain valid UTF-8", {}},
        {"truncated-utf8", "stream did not contain valid UTF-8", {}},
        {"long-line", std::string(8191, 'a') + "\xE2\x82\xAC", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProgressLog log;
        std::atomic<bool> cancel{false};
        auto written = write_case(c.name, log, cancel);
        if (c.message.empty())
            EXPECT_TRUE(written) << written.error();
        else
            EXPECT_EQ(written ? std::string("(success)") : written.error(), c.message);
        ASSERT_EQ(log.values.size(), c.progress.size());
        for (std::size_t i = 0; i < c.progress.size(); ++i) {
            if (std::isnan(c.progress[i]))
                EXPECT_TRUE(std::isnan(log.values[i])) << i;
            else
                EXPECT_EQ(log.values[i], c.progress[i]) << i;
        }
        if (!c.progress.empty()) {
            EXPECT_NE(log.caller, std::this_thread::get_id());
        }
    }
}

TEST_F(EngineRunnerTest, ReaderThatFailedOnBadTextDoesNotStallTheEngine) {
    std::atomic<bool> cancel{false};
    auto running = std::async(std::launch::async, [&] {
        return write_timecode(fake_engine(), case_path("invalid-utf8-then-flood"), temp_.join("out.mov"), "00:00:00:00",
                              cancel, {});
    });
    const bool ended = running.wait_for(20s) == std::future_status::ready;
    if (!ended) cancel = true;  // let the call return so the test can finish
    ASSERT_TRUE(ended) << "the engine stalled on a pipe nobody reads";
    auto result = running.get();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), "stream did not contain valid UTF-8");
}

TEST_F(EngineRunnerTest, CancelKillsARunningEngineWithinAFewPollIntervals) {
    for (const char* name : {"sleep", "sleep-in-child", "progress-then-sleep"}) {
        SCOPED_TRACE(name);
        std::atomic<bool> cancel{false};
        std::promise<void> started;
        std::once_flag once;
        ProgressSink sink = [&](double) { std::call_once(once, [&] { started.set_value(); }); };
        auto begun = std::chrono::steady_clock::now();
        auto running = std::async(std::launch::async, [&] {
            return write_timecode(fake_engine(), case_path(name), temp_.join("out.mov"), "00:00:00:00", cancel, sink);
        });
        if (std::string(name) == "progress-then-sleep")
            ASSERT_EQ(started.get_future().wait_for(10s), std::future_status::ready);
        else
            std::this_thread::sleep_for(200ms);
        ASSERT_EQ(running.wait_for(0s), std::future_status::timeout) << "the engine ended by itself";

        auto cancelled_at = std::chrono::steady_clock::now();
        cancel = true;
        ASSERT_EQ(running.wait_for(10s), std::future_status::ready);
        auto took = std::chrono::steady_clock::now() - cancelled_at;
        auto result = running.get();
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error(), "Cancelled.");
        EXPECT_LT(took, 500ms) << "took " << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                               << " ms";
        EXPECT_LT(std::chrono::steady_clock::now() - begun, 10s);
        EXPECT_TRUE(no_child_left());
    }
}

TEST_F(EngineRunnerTest, CancelReportsCancelledEvenWhenTheEngineSucceeded) {
    std::atomic<bool> cancel{false};
    // The flag goes up while the successful engine is ending.
    ProgressSink sink = [&](double value) {
        if (value == 1) cancel = true;
    };
    auto written =
        write_timecode(fake_engine(), case_path("success"), temp_.join("out.mov"), "00:00:00:00", cancel, sink);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), "Cancelled.");

    std::atomic<bool> raised{true};
    auto begun = std::chrono::steady_clock::now();
    written = write_timecode(fake_engine(), case_path("sleep"), temp_.join("out.mov"), "00:00:00:00", raised, {});
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), "Cancelled.");
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 5s);
}

// The end of the status stream wakes the wait at once: a short write is over
// when its engine is, not on the next poll tick (every write took at least one
// whole interval when the loop only slept).
TEST_F(EngineRunnerTest, ShortWriteEndsWithItsEngineNotOnTheNextPollTick) {
    std::atomic<bool> cancel{false};
    std::vector<std::chrono::steady_clock::duration> took;
    for (int run = 0; run < 9; ++run) {
        auto begun = std::chrono::steady_clock::now();
        auto written =
            write_timecode(fake_engine(), case_path("success"), temp_.join("out.mov"), "00:00:00:00", cancel, {});
        took.push_back(std::chrono::steady_clock::now() - begun);
        ASSERT_TRUE(written) << written.error();
    }
    std::ranges::sort(took);
    EXPECT_LT(took[took.size() / 2], write_poll_interval)
        << std::chrono::duration_cast<std::chrono::milliseconds>(took[took.size() / 2]).count() << " ms";
}

// An engine that closes its standard error and goes on is still waited for:
// its exit status decides, not the end of the stream.
TEST_F(EngineRunnerTest, EngineThatFallsSilentIsWaitedForUntilItExits) {
    std::atomic<bool> cancel{false};
    auto begun = std::chrono::steady_clock::now();
    auto written = write_timecode(fake_engine(), case_path("quiet-then-succeeds"), temp_.join("out.mov"), "00:00:00:00",
                                  cancel, {});
    EXPECT_TRUE(written) << written.error();
    EXPECT_GE(std::chrono::steady_clock::now() - begun, 300ms);

    written =
        write_timecode(fake_engine(), case_path("quiet-then-fails"), temp_.join("out.mov"), "00:00:00:00", cancel, {});
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), "Native timecode engine failed.");
    EXPECT_TRUE(no_child_left());
}

TEST_F(EngineRunnerTest, ProgressSinkThatThrowsEndsTheReaderAbnormally) {
    std::atomic<bool> cancel{false};
    ProgressSink sink = [](double) { throw std::runtime_error("sink broke"); };
    auto written =
        write_timecode(fake_engine(), case_path("success"), temp_.join("out.mov"), "00:00:00:00", cancel, sink);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), "Engine status reader failed");
}

struct NumberCase {
    const char* text;
    std::optional<double> value;  // nothing: not a number
};

TEST(DecimalNumber, AcceptsThePlainDecimalFormOnly) {
    const double inf = std::numeric_limits<double>::infinity();
    // clang-format off
    const NumberCase cases[] = {
        {"0.5", 0.5},       {"1", 1},          {"-2", -2},        {"+.5", 0.5},       {"5.", 5},
        {"1e-1", 0.1},      {"1.5E+2", 150},   {"inf", inf},      {"-Infinity", -inf}, {"INF", inf},
        {"1e400", inf},     {"-1e400", -inf},  {"1e-400", 0},     {"0.000e999999999999", 0},
        {"", std::nullopt}, {".", std::nullopt}, {"e5", std::nullopt}, {"1e", std::nullopt},
        {"1e+", std::nullopt}, {" 0.5", std::nullopt}, {"0.5 ", std::nullopt}, {"0x10", std::nullopt},
        {"1_0", std::nullopt}, {"--1", std::nullopt}, {"nan(1)", std::nullopt}, {"infinit", std::nullopt},
        {"1.2.3", std::nullopt}, {"+", std::nullopt},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto value = parse_decimal_number(c.text);
        ASSERT_EQ(value.has_value(), c.value.has_value());
        if (value) {
            EXPECT_EQ(*value, *c.value);
        }
    }
    auto nan = parse_decimal_number("-nan");
    ASSERT_TRUE(nan);
    EXPECT_TRUE(std::isnan(*nan));
}

}  // namespace
}  // namespace velmora
