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

// ---- stamp and unstamp: the input itself changes, and changes back ----

struct Times {
    timespec access{}, modification{};
    bool operator==(const Times& o) const {
        return access.tv_sec == o.access.tv_sec && access.tv_nsec == o.access.tv_nsec &&
               modification.tv_sec == o.modification.tv_sec && modification.tv_nsec == o.modification.tv_nsec;
    }
};

// Sets times far in the past, so that any read or write would move them.
Times set_old_times(const std::string& path) {
    const timespec times[2] = {{1'500'000'000, 123}, {1'400'000'000, 456}};
    EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    return Times{times[0], times[1]};
}

Times times_of(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return Times{status.st_atim, status.st_mtim};
}

std::uint64_t be64_at(const Bytes& bytes, std::size_t at) {
    return (std::uint64_t{testing::read_u32(bytes, at)} << 32) | testing::read_u32(bytes, at + 4);
}

std::size_t last_moov_offset(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()).rfind("moov") - 4; }

struct StampCase {
    const char* name;
    testing::Atoms (*make)();
    std::string timecode;
    std::string reel;         // empty: none
    std::size_t udta_growth;  // what the record adds to write's moov: 28, or 36 with a new udta
};

testing::Atoms plain_movie() { return testing::build_movie(video_and_audio()); }

testing::Atoms movie_with_udta() {
    testing::Atoms atoms = testing::build_movie(video_and_audio());
    testing::find(atoms, "moov")
        .children.push_back(testing::leaf("udta", Bytes{0, 0, 0, 12, 'n', 'a', 'm', 'e', 0, 0, 0, 1}));
    return atoms;
}

testing::Atoms movie_with_old_timecode() {
    testing::MovieSpec recipe = video_and_audio();
    recipe.tracks.push_back(testing::timecode_track(90000, {0, 25, 1, 25}));
    return testing::build_movie(recipe);
}

TEST(StampCommand, StampRetypesOnlyTheOldMoovAndUnstampGivesTheOriginalBack) {
    const StampCase cases[] = {
        {"moov last, a udta added", plain_movie, "10:00:00:00", "", 36},
        {"udta kept, the record joins it", movie_with_udta, "23:59:59:24", "A001C003", 28},
        {"an old timecode track replaced", movie_with_old_timecode, "01:02:03:04", "", 36},
    };
    for (const StampCase& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDir dir;
        const Bytes original = testing::serialize(c.make());
        const std::string input = dir.file("in.mov");
        testing::write_file(input, original);
        testing::write_file(dir.file("copy.mov"), original);
        const std::string reel = c.reel.empty() ? "" : " " + c.reel;
        const Outcome written =
            run_engine(dir, "write " + dir.file("copy.mov") + " " + dir.file("out.mov") + " " + c.timecode + reel);
        ASSERT_EQ(written.status, 0) << written.err;
        const Bytes write_output = testing::read_file(dir.file("out.mov"));
        const Times before = set_old_times(input);

        const Outcome stamped = run_engine(dir, "stamp " + input + " " + c.timecode + reel);
        ASSERT_EQ(stamped.status, 0) << stamped.err;
        EXPECT_EQ(times_of(input), before);  // before the test reads it
        EXPECT_EQ(stamped.err, "");
        const auto movie = open_movie(input);
        ASSERT_TRUE(movie) << movie.error();
        EXPECT_EQ(stamped.out, probe_report(*movie) + "\n");
        EXPECT_NE(stamped.out.find("\"timecode\":\"" + c.timecode + "\"" +
                                   (c.reel.empty() ? "" : ",\"reel\":\"" + c.reel + "\"") + ",\"appended\":true,"),
                  std::string::npos)
            << stamped.out;

        // The original's bytes but for the old moov's type; then write's mdat and moov, plus the record.
        const Bytes after = testing::read_file(input);
        const std::size_t old_moov = last_moov_offset(original);
        ASSERT_EQ(after.size(), write_output.size() + c.udta_growth);
        Bytes expected_front = original;
        std::copy_n("free", 4, expected_front.begin() + static_cast<std::ptrdiff_t>(old_moov) + 4);
        EXPECT_TRUE(std::equal(expected_front.begin(), expected_front.end(), after.begin()));
        EXPECT_TRUE(std::equal(write_output.begin() + static_cast<std::ptrdiff_t>(original.size()),
                               write_output.begin() + static_cast<std::ptrdiff_t>(original.size()) + 12,
                               after.begin() + static_cast<std::ptrdiff_t>(original.size())));
        EXPECT_EQ(testing::read_u32(after, original.size() + 12),
                  write_output.size() - original.size() - 12 + c.udta_growth);
        const std::string text(after.begin(), after.end());
        const std::size_t record = text.rfind("vlmr") + 4;
        ASSERT_EQ(testing::read_u32(after, record - 8), 28u);
        EXPECT_EQ(testing::read_u32(after, record), 0u);
        EXPECT_EQ(be64_at(after, record + 4), original.size());
        EXPECT_EQ(be64_at(after, record + 12), old_moov);

        const Times stamped_times = set_old_times(input);  // the reads above moved them
        const Outcome unstamped = run_engine(dir, "unstamp " + input);
        EXPECT_EQ(unstamped.status, 0) << unstamped.err;
        EXPECT_EQ(unstamped.out + unstamped.err, "");
        EXPECT_EQ(times_of(input), stamped_times);
        EXPECT_EQ(testing::read_file(input), original);
    }
}

