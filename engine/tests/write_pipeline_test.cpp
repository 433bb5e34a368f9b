// The whole write command on generated movies: the output's layout, the
// progress lines, and that no failure after creation leaves an output behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "movie.h"
#include "output_file.h"
#include "platform.h"
#include "rewriter.h"
#include "support/movie_builder.h"

namespace velmora {
namespace {

using testing::MovieSpec;
using testing::TempDir;

constexpr std::uint64_t kMiB = std::uint64_t{1024} * 1024;

bool exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

MovieSpec video_and_audio() {
    MovieSpec recipe;
    recipe.tracks = {testing::video_track("avc1", 25, 1, 10), testing::audio_track()};
    return recipe;
}

// The movie padded with a trailing free atom to exactly `size` bytes.
Bytes movie_of_size(const MovieSpec& recipe, std::uint64_t size) {
    testing::Atoms atoms = testing::build_movie(recipe);
    const std::uint64_t used = testing::serialize(atoms).size();
    atoms.push_back(testing::leaf("free", Bytes(size - used - 8, 0x5A)));
    Bytes bytes = testing::serialize(atoms);
    EXPECT_EQ(bytes.size(), size);
    return bytes;
}

struct Captured {
    std::vector<std::string> progress;
    std::vector<std::string> reports;
};

WriteEvents capturing(Captured& captured, std::function<void(const std::string&)> before_verification = nullptr) {
    return WriteEvents{
        [&captured](std::string_view line) { captured.progress.emplace_back(line); },
        [&captured](std::string_view line) { captured.reports.emplace_back(line); },
        std::move(before_verification),
    };
}

void overwrite_at(const std::string& path, std::uint64_t offset, const Bytes& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

std::uint64_t find_bytes(const Bytes& haystack, const Bytes& needle, std::uint64_t from) {
    const auto at =
        std::search(haystack.begin() + static_cast<std::ptrdiff_t>(from), haystack.end(), needle.begin(), needle.end());
    return static_cast<std::uint64_t>(at - haystack.begin());
}

TEST(WriteMovie, OutputIsTheInputPlusTheNewAtoms) {
    struct Case {
        const char* name;
        MovieSpec recipe;
        bool extended_moov;
        std::string timecode;
        std::optional<std::string> reel;
    };
    MovieSpec drop = video_and_audio();
    drop.tracks[0] = testing::video_track("avc1", 30000, 1001, 10);
    drop.tracks[0].edits = std::vector<testing::EditEntry>{{10010, 0, 0x10000}};
    // Phone footage: 29.97 at time scale 600 closed by a zero-length frame,
    // starting late with a B-frame delay, beside a camera metadata track of
    // zero-length samples.
    MovieSpec phone = video_and_audio();
    phone.tracks[0].timescale = 600;
    phone.tracks[0].timing = {{10, 20}, {1, 21}, {10, 20}, {1, 0}};
    phone.tracks[0].edits = std::vector<testing::EditEntry>{{600, -1, 0x10000}, {421, 40, 0x10000}};
    phone.tracks[1].handler = "meta";
    phone.tracks[1].sample_entry = "mebx";
    phone.tracks[1].timing = {{5, 0}};
    // An iPhone clip: its moov/meta, after the tracks, is copied with the rest.
    MovieSpec recorded = video_and_audio();
    recorded.creation_date = "2019-07-24T11:25:40+0300";
    // A phone's constant 1501 at 90000 (59.94), its media header a frame past
    // the samples, beside a second video track without samples.
    MovieSpec constant_phone = video_and_audio();
    constant_phone.tracks[0] = testing::video_track("avc1", 90000, 1501, 10);
    constant_phone.tracks[0].media_duration = 16511;
    constant_phone.tracks[1] = testing::video_track();
    constant_phone.tracks[1].timing = {};
    const std::vector<Case> cases = {
        {"25 fps", video_and_audio(), false, "10:00:00:00"},
        {"recorded time", recorded, false, "11:25:40:00"},
        {"phone's constant 59.94 drop-frame beside an empty video track", constant_phone, false, "01:00:00;00"},
        {"29.97 drop-frame with an edit list", drop, false, "01:00:00;00"},
        {"phone footage labelled 29.97 drop-frame", phone, false, "01:00:00;00"},
        {"extended moov header", video_and_audio(), true, "00:59:59:24"},
        {"25 fps with a reel", video_and_audio(), false, "10:00:00:00", "A001C003"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        testing::Atoms atoms = testing::build_movie(c.recipe);
        testing::find(atoms, "moov").large_size = c.extended_moov;
        const Bytes input = testing::serialize(atoms);
        testing::write_file(dir.file("in.mov"), input);

        const auto source = open_movie(dir.file("in.mov"));
        ASSERT_TRUE(source) << source.error();
        const auto plan = plan_write(*source, c.timecode, c.reel);
        ASSERT_TRUE(plan) << plan.error();
        const std::uint64_t moov_offset = source->atoms.back().offset;

        Captured captured;
        const Status written =
            write_movie(dir.file("in.mov"), dir.file("out.mov"), c.timecode, capturing(captured), c.reel);
        ASSERT_TRUE(written) << written.error();

        EXPECT_EQ(testing::read_file(dir.file("in.mov")), input) << "the input changed";
        const Bytes output = testing::read_file(dir.file("out.mov"));
        const std::uint64_t n = input.size();
        ASSERT_EQ(output.size(), n + 12 + plan->moov.size());
        for (std::uint64_t i = 0; i < n; ++i) {
            const bool patched = i >= moov_offset + 4 && i < moov_offset + 8;
            if (!patched && output[i] != input[i]) FAIL() << "byte " << i << " differs";
        }
        EXPECT_EQ(Bytes(output.begin() + static_cast<std::ptrdiff_t>(moov_offset + 4),
                        output.begin() + static_cast<std::ptrdiff_t>(moov_offset + 8)),
                  (Bytes{'f', 'r', 'e', 'e'}));
        if (c.extended_moov) {
            EXPECT_EQ(output[moov_offset + 3], 1) << "the extended size field must stay";
        }
        EXPECT_EQ(Bytes(output.begin() + static_cast<std::ptrdiff_t>(n),
                        output.begin() + static_cast<std::ptrdiff_t>(n + 12)),
                  plan->sample_atom);
        EXPECT_EQ(Bytes(output.begin() + static_cast<std::ptrdiff_t>(n + 12), output.end()), plan->moov);

        const auto reread = open_movie(dir.file("out.mov"));
        ASSERT_TRUE(reread) << reread.error();
        EXPECT_EQ(reread->existing_timecode, c.timecode);
        EXPECT_EQ(reread->recorded_time, source->recorded_time);
        EXPECT_EQ(reread->recorded_time.has_value(), c.recipe.creation_date.has_value());
        EXPECT_EQ(reread->existing_reel, c.reel);
        EXPECT_EQ(reread->tracks.back().sample_entry, FourCC("tmcd"));
        EXPECT_EQ(reread->tracks.back().track_id, 3u);
        ASSERT_EQ(captured.reports.size(), 1u);
        EXPECT_EQ(captured.reports[0].back(), '\n');
        EXPECT_NE(captured.reports[0].find("\"timecode\":\"" + c.timecode + "\""), std::string::npos);
        EXPECT_EQ(captured.reports[0].ends_with("\"recordedOffset\":\"+03:00\"}\n"),
                  c.recipe.creation_date.has_value());
        EXPECT_EQ(captured.reports[0].find("\"reel\":\"A001C003\"") != std::string::npos, c.reel.has_value());
    }
}

TEST(WriteMovie, ProgressLinesPerChangeOfTheCopiedShare) {
    struct Case {
        std::uint64_t size;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {10 * kMiB, {"progress=0.36\n", "progress=0.72\n", "progress=0.9\n"}},
        {4 * kMiB, {"progress=0.9\n"}},
        {4 * kMiB + 1, {"progress=0.89\n", "progress=0.9\n"}},
        {3000, {"progress=0.9\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        TempDir dir;
        testing::write_file(dir.file("in.mov"), movie_of_size(video_and_audio(), c.size));
        Captured captured;
        const Status written = write_movie(dir.file("in.mov"), dir.file("out.mov"), "00:00:00:00", capturing(captured));
        ASSERT_TRUE(written) << written.error();
        EXPECT_EQ(captured.progress, c.expected);
    }
}

// A folder on another file system than the given one, so that the kernel
// refuses to copy between them and the buffered copy takes over.
class OtherFileSystemDir {
public:
    explicit OtherFileSystemDir(const TempDir& other) {
        struct stat theirs {};
        if (::stat(other.path().c_str(), &theirs) != 0) return;
        for (const char* base : {"/dev/shm", "/var/tmp", "/tmp"}) {
            struct stat candidate {};
            if (::stat(base, &candidate) != 0 || candidate.st_dev == theirs.st_dev) continue;
            std::string pattern = std::string(base) + "/velmora-write-XXXXXX";
            if (::mkdtemp(pattern.data()) == nullptr) continue;
            path_ = pattern;
            return;
        }
    }
    ~OtherFileSystemDir() {
        if (!path_.empty()) std::filesystem::remove_all(path_);
    }
    bool usable() const { return !path_.empty(); }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

TEST(WriteMovie, BufferedCopyWhereTheKernelCannotCopy) {
    TempDir dir;
    OtherFileSystemDir shm(dir);
    if (!shm.usable()) GTEST_SKIP() << "no second file system for the temporary folders";
    const Bytes input = movie_of_size(video_and_audio(), 10 * kMiB);
    testing::write_file(shm.file("in.mov"), input);

    {
        const auto in = open_read_only(shm.file("in.mov"));
        auto out = OutputFile::create_exclusive(dir.file("probe.bin"));
        ASSERT_TRUE(in && out);
        const auto copied = kernel_copy(*in, 0, out->file(), 0, 4096);
        ASSERT_TRUE(copied) << copied.error();
        EXPECT_FALSE(copied->has_value()) << "expected the kernel to refuse a cross-device copy";
    }

    Captured captured;
    const Status written = write_movie(shm.file("in.mov"), dir.file("out.mov"), "00:00:00:00", capturing(captured));
    ASSERT_TRUE(written) << written.error();
    EXPECT_EQ(captured.progress, (std::vector<std::string>{"progress=0.36\n", "progress=0.72\n", "progress=0.9\n"}));
    const Bytes output = testing::read_file(dir.file("out.mov"));
    ASSERT_GT(output.size(), input.size());
    const auto source = open_movie(shm.file("in.mov"));
    ASSERT_TRUE(source) << source.error();
    const auto moov = std::ranges::find(source->atoms, FourCC("moov"), &AtomSpan::atom_type)->offset;
    for (std::uint64_t i = 0; i < input.size(); ++i) {
        if ((i < moov + 4 || i >= moov + 8) && output[i] != input[i]) FAIL() << "byte " << i << " differs";
    }
}

TEST(WriteMovie, ExistingOutputIsLeftAlone) {
    TempDir dir;
    testing::write_file(dir.file("in.mov"), testing::build_movie_bytes(video_and_audio()));
    testing::write_file(dir.file("out.mov"), Bytes{'k', 'e', 'e', 'p'});
    Captured captured;
    const Status written = write_movie(dir.file("in.mov"), dir.file("out.mov"), "00:00:00:00", capturing(captured));
    EXPECT_EQ(written, fail("File exists (os error 17)"));
    EXPECT_EQ(testing::read_file(dir.file("out.mov")), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_TRUE(captured.progress.empty());
}

// OUTPUT has no name until the written file is verified; a name that appears
// meanwhile is never replaced.
TEST(WriteMovie, OutputIsNamedOnlyOnceVerified) {
    TempDir dir;
    testing::write_file(dir.file("in.mov"), testing::build_movie_bytes(video_and_audio()));
    for (const bool squatter : {false, true}) {
        SCOPED_TRACE(squatter ? "name taken meanwhile" : "name still free");
        const std::string output = dir.file(squatter ? "taken.mov" : "free.mov");
        bool named_early = true;
        Captured captured;
        const Status written =
            write_movie(dir.file("in.mov"), output, "00:00:00:00", capturing(captured, [&](const std::string&) {
                            named_early = exists(output);
                            if (squatter) testing::write_file(output, Bytes{'m', 'i', 'n', 'e'});
                        }));
        EXPECT_FALSE(named_early);
        if (squatter) {
            EXPECT_EQ(written, fail("File exists (os error 17)"));
            EXPECT_EQ(testing::read_file(output), (Bytes{'m', 'i', 'n', 'e'}));
            EXPECT_TRUE(captured.reports.empty());
        } else {
            ASSERT_TRUE(written) << written.error();
            EXPECT_EQ(captured.reports.size(), 1u);
        }
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::ranges::sort(names);
    EXPECT_EQ(names, (std::vector<std::string>{"free.mov", "in.mov", "taken.mov"}));
}

TEST(WriteMovie, FailuresBeforeCreationLeaveNoOutput) {
    struct Case {
        const char* name;
        Bytes input;
        std::string output;  // relative to the temporary folder
        std::string timecode;
        std::string message;
        std::optional<std::string> reel;
    };
    const Bytes good = testing::build_movie_bytes(video_and_audio());
    const std::vector<Case> cases = {
        {"unreadable input", Bytes{0, 0, 0, 7}, "out.mov", "00:00:00:00", "Truncated movie atom header"},
        {"bad timecode", good, "out.mov", "00:00:00:25", "Timecode is outside the frame-rate range"},
        {"drop-frame at 25", good, "out.mov", "00:00:00;00", "Drop-frame requires 29.97 or 59.94 fps"},
        {"missing folder", good, "absent/out.mov", "00:00:00:00", "No such file or directory (os error 2)"},
        {"invalid reel", good, "out.mov", "00:00:00:00", "Invalid reel name", "A001\tC003"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        testing::write_file(dir.file("in.mov"), c.input);
        Captured captured;
        const Status written =
            write_movie(dir.file("in.mov"), dir.file(c.output), c.timecode, capturing(captured), c.reel);
        EXPECT_EQ(written, fail(c.message));
        EXPECT_FALSE(exists(dir.file(c.output)));
        EXPECT_EQ(testing::read_file(dir.file("in.mov")), c.input);
        EXPECT_TRUE(captured.reports.empty());
    }
}

// Changes made to the output between its flush and its read-back stand for
// a device that did not store what was written.
TEST(WriteMovie, VerificationFailuresRemoveTheOutput) {
    struct Case {
        const char* name;
        // Gets the output path, the input size and the audio trak as stored.
        std::function<void(const std::string&, std::uint64_t, const Bytes&)> damage;
        std::string message;
        std::optional<std::string> reel;  // asked for
    };
    const std::vector<Case> cases = {
        {"timecode sample changed",
         [](const std::string& output, std::uint64_t n, const Bytes&) {
             overwrite_at(output, n + 8, pack_u32_be({251}));  // 00:00:10:01
         },
         "Written timecode failed verification"},
        {"audio track header changed",
         [](const std::string& output, std::uint64_t n, const Bytes& audio) {
             // The copy inside the new moov, not the one in the retyped old moov.
             const std::uint64_t at = find_bytes(testing::read_file(output), audio, n + 12);
             // trak header, tkhd header, version and flags: the creation time.
             overwrite_at(output, at + 8 + 8 + 4, Bytes{0xEE});
         },
         "Camera/audio track metadata changed unexpectedly"},
        {"new moov cut short",
         [](const std::string& output, std::uint64_t, const Bytes&) {
             struct stat status {};
             ASSERT_EQ(::stat(output.c_str(), &status), 0);
             ASSERT_EQ(::truncate(output.c_str(), status.st_size - 1), 0);
         },
         "Invalid movie atom size"},
        {"reel changed",
         [](const std::string& output, std::uint64_t n, const Bytes&) {
             const std::string reel = "A001C003";
             const std::uint64_t at = find_bytes(testing::read_file(output), Bytes(reel.begin(), reel.end()), n + 12);
             overwrite_at(output, at, Bytes{'B'});
         },
         "Written reel failed verification", "A001C003"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const Bytes input = testing::build_movie_bytes(video_and_audio());
        testing::write_file(dir.file("in.mov"), input);
        const auto source = open_movie(dir.file("in.mov"));
        ASSERT_TRUE(source) << source.error();
        const Bytes audio = source->tracks[1].trak_bytes;

        Captured captured;
        const std::string output = dir.file("out.mov");
        const Status written = write_movie(
            dir.file("in.mov"), output, "00:00:10:00",
            capturing(captured, [&](const std::string& readable) { c.damage(readable, input.size(), audio); }), c.reel);
        EXPECT_EQ(written, fail(c.message));
        EXPECT_FALSE(exists(output));
        EXPECT_TRUE(captured.reports.empty());
        EXPECT_EQ(testing::read_file(dir.file("in.mov")), input);
    }
}

TEST(WriteMovie, SourceTruncatedDuringTheCopyRemovesTheOutput) {
    TempDir dir;
    const std::string input = dir.file("in.mov");
    testing::write_file(input, movie_of_size(video_and_audio(), 10 * kMiB));
    Captured captured;
    WriteEvents events = capturing(captured);
    events.progress = [&](std::string_view line) {
        captured.progress.emplace_back(line);
        if (captured.progress.size() == 1) {
            ASSERT_EQ(::truncate(input.c_str(), 5 * kMiB), 0);
        }
    };
    const Status written = write_movie(input, dir.file("out.mov"), "00:00:00:00", events);
    EXPECT_EQ(written, fail("Source changed or was truncated during copying"));
    EXPECT_FALSE(exists(dir.file("out.mov")));
    // The short second read is still copied and reported; the empty third one fails.
    EXPECT_EQ(captured.progress, (std::vector<std::string>{"progress=0.36\n", "progress=0.45\n"}));
}

TEST(WriteMovie, BytesTheSourceGainsDuringTheCopyAreNotCopied) {
    TempDir dir;
    const std::string input = dir.file("in.mov");
    const Bytes original = movie_of_size(video_and_audio(), 10 * kMiB);
    testing::write_file(input, original);
    Captured captured;
    WriteEvents events = capturing(captured);
    events.progress = [&](std::string_view line) {
        captured.progress.emplace_back(line);
        if (captured.progress.size() == 1) {
            ASSERT_EQ(::truncate(input.c_str(), 11 * kMiB), 0);
        }
    };
    const Status written = write_movie(input, dir.file("out.mov"), "00:00:00:00", events);
    ASSERT_TRUE(written) << written.error();
    const auto reread = open_movie(dir.file("out.mov"));
    ASSERT_TRUE(reread) << reread.error();
    EXPECT_EQ(reread->atoms[reread->atoms.size() - 2].offset, original.size());
}

// Open-ended (size field 0) last children of the moov and of the video trak:
// the timecode trak and the reference written behind them stay visible.
TEST(WriteMovie, OpenEndedLastChildrenKeepTheNewAtomsVisible) {
    TempDir dir;
    testing::Atoms atoms = testing::build_movie(video_and_audio());
    testing::Atom udta = testing::leaf("udta", Bytes{'n', 'a', 'm', 'e', 0, 0, 0, 1});
    udta.size_field = 0;
    testing::find(atoms, "moov/trak").children.push_back(udta);
    testing::find(atoms, "moov").children.push_back(udta);
    testing::write_file(dir.file("in.mov"), testing::serialize(atoms));
    ASSERT_TRUE(open_movie(dir.file("in.mov")));

    Captured captured;
    const Status written = write_movie(dir.file("in.mov"), dir.file("out.mov"), "00:00:01:00", capturing(captured));
    ASSERT_TRUE(written) << written.error();
    const auto reread = open_movie(dir.file("out.mov"));
    ASSERT_TRUE(reread) << reread.error();
    ASSERT_EQ(reread->tracks.size(), 3u);
    EXPECT_EQ(reread->existing_timecode, "00:00:01:00");
    const auto video = required_child(reread->tracks[0].trak_bytes, FourCC("trak"));
    ASSERT_TRUE(video) << video.error();
    const auto tref = optional_child(*video, FourCC("tref"));
    ASSERT_TRUE(tref) << tref.error();
    ASSERT_TRUE(tref->has_value()) << "the video trak lost its reference";
    EXPECT_EQ(Bytes((*tref)->begin(), (*tref)->end()), (Bytes{0, 0, 0, 12, 't', 'm', 'c', 'd', 0, 0, 0, 3}));
}

TEST(WriteMovie, WritingTwiceReplacesTheTimecodeTrack) {
    TempDir dir;
    testing::write_file(dir.file("a.mov"), testing::build_movie_bytes(video_and_audio()));
    Captured captured;
    ASSERT_TRUE(write_movie(dir.file("a.mov"), dir.file("b.mov"), "01:00:00:00", capturing(captured), "A001C003"));
    ASSERT_TRUE(write_movie(dir.file("b.mov"), dir.file("c.mov"), "02:00:00:00", capturing(captured)));

    const auto first = open_movie(dir.file("b.mov"));
    ASSERT_TRUE(first) << first.error();
    EXPECT_EQ(first->existing_reel, "A001C003");
    // The replaced track takes its reel with it: none was asked for the second time.
    const auto chained = open_movie(dir.file("c.mov"));
    ASSERT_TRUE(chained) << chained.error();
    EXPECT_EQ(chained->existing_timecode, "02:00:00:00");
    EXPECT_FALSE(chained->existing_reel.has_value());
    ASSERT_EQ(chained->tracks.size(), 3u);
    EXPECT_EQ(chained->tracks[2].sample_entry, FourCC("tmcd"));
    EXPECT_EQ(chained->tracks[2].track_id, 3u);
    // The video's tref holds exactly one tmcd reference, to track 3.
    const Bytes& video = chained->tracks[0].trak_bytes;
    const Bytes tref = {0, 0, 0, 20, 't', 'r', 'e', 'f', 0, 0, 0, 12, 't', 'm', 'c', 'd', 0, 0, 0, 3};
    EXPECT_TRUE(std::equal(tref.rbegin(), tref.rend(), video.rbegin()));
    // The mvhd next track identifier is 4 after both writes.
    const auto mvhd = required_child(chained->metadata, FourCC("mvhd"));
    ASSERT_TRUE(mvhd);
    EXPECT_EQ(read_u32_at(*mvhd, mvhd->size() - 4), 4u);
}

TEST(WriteMovie, ExistingTimecodeTrackHandsOverItsIdentifier) {
    TempDir dir;
    MovieSpec recipe = video_and_audio();
    testing::TimecodeEntry entry;
    entry.timescale = 25;
    entry.frame_duration = 1;
    entry.frames_per_second = 25;
    recipe.tracks.push_back(testing::timecode_track(0, entry));
    recipe.tracks.back().track_id = 5;
    testing::Atoms atoms = testing::build_movie(recipe);
    Bytes& mvhd = testing::find(atoms, "moov/mvhd").payload;
    testing::set_u32(mvhd, mvhd.size() - 4, 9);
    testing::write_file(dir.file("in.mov"), testing::serialize(atoms));

    Captured captured;
    ASSERT_TRUE(write_movie(dir.file("in.mov"), dir.file("out.mov"), "00:00:01:00", capturing(captured)));
    const auto written = open_movie(dir.file("out.mov"));
    ASSERT_TRUE(written) << written.error();
    ASSERT_EQ(written->tracks.size(), 3u);
    EXPECT_EQ(written->tracks[2].track_id, 5u);
    EXPECT_EQ(written->existing_timecode, "00:00:01:00");
    const auto next = required_child(written->metadata, FourCC("mvhd"));
    ASSERT_TRUE(next);
    EXPECT_EQ(read_u32_at(*next, next->size() - 4), 9u);
}

}  // namespace
}  // namespace velmora
