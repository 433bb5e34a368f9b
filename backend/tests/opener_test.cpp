#include "opener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "published_outputs.h"
#include "support/backend_harness.h"
#include "support/fake_openers.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using testing::FakeOpeners;

std::string gdbus_line(const std::string& uri) {
    return "gdbus|call|--session|--dest|org.freedesktop.FileManager1|--object-path|/org/freedesktop/"
           "FileManager1|--method|org.freedesktop.FileManager1.ShowItems|['" +
           uri + "']|";
}

// Puts the fakes first on this process's PATH for one test.
class Opener : public ::testing::Test {
protected:
    void SetUp() override {
        saved_path_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        ::setenv("PATH", (fakes.bin() + ":" + saved_path_).c_str(), 1);
        ::setenv("VELMORA_OPENER_LOG", fakes.log().c_str(), 1);
        state.resources_dir = "/opt/velmora/resources";
    }
    void TearDown() override {
        ::setenv("PATH", saved_path_.c_str(), 1);
        ::unsetenv("VELMORA_OPENER_LOG");
        ::unsetenv("VELMORA_FAKE_GDBUS_EXIT");
        ::unsetenv("VELMORA_FAKE_XDG_OPEN_EXIT");
        ::unsetenv("VELMORA_OPENER_PROBE_FD");
    }

    FakeOpeners fakes;
    ServiceState state;
    std::string saved_path_;
};

TEST_F(Opener, RevealRefusesWhatThisProcessDidNotPublish) {
    record_published_output(state, "/movies/Velmora Output/clip_TC.mov");
    struct Case {
        nlohmann::json args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {nullptr, "Missing output file"},
        {nlohmann::json::array({"/movies/Velmora Output/clip_TC.mov"}), "Missing output file"},
        {nlohmann::json::object(), "Missing output file"},
        {{{"file", 5}}, "Missing output file"},
        {{{"file", nullptr}}, "Missing output file"},
        {{{"file", "/movies/clip.mov"}}, "Unknown output file"},
        {{{"file", "/movies/velmora output/clip_TC.mov"}}, "Unknown output file"},
        {{{"file", "/movies/x/../Velmora Output/clip_TC.mov"}}, "Unknown output file"},
        {{{"file", "/movies/Velmora Output/clip_TC.mov.velmora-backup-1-2-3"}}, "Unknown output file"},
        {{{"file", std::string("/movies/Velmora Output/clip_TC.mov\0x", 36)}}, "Unknown output file"},
    };
    for (const Case& c : cases) {
        const auto result = reveal(state, c.args);
        ASSERT_FALSE(result.has_value()) << c.args.dump();
        EXPECT_EQ(result.error(), c.message) << c.args.dump();
    }
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(fakes.lines().empty());
}

TEST_F(Opener, RevealAcceptsThePublishedPathWrittenDifferently) {
    record_published_output(state, "/movies/Velmora Output/clip_TC.mov");
    const std::vector<std::string> spellings = {
        "/movies/Velmora Output/clip_TC.mov",
        "//movies//Velmora Output/./clip_TC.mov",
        "/movies/Velmora Output/clip_TC.mov/",
    };
    for (const std::string& spelling : spellings) {
        const auto result = reveal(state, {{"file", spelling}});
        ASSERT_TRUE(result.has_value()) << spelling << ": " << result.error();
        EXPECT_TRUE(result->is_null());
    }
    EXPECT_EQ(fakes.wait_for_lines(3).size(), 3u);
}

TEST_F(Opener, RevealAsksTheFileManagerWithAnEscapedUri) {
    const std::string path = "/m\u00fcnchen/it's [50%]/a b.mov";
    record_published_output(state, path);
    ASSERT_TRUE(reveal(state, {{"file", path}}).has_value());
    const auto lines = fakes.wait_for_lines(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].arguments, gdbus_line("file:///m%C3%BCnchen/it%27s%20%5B50%25%5D/a%20b.mov"));
    // The protocol travels on standard output: the opener gets none of it.
    EXPECT_EQ(lines[0].stdin_target, "/dev/null");
    EXPECT_EQ(lines[0].stdout_target, "/dev/null");
}

TEST_F(Opener, RevealFallsBackToOpeningTheFolder) {
    record_published_output(state, "/movies/out/clip_TC.mov");

    ::setenv("VELMORA_FAKE_GDBUS_EXIT", "1", 1);  // no file manager service on the bus
    ASSERT_TRUE(reveal(state, {{"file", "/movies/out/clip_TC.mov"}}).has_value());
    auto lines = fakes.wait_for_lines(2);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].arguments, gdbus_line("file:///movies/out/clip_TC.mov"));
    EXPECT_EQ(lines[1].arguments, "xdg-open|/movies/out");
    EXPECT_EQ(lines[1].stdout_target, "/dev/null");

    ::unsetenv("VELMORA_FAKE_GDBUS_EXIT");
    fakes.remove("gdbus");  // not installed at all
    ASSERT_TRUE(reveal(state, {{"file", "/movies/out/clip_TC.mov"}}).has_value());
    lines = fakes.wait_for_lines(3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].arguments, "xdg-open|/movies/out");

    fakes.remove("xdg-open");
    ::setenv("PATH", fakes.bin().c_str(), 1);
    const auto neither = reveal(state, {{"file", "/movies/out/clip_TC.mov"}});
    ASSERT_FALSE(neither.has_value());
    EXPECT_EQ(neither.error(), "No file manager answered");
}