// A stamped movie stamps again: the new record names the stamped file, so
// one unstamp gives that back and a second the original.
TEST(StampCommand, StampingAgainStacksAndUnstampsOneAtATime) {
    testing::TempDir dir;
    const Bytes original = testing::serialize(plain_movie());
    const std::string input = dir.file("in.mov");
    testing::write_file(input, original);
    ASSERT_EQ(run_engine(dir, "stamp " + input + " 10:00:00:00 A001").status, 0);
    const Bytes once = testing::read_file(input);
    const Outcome again = run_engine(dir, "stamp " + input + " 11:00:00:00");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("\"timecode\":\"11:00:00:00\",\"appended\":true,"), std::string::npos) << again.out;
    ASSERT_EQ(run_engine(dir, "unstamp " + input).status, 0);
    EXPECT_EQ(testing::read_file(input), once);
    ASSERT_EQ(run_engine(dir, "unstamp " + input).status, 0);
    EXPECT_EQ(testing::read_file(input), original);
}

// Whatever unstamp cannot prove is a stamp of ours it leaves alone.
TEST(StampCommand, UnstampRefusesAnythingElseAndChangesNothing) {
    struct Case {
        const char* name;
        void (*spoil)(Bytes& stamped, std::size_t original_size);
        bool from_write = false;  // the file is write's output instead of a stamp
    };
    const Case cases[] = {
        {"never stamped", [](Bytes& b, std::size_t n) { b.resize(n); }},
        {"a copy written by write", nullptr, true},
        {"a byte cut off the end", [](Bytes& b, std::size_t) { b.pop_back(); }},
        {"something behind the moov",
         [](Bytes& b, std::size_t) {
             b.insert(b.end(), {0, 0, 0, 8, 'f', 'r', 'e', 'e'});
         }},
        {"recorded length not at the mdat",
         [](Bytes& b, std::size_t) {
             const std::size_t at = std::string(b.begin(), b.end()).rfind("vlmr") + 4;
             b[at + 11] ^= 1;
         }},
        {"recorded offset not at the old moov",
         [](Bytes& b, std::size_t) {
             const std::size_t at = std::string(b.begin(), b.end()).rfind("vlmr") + 4;
             b[at + 19] ^= 4;
         }},
        {"old moov retyped to something else",
         [](Bytes& b, std::size_t) {
             std::copy_n("skip", 4,
                         b.begin() + static_cast<std::ptrdiff_t>(std::string(b.begin(), b.end()).find("free")));
         }},
        {"record of another version",
         [](Bytes& b, std::size_t) { b[std::string(b.begin(), b.end()).rfind("vlmr") + 4] = 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDir dir;
        const Bytes original = testing::serialize(plain_movie());
        const std::string input = dir.file("in.mov");
        testing::write_file(input, original);
        if (c.from_write) {
            ASSERT_EQ(run_engine(dir, "write " + input + " " + dir.file("out.mov") + " 00:00:00:00").status, 0);
            std::filesystem::rename(dir.file("out.mov"), input);
        } else {
            ASSERT_EQ(run_engine(dir, "stamp " + input + " 00:00:00:00").status, 0);
            Bytes stamped = testing::read_file(input);
            c.spoil(stamped, original.size());
            testing::write_file(input, stamped);
        }
        const Bytes before = testing::read_file(input);
        const Times times = set_old_times(input);
        const Outcome outcome = run_engine(dir, "unstamp " + input);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, "Not a movie stamped in place by Velmora\n");
        EXPECT_EQ(times_of(input), times);
        EXPECT_EQ(testing::read_file(input), before);
    }
}

// A stamp killed after its append, before the retyping, left the old moov
// first: unstamp cuts the appended atoms off. Stamp itself refuses such a file.
TEST(StampCommand, UnstampFinishesAnInterruptedStamp) {
    testing::TempDir dir;
    const Bytes original = testing::serialize(plain_movie());
    const std::string input = dir.file("in.mov");
    testing::write_file(input, original);
    ASSERT_EQ(run_engine(dir, "stamp " + input + " 00:00:00:00").status, 0);
    Bytes interrupted = testing::read_file(input);
    std::copy_n("moov", 4, interrupted.begin() + static_cast<std::ptrdiff_t>(last_moov_offset(original)) + 4);
    testing::write_file(input, interrupted);

    const Outcome refused = run_engine(dir, "stamp " + input + " 00:00:00:00");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "Expected one movie metadata atom\n");
    EXPECT_EQ(testing::read_file(input), interrupted);
    const Outcome unstamped = run_engine(dir, "unstamp " + input);
    EXPECT_EQ(unstamped.status, 0) << unstamped.err;
    EXPECT_EQ(testing::read_file(input), original);
}

// A movie the reader refuses is refused with its message, untouched.
TEST(StampCommand, RefusedInputIsLeftAsItWas) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::string err;
    };
    testing::MovieSpec fast;
    fast.tracks[0] = testing::video_track("avc1", 100, 1);
    const Case cases[] = {
        {"not a movie", Bytes{'h', 'e', 'l', 'l', 'o'}, "Truncated movie atom header\n"},
        {"unsupported rate", testing::build_movie_bytes(fast), "Unsupported frame rate\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDir dir;
        const std::string input = dir.file("in.mov");
        testing::write_file(input, c.bytes);
        const Times times = set_old_times(input);
        const Outcome outcome = run_engine(dir, "stamp " + input + " 00:00:00:00");
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_EQ(times_of(input).modification.tv_sec, times.modification.tv_sec);
        EXPECT_EQ(testing::read_file(input), c.bytes);
    }
}

}  // namespace
}  // namespace velmora
