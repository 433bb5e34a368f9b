// The rebuilt movie atom, byte for byte, and the new atoms planned for inputs
// on both sides of the 32-bit chunk offset boundary.
#include "rewriter.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/byte_spelling.h"
#include "support/movie_builder.h"

namespace velmora {
namespace {

using testing::cat;
using testing::head;
using testing::tag;
using testing::u32s;

// A version-0 mvhd: 100 payload bytes, the next track identifier last.
Bytes mvhd(std::uint32_t next_track_id) {
    Bytes payload = u32s({0, 7, 8, 600, 6000, 0x00010000});
    payload.resize(96, 0xAB);
    return cat({head(108, "mvhd"), payload, u32s({next_track_id})});
}

// Stand-ins: rebuild_moov only places and copies these.
Bytes trak(char marker) { return cat({head(12, "trak"), Bytes{'t', 'r', 'k', static_cast<std::uint8_t>(marker)}}); }
const Bytes kUdta = cat({head(16, "udta"), tag("meta"), u32s({42})});
const Bytes kAmendedVideo = cat({head(13, "trak"), Bytes{'v', 'i', 'd', 'e', 'o'}});
const Bytes kTimecodeTrak = cat({head(10, "trak"), Bytes{'t', 'c'}});
// A stamp's record: version and flags 0, original length 1000, old moov at 24.
const StampRecord kRecord{1000, 24};
const Bytes kVlmr = cat({head(28, "vlmr"), u32s({0, 0, 1000, 0, 24})});
const Bytes kOldVlmr = cat({head(28, "vlmr"), u32s({0, 0, 7, 0, 3})});
const Bytes kName = cat({head(12, "name"), u32s({42})});

Track track_with(FourCC sample_entry) {
    Track track;
    track.sample_entry = sample_entry;
    return track;
}

struct MoovCase {
    const char* name;
    Bytes metadata;
    std::vector<FourCC> entries;
    std::size_t video_index;
    std::uint32_t timecode_id;
    Result<Bytes> expected_payload;
    std::optional<StampRecord> record;  // a stamp in place
};

TEST(RebuildMoov, Layout) {
    const Bytes extended_audio = cat({u32s({1}), tag("trak"), u32s({0, 20}), u32s({0xA0D10})});
    const std::vector<MoovCase> cases = {
        {"video and audio, next identifier raised",
         cat({mvhd(3), trak('V'), trak('A'), kUdta}),
         {"avc1", "mp4a"},
         0,
         3,
         cat({mvhd(4), kAmendedVideo, trak('A'), kUdta, kTimecodeTrak})},
        {"old timecode dropped, larger next identifier kept",
         cat({mvhd(9), trak('V'), trak('T'), trak('A')}),
         {"avc1", "tmcd", "mp4a"},
         0,
         5,
         cat({mvhd(9), kAmendedVideo, trak('A'), kTimecodeTrak})},
        {"video not first, children in stored order",
         cat({kUdta, trak('A'), mvhd(2), trak('V')}),
         {"sowt", "jpeg"},
         1,
         3,
         cat({kUdta, trak('A'), mvhd(4), kAmendedVideo, kTimecodeTrak})},
        {"every timecode track dropped",
         cat({mvhd(5), trak('T'), trak('V'), trak('U')}),
         {"tmcd", "avc1", "tmcd"},
         1,
         1,
         cat({mvhd(5), kAmendedVideo, kTimecodeTrak})},
        {"extended trak header copied as stored",
         cat({mvhd(3), trak('V'), extended_audio}),
         {"avc1", "mp4a"},
         0,
         3,
         cat({mvhd(4), kAmendedVideo, extended_audio, kTimecodeTrak})},
        {"timecode identifier at the limit",
         cat({mvhd(3), trak('V'), trak('T')}),
         {"avc1", "tmcd"},
         0,
         0xFFFFFFFF,
         fail("Track identifier overflow")},
        {"mvhd without room for the next identifier",
         cat({head(11, "mvhd"), Bytes{1, 2, 3}, trak('V')}),
         {"avc1"},
         0,
         2,
         fail("Offset overflow")},
        {"open-ended last child gets its real size ahead of the timecode trak",
         cat({mvhd(3), trak('V'), u32s({0}), tag("udta"), u32s({42})}),
         {"avc1"},
         0,
         2,
         cat({mvhd(3), kAmendedVideo, head(12, "udta"), u32s({42}), kTimecodeTrak})},
        {"malformed child",
         cat({mvhd(3), trak('V'), head(4, "free")}),
         {"avc1"},
         0,
         2,
         fail("Invalid movie atom size")},
        {"stamp: a udta holding only the record closes the movie atom",
         cat({mvhd(3), trak('V')}),
         {"avc1"},
         0,
         2,
         cat({mvhd(3), kAmendedVideo, kTimecodeTrak, head(36, "udta"), kVlmr}),
         kRecord},
        {"stamp: the record joins the existing udta last, in place",
         cat({mvhd(3), trak('V'), head(20, "udta"), kName, trak('A')}),
         {"avc1", "mp4a"},
         0,
         3,
         cat({mvhd(4), kAmendedVideo, head(48, "udta"), kName, kVlmr, trak('A'), kTimecodeTrak}),
         kRecord},
        {"stamp again: the old record is replaced",
         cat({mvhd(3), trak('V'), head(48, "udta"), kOldVlmr, kName}),
         {"avc1"},
         0,
         2,
         cat({mvhd(3), kAmendedVideo, head(48, "udta"), kName, kVlmr, kTimecodeTrak}),
         kRecord},
        {"stamp: a closing zero word stays last",
         cat({mvhd(3), trak('V'), head(24, "udta"), kName, u32s({0})}),
         {"avc1"},
         0,
         2,
         cat({mvhd(3), kAmendedVideo, head(52, "udta"), kName, kVlmr, u32s({0}), kTimecodeTrak}),
         kRecord},
        {"write: a stamp's record is not copied",
         cat({mvhd(3), trak('V'), head(48, "udta"), kName, kOldVlmr}),
         {"avc1"},
         0,
         2,
         cat({mvhd(3), kAmendedVideo, head(20, "udta"), kName, kTimecodeTrak})},
        {"stamp: a udta that does not list is refused",
         cat({mvhd(3), trak('V'), kUdta}),
         {"avc1"},
         0,
         2,
         fail("Invalid movie atom size"),
         kRecord},
    };
    for (const MoovCase& c : cases) {
        SCOPED_TRACE(c.name);
        Movie movie;
        movie.metadata = c.metadata;
        for (FourCC entry : c.entries) movie.tracks.push_back(track_with(entry));
        movie.video_index = c.video_index;
        const auto rebuilt = rebuild_moov(movie, c.timecode_id, kTimecodeTrak, kAmendedVideo, c.record);
        if (!c.expected_payload) {
            ASSERT_FALSE(rebuilt);
            EXPECT_EQ(rebuilt.error(), c.expected_payload.error());
            continue;
        }
        ASSERT_TRUE(rebuilt) << rebuilt.error();
        const auto size = static_cast<std::uint32_t>(8 + c.expected_payload->size());
        EXPECT_EQ(*rebuilt, cat({head(size, "moov"), *c.expected_payload}));
    }
}

TEST(RebuildMoov, NextTrackIdentifierIsTheUnsignedMaximum) {
    struct Case {
        std::uint32_t stored, timecode_id, expected;
    };
    const std::vector<Case> cases = {
        {3, 3, 4}, {9, 5, 9}, {2, 3, 4}, {0x80000000u, 3, 0x80000000u}, {0, 0xFFFFFFFE, 0xFFFFFFFF}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        Movie movie;
        movie.metadata = cat({mvhd(c.stored), trak('V')});
        movie.tracks.push_back(track_with("avc1"));
        const auto rebuilt = rebuild_moov(movie, c.timecode_id, kTimecodeTrak, kAmendedVideo);
        ASSERT_TRUE(rebuilt) << rebuilt.error();
        EXPECT_EQ(Bytes(rebuilt->begin() + 8, rebuilt->begin() + 8 + 108), mvhd(c.expected));
    }
}

// A movie followed by a sparse free atom that brings the file to `size`.
std::string sparse_movie(const testing::TempDir& dir, std::uint64_t size) {
    const Bytes movie = testing::build_movie_bytes(testing::MovieSpec{});
    Bytes padding_header = cat({u32s({1}), tag("free")});
    const std::uint64_t free_size = size - movie.size();
    append_u64_be(padding_header, free_size);
    std::string path = dir.file("sparse.mov");
    testing::write_file(path, cat({movie, padding_header}));
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ::close(fd);
    return path;
}

TEST(PlanWrite, ChunkOffsetTableFollowsTheInputSize) {
    struct Case {
        std::uint64_t input_size;
        Bytes expected_tail;  // the last table of the timecode trak, the last child of moov
    };
    const std::vector<Case> cases = {
        {0xFFFFFFFFull - 8, cat({head(20, "stco"), u32s({0, 1, 0xFFFFFFFF})})},
        {0xFFFFFFFFull - 7, cat({head(24, "co64"), u32s({0, 1, 1, 0})})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input_size);
        testing::TempDir dir;
        const auto movie = open_movie(sparse_movie(dir, c.input_size));
        ASSERT_TRUE(movie) << movie.error();
        ASSERT_EQ(movie->file_size, c.input_size);
        const auto plan = plan_write(*movie, "01:00:00;00");
        ASSERT_TRUE(plan) << plan.error();
        EXPECT_EQ(plan->timecode_track_id, 2u);
        ASSERT_GE(plan->moov.size(), c.expected_tail.size());
        EXPECT_EQ(Bytes(plan->moov.end() - static_cast<std::ptrdiff_t>(c.expected_tail.size()), plan->moov.end()),
                  c.expected_tail);
        // 01:00:00;00 at 29.97 drop-frame is frame 107892.
        EXPECT_EQ(plan->sample_atom, cat({head(12, "mdat"), u32s({107892})}));
    }
}

TEST(PlanWrite, FailuresBeforeAnyOutput) {
    struct Case {
        const char* name;
        testing::MovieSpec recipe;
        std::string timecode;
        std::string message;
    };
    testing::MovieSpec pal;
    pal.tracks = {testing::video_track("avc1", 25, 1, 10)};
    // 43 frames of 10^8 units at 3 * 10^9 units per second: 30 fps, 4.3 * 10^9 units long.
    testing::MovieSpec long_video;
    long_video.tracks = {testing::video_track("avc1", 3'000'000'000u, 100'000'000u, 43)};
    long_video.tracks[0].mdhd_version = 1;
    testing::MovieSpec full_ids;
    full_ids.tracks = {testing::video_track(), testing::audio_track()};
    full_ids.tracks[1].track_id = 0xFFFFFFFF;
    const std::vector<Case> cases = {
        {"bad form", testing::MovieSpec{}, "1:00:00:00", "Use HH:MM:SS:FF timecode"},
        {"drop-frame at 25", pal, "00:00:00;00", "Drop-frame requires 29.97 or 59.94 fps"},
        {"frames past the rate", pal, "00:00:00:25", "Timecode is outside the frame-rate range"},
        {"skipped label", testing::MovieSpec{}, "00:01:00;00", "Skipped drop-frame timecode label"},
        {"identifier overflow", full_ids, "00:00:00:00", "Track identifier overflow"},
        {"duration beyond 32 bits", long_video, "00:00:00:00",
         "Timecode media duration exceeds supported 32-bit range"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempFile file(testing::build_movie_bytes(c.recipe));
        const auto movie = open_movie(file.path());
        ASSERT_TRUE(movie) << movie.error();
        const auto plan = plan_write(*movie, c.timecode);
        ASSERT_FALSE(plan);
        EXPECT_EQ(plan.error(), c.message);
    }
}

}  // namespace
}  // namespace velmora