// The reply waits for the openers' exit statuses, so a desktop where none
// answers is told, not guessed.
TEST_F(Opener, RevealTellsWhenNoFileManagerAnswered) {
    struct Case {
        const char* label;
        const char* gdbus_exit;     // nullptr: not installed
        const char* xdg_open_exit;  // nullptr: not installed
        bool answered;
        std::vector<std::string> programs;
    };
    const std::vector<Case> cases = {
        {"the file manager service", "0", "0", true, {"gdbus"}},
        {"the folder opened", "1", "0", true, {"gdbus", "xdg-open"}},
        {"xdg-open finds no application", "1", "3", false, {"gdbus", "xdg-open"}},
        {"xdg-open fails", "1", "4", false, {"gdbus", "xdg-open"}},
        {"no xdg-open", "1", nullptr, false, {"gdbus"}},
        {"no gdbus, the folder opened", nullptr, "0", true, {"xdg-open"}},
        {"no gdbus, xdg-open fails", nullptr, "4", false, {"xdg-open"}},
        {"neither", nullptr, nullptr, false, {}},
    };
    record_published_output(state, "/movies/out/clip_TC.mov");
    for (const Case& c : cases) {
        FakeOpeners openers;
        ::setenv("PATH", openers.bin().c_str(), 1);  // the fakes, or nothing
        ::setenv("VELMORA_OPENER_LOG", openers.log().c_str(), 1);
        if (c.gdbus_exit == nullptr) openers.remove("gdbus");
        if (c.xdg_open_exit == nullptr) openers.remove("xdg-open");
        ::setenv("VELMORA_FAKE_GDBUS_EXIT", c.gdbus_exit ? c.gdbus_exit : "0", 1);
        ::setenv("VELMORA_FAKE_XDG_OPEN_EXIT", c.xdg_open_exit ? c.xdg_open_exit : "0", 1);
        const auto result = reveal(state, {{"file", "/movies/out/clip_TC.mov"}});
        if (c.answered) {
            ASSERT_TRUE(result.has_value()) << c.label << ": " << result.error();
            EXPECT_TRUE(result->is_null()) << c.label;
        } else {
            ASSERT_FALSE(result.has_value()) << c.label;
            EXPECT_EQ(result.error(), "No file manager answered") << c.label;
        }
        // Waited for: every opener has logged by the time of the reply.
        std::vector<std::string> programs;
        for (const auto& line : openers.lines()) programs.push_back(line.arguments.substr(0, line.arguments.find('|')));
        EXPECT_EQ(programs, c.programs) << c.label;
    }
}

TEST_F(Opener, NoticesOpenThePageUnderTheResourcesFolder) {
    struct Case {
        std::string resources;
        std::string page;
    };
    const std::vector<Case> cases = {
        {"/opt/velmora/resources", "/opt/velmora/resources/notices/index.html"},
        {"/opt/velmora/resources/", "/opt/velmora/resources/notices/index.html"},
        {"relative", "relative/notices/index.html"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        state.resources_dir = cases[i].resources;
        const auto result = third_party_notices(state);
        ASSERT_TRUE(result.has_value()) << result.error();
        EXPECT_TRUE(result->is_null());
        const auto lines = fakes.wait_for_lines(i + 1);
        ASSERT_EQ(lines.size(), i + 1);
        EXPECT_EQ(lines[i].arguments, "xdg-open|" + cases[i].page);
        EXPECT_EQ(lines[i].stdin_target, "/dev/null");
        EXPECT_EQ(lines[i].stdout_target, "/dev/null");
    }
    fakes.remove("xdg-open");
    ::setenv("PATH", fakes.bin().c_str(), 1);
    const auto missing = third_party_notices(state);
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error(), "No such file or directory (os error 2)");
}

TEST_F(Opener, OpenersAreReapedWithoutBeingWaitedFor) {
    record_published_output(state, "/movies/out/clip_TC.mov");
    ::setenv("VELMORA_FAKE_GDBUS_EXIT", "1", 1);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(reveal(state, {{"file", "/movies/out/clip_TC.mov"}}).has_value());
    ASSERT_TRUE(third_party_notices(state).has_value());
    const auto lines = fakes.wait_for_lines(11);
    ASSERT_EQ(lines.size(), 11u);
    // A child that has ended but was never waited for stays in /proc as a zombie.
    for (const auto& line : lines) {
        EXPECT_TRUE(testing::wait_until_gone(line.pid, 5s)) << "opener " << line.pid << " was not reaped";
    }
}

// A descriptor this process holds without close-on-exec (another thread's
// pipe caught between its creation and its flag, or a library's file) must
// not reach an opener, whose desktop program may live on long after it.
TEST_F(Opener, OpenersGetNoDescriptorBeyondTheStandardStreams) {
    const int plain = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(plain, 0);
    const int held = ::fcntl(plain, F_DUPFD, 100);  // F_DUPFD leaves close-on-exec off
    ::close(plain);
    ASSERT_GE(held, 100);
    ::setenv("VELMORA_OPENER_PROBE_FD", std::to_string(held).c_str(), 1);
    ::setenv("VELMORA_FAKE_GDBUS_EXIT", "1", 1);  // so the fallback runs too
    record_published_output(state, "/movies/out/clip_TC.mov");
    ASSERT_TRUE(reveal(state, {{"file", "/movies/out/clip_TC.mov"}}).has_value());
    ASSERT_TRUE(third_party_notices(state).has_value());
    const auto lines = fakes.wait_for_lines(3);
    ::close(held);
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& line : lines) EXPECT_EQ(line.probe, "closed") << line.arguments;
}

}  // namespace
}  // namespace velmora
