#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/movie_builder.h"
#include "support/program_run.h"

namespace velmora {
namespace {

using testing::run_program;

const std::string kUsage =
    "Usage: velmora-engine probe INPUT | write INPUT OUTPUT HH:MM:SS:FF | stamp INPUT HH:MM:SS:FF | unstamp INPUT | "
    "--version\n";
const std::string kNoInput = "No such file or directory (os error 2)\n";
const std::string kInvalidReel = "Invalid reel name\n";

// A write of a missing input with the given reel: an accepted reel reaches the input.
std::vector<std::string> write_with_reel(std::string reel, std::string timecode = "00:00:00:00") {
    return {"write", "/nonexistent/in.mov", "/nonexistent/out.mov", std::move(timecode), std::move(reel)};
}

struct CommandCase {
    const char* name;
    std::vector<std::string> args;  // after the program name
    int status;
    std::string out;  // exact, or "*version*"
    std::string err;
};

TEST(CommandLine, UsageVersionAndArity) {
    // clang-format off
    const CommandCase cases[] = {
        {"no_arguments", {}, 1, "", kUsage},
        {"version", {"--version"}, 0, "*version*", ""},
        {"version_with_more", {"--version", "probe", "x"}, 0, "*version*", ""},
        {"version_prefix_only", {"--versio"}, 1, "", kUsage},
        {"version_longer", {"--version2"}, 1, "", kUsage},
        {"probe_without_path", {"probe"}, 1, "", kUsage},
        {"probe_two_paths", {"probe", "a.mov", "b.mov"}, 1, "", kUsage},
        {"write_two_arguments", {"write", "a.mov", "b.mov"}, 1, "", kUsage},
        {"write_five_arguments", {"write", "a.mov", "b.mov", "00:00:00:00", "A001", "x"}, 1, "", kUsage},
        {"upper_case_word", {"PROBE", "a.mov"}, 1, "", kUsage},
        {"unknown_word", {"help"}, 1, "", kUsage},
        {"empty_word", {""}, 1, "", kUsage},
        {"first_argument_not_utf8", {"probe\xff", "a.mov"}, 1, "", kUsage},
        {"missing_file", {"probe", "/nonexistent/velmora.mov"}, 1, "", "No such file or directory (os error 2)\n"},
        {"write_timecode_not_utf8", {"write", "/nonexistent/in.mov", "/nonexistent/out.mov", "00:00:00:0\xff"}, 1, "",
         "Invalid timecode string\n"},
        // The optional fourth argument of write: the reel, 1 to 32 bytes of UTF-8 without control characters.
        {"reel_one_byte", write_with_reel("A"), 1, "", kNoInput},
        {"reel_32_bytes", write_with_reel(std::string(32, 'R')), 1, "", kNoInput},
        {"reel_32_bytes_of_two_byte_letters", write_with_reel("\xc3\xa9" + std::string(30, 'R')), 1, "", kNoInput},
        {"reel_33_bytes", write_with_reel(std::string(33, 'R')), 1, "", kInvalidReel},
        {"reel_empty", write_with_reel(""), 1, "", kInvalidReel},
        {"reel_with_a_tab", write_with_reel("A001\tC003"), 1, "", kInvalidReel},
        {"reel_with_delete", write_with_reel("A001\x7f"), 1, "", kInvalidReel},
        {"reel_with_a_c1_control", write_with_reel("A001\xc2\x85"), 1, "", kInvalidReel},
        {"reel_not_utf8", write_with_reel("A001\xff"), 1, "", kInvalidReel},
        {"timecode_checked_before_reel", write_with_reel("", "\xff"), 1, "", "Invalid timecode string\n"},
        // stamp INPUT TIMECODE [REEL] checks as write does; unstamp takes one path.
        {"stamp_without_timecode", {"stamp", "a.mov"}, 1, "", kUsage},
        {"stamp_four_arguments", {"stamp", "a.mov", "00:00:00:00", "A001", "x"}, 1, "", kUsage},
        {"stamp_missing_file", {"stamp", "/nonexistent/in.mov", "00:00:00:00", "A001"}, 1, "", kNoInput},
        {"stamp_timecode_not_utf8", {"stamp", "/nonexistent/in.mov", "00:00:00:0\xff"}, 1, "",
         "Invalid timecode string\n"},
        {"stamp_reel_33_bytes", {"stamp", "/nonexistent/in.mov", "00:00:00:00", std::string(33, 'R')}, 1, "",
         kInvalidReel},
        {"stamp_timecode_checked_before_reel", {"stamp", "/nonexistent/in.mov", "\xff", ""}, 1, "",
         "Invalid timecode string\n"},
        {"unstamp_without_path", {"unstamp"}, 1, "", kUsage},
        {"unstamp_two_paths", {"unstamp", "a.mov", "b.mov"}, 1, "", kUsage},
        {"unstamp_missing_file", {"unstamp", "/nonexistent/in.mov"}, 1, "", kNoInput},
    };
    // clang-format on
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> argv{VELMORA_ENGINE};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const auto result = run_program(argv);
        EXPECT_EQ(result.status, c.status);
        if (c.out == "*version*") {
            EXPECT_TRUE(result.out.starts_with("velmora-engine 0.5.0 (")) << result.out;
            EXPECT_TRUE(result.out.ends_with(")\n")) << result.out;
            EXPECT_EQ(result.out.find('\n'), result.out.size() - 1);
        } else {
            EXPECT_EQ(result.out, c.out);
        }
        EXPECT_EQ(result.err, c.err);
    }
}

TEST(CommandLine, ProbePrintsOneReportLine) {
    testing::MovieSpec recipe;
    testing::TempFile file(testing::build_movie_bytes(recipe));
    const auto result = run_program({VELMORA_ENGINE, "probe", file.path()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              "{\"engine\":\"velmora-native\",\"rate\":\"30000/1001\",\"duration\":0.33366666666666667,"
              "\"timecode\":null,\"createdUnix\":null,\"width\":320,\"height\":240,\"codec\":\"h264\","
              "\"videoIndex\":0,\"streams\":[{\"index\":0,\"trackId\":1,\"type\":\"video\",\"codec\":\"h264\","
              "\"tag\":\"avc1\",\"attachedPicture\":false}]}\n");
}

TEST(CommandLine, RefusedProbePrintsOnlyTheMessage) {
    testing::MovieSpec recipe;
    recipe.tracks[0] = testing::video_track("avc1", 100, 1);
    testing::TempFile file(testing::build_movie_bytes(recipe));
    const auto result = run_program({VELMORA_ENGINE, "probe", file.path()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Unsupported frame rate\n");
}

// A FIFO nobody writes to must not hold the probe in open().
TEST(CommandLine, ProbeOfAFifoIsRefusedAtOnce) {
    testing::TempDir dir;
    const std::string fifo = dir.file("FIFO.mov");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto result = run_program({VELMORA_ENGINE, "probe", fifo});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Input is not a regular file\n");
}

TEST(CommandLine, ProbeTakesRawBytePaths) {
    testing::TempDir dir;
    const std::string path = dir.file("\xff\xfe movie.mov");
    testing::write_file(path, testing::build_movie_bytes({}));
    const auto result = run_program({VELMORA_ENGINE, "probe", path});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out.starts_with("{\"engine\":\"velmora-native\""));
}

TEST(CommandLine, InvalidTimecodeOrReelTouchesNoFile) {
    struct Case {
        std::vector<std::string> text;  // the timecode, then the reel if any
        std::string err;
    };
    const Case cases[] = {
        {{"\xc3(:00:00:00"}, "Invalid timecode string\n"},
        {{"00:00:00:00", "A001\nC003"}, kInvalidReel},
    };
    for (const Case& c : cases)
        for (const bool stamp : {false, true}) {
            SCOPED_TRACE(c.err + (stamp ? " stamp" : " write"));
            testing::TempDir dir;
            const std::string input = dir.file("in.mov");
            const std::string output = dir.file("out.mov");
            const Bytes movie = testing::build_movie_bytes({});
            testing::write_file(input, movie);
            std::vector<std::string> argv{VELMORA_ENGINE, "write", input, output};
            if (stamp) argv = {VELMORA_ENGINE, "stamp", input};
            argv.insert(argv.end(), c.text.begin(), c.text.end());
            const auto result = run_program(argv);
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.err, c.err);
            EXPECT_EQ(result.out, "");
            struct stat status {};
            EXPECT_NE(::stat(output.c_str(), &status), 0);
            EXPECT_EQ(testing::read_file(input), movie);
        }
}

}  // namespace
}  // namespace velmora
