// The write command as the backend sees it: the streams and the exit status
// of the real program.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "movie.h"
#include "probe_report.h"
#include "support/movie_builder.h"

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
    const int raw = std::system(
        (shell_prefix + std::string(VELMORA_ENGINE) + " " + arguments + " >" + out + " 2>" + err).c_str());
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
    EXPECT_NE(outcome.out.find(R"({"index":2,"trackId":3,"type":"data","codec":"timecode","tag":"tmcd","attachedPicture":false}]})"),
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
        const Outcome outcome = run_engine(dir, "write " + dir.file("in.mov") + " " + dir.file("masked.mov") +
                                                    " 00:00:00:00", std::string("umask ") + mask + " && ");
        ASSERT_EQ(outcome.status, 0) << outcome.err;
        struct stat status {};
        ASSERT_EQ(::stat(dir.file("masked.mov").c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, mode);
    }
}

}  // namespace
}  // namespace velmora
