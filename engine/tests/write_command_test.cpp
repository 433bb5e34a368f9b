// The write command as the backend sees it: the streams and the exit status
// of the real program.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "movie.h"
#include "probe_report.h"
#include "support/movie_builder.h"

extern char** environ;

namespace velmora {
namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// `shell_prefix` runs in the same shell first, for example a umask.
Outcome run_engine(const testing::TempDir& dir, const std::string& arguments, const std::string& shell_prefix = "") {
    const std::string out = dir.file(".out"), err = dir.file(".err");
    const int raw =
        std::system((shell_prefix + std::string(VELMORA_ENGINE) + " " + arguments + " >" + out + " 2>" + err).c_str());
    return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
}

bool exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

testing::MovieSpec video_and_audio() {
    testing::MovieSpec recipe;
    recipe.tracks = {testing::video_track("avc1", 25, 1, 10), testing::audio_track()};
    return recipe;
}

TEST(WriteCommand, SuccessPrintsTheReportOfTheWrittenFile) {
    testing::TempDir dir;
    testing::write_file(dir.file("in.mov"), testing::build_movie_bytes(video_and_audio()));
    const Outcome outcome = run_engine(dir, "write " + dir.file("in.mov") + " " + dir.file("out.mov") + " 10:00:00:00");
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "progress=0.9\n");

    const auto written = open_movie(dir.file("out.mov"));
    ASSERT_TRUE(written) << written.error();
    EXPECT_EQ(outcome.out, probe_report(*written) + "\n");
    EXPECT_NE(outcome.out.find(
                  R"({"index":2,"trackId":3,"type":"data","codec":"timecode","tag":"tmcd","attachedPicture":false}]})"),
              std::string::npos)
        << outcome.out;
    EXPECT_NE(outcome.out.find(R"("timecode":"10:00:00:00")"), std::string::npos);
}

TEST(WriteCommand, FailuresPrintOneMessageLast) {
    struct Case {
        const char* name;
        bool output_exists;
        std::string timecode;
        std::string expected_err;
    };
    const std::vector<Case> cases = {
        {"existing output", true, "10:00:00:00", "File exists (os error 17)\n"},
        {"bad timecode", false, "10:00:00", "Use HH:MM:SS:FF timecode\n"},
        {"invalid text", false, "\xff\xfe", "Invalid timecode string\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDir dir;
        testing::write_file(dir.file("in.mov"), testing::build_movie_bytes(video_and_audio()));
        if (c.output_exists) testing::write_file(dir.file("out.mov"), Bytes{'x'});
        const Outcome outcome =
            run_engine(dir, "write " + dir.file("in.mov") + " " + dir.file("out.mov") + " '" + c.timecode + "'");
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, c.expected_err);
        EXPECT_EQ(exists(dir.file("out.mov")), c.output_exists);
        if (c.output_exists) {
            EXPECT_EQ(testing::read_file(dir.file("out.mov")), Bytes{'x'});
        }
    }
}

// Created with mode 0666 before the creation mask, like any new file.
TEST(WriteCommand, OutputPermissionsFollowTheCreationMask) {
    for (const auto& [mask, mode] : std::vector<std::pair<const char*, unsigned>>{{"027", 0640u}, {"002", 0664u}}) {
        SCOPED_TRACE(mask);
        testing::TempDir dir;
        testing::write_file(dir.file("in.mov"), testing::build_movie_bytes(video_and_audio()));
        const Outcome outcome =
            run_engine(dir, "write " + dir.file("in.mov") + " " + dir.file("masked.mov") + " 00:00:00:00",
                       std::string("umask ") + mask + " && ");
        ASSERT_EQ(outcome.status, 0) << outcome.err;
        struct stat status {};
        ASSERT_EQ(::stat(dir.file("masked.mov").c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, mode);
    }
}

// An engine killed while it copies must leave nothing under OUTPUT. Its
// standard error is a pipe filled beforehand, so the first progress line
// holds it right after the first 4 MiB chunk: mid-write, every time.
TEST(WriteCommand, KilledMidWriteLeavesNoOutput) {
    testing::TempDir dir;
    testing::MovieSpec recipe = video_and_audio();
    testing::Atoms atoms = testing::build_movie(recipe);
    atoms.push_back(testing::leaf("free", Bytes(12 << 20, 0x5A)));
    testing::write_file(dir.file("in.mov"), testing::serialize(atoms));

    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    const std::string filler(4096, 'x');
    while (::write(ends[1], filler.data(), filler.size()) > 0) {
    }
    ASSERT_EQ(::fcntl(ends[1], F_SETFL, 0), 0);  // the engine's writes block again

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
    const std::string in = dir.file("in.mov"), out = dir.file("out.mov");
    std::vector<char*> argv{const_cast<char*>(VELMORA_ENGINE), const_cast<char*>("write"),
                            const_cast<char*>(in.c_str()),     const_cast<char*>(out.c_str()),
                            const_cast<char*>("00:00:00:00"),  nullptr};
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, VELMORA_ENGINE, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // Wait until the engine's output (any regular file it holds but the
    // input) has grown past its first chunk.
    struct stat input {};
    ASSERT_EQ(::stat(in.c_str(), &input), 0);
    const auto written_so_far = [&] {
        std::uint64_t size = 0;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored)) {
            struct stat status {};
            if (::stat(entry.path().c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_ino != input.st_ino)
                size = std::max(size, static_cast<std::uint64_t>(status.st_size));
        }
        return size;
    };
    for (int i = 0; i < 500 && written_so_far() < (4u << 20); ++i) ::usleep(10000);
    EXPECT_GE(written_so_far(), 4u << 20);
    EXPECT_FALSE(exists(out));

    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    int raw = 0;
    ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(raw));
    ::close(ends[0]);
    ::close(ends[1]);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"in.mov"});
}

}  // namespace
}  // namespace velmora
