// Byte layouts of the timecode track and of the amended video track. The
// expected bytes are spelled out field by field here, never taken from the
// builder itself.
#include "track_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/byte_spelling.h"

namespace velmora {
namespace {

using namespace testing;

Bytes zeros(std::size_t n) { return Bytes(n, 0); }

// ---- inputs: a video trak assembled from hand-written parts ----

Bytes video_tkhd_v0() {
    // clang-format off
    return cat({head(92, "tkhd"), u32s({0x00000003, 0x11111111, 0x22222222, 1, 0, 10010, 0, 0}),
                u16s({1, 5, 0x0100, 0}),                                       // layer, group, volume, reserved
                u32s({0, 0x10000, 0, 0xFFFF0000u, 0, 0, 0x00A00000, 0, 0x40000000}),  // rotated and moved
                u32s({1920u << 16, 1080u << 16})});
    // clang-format on
}

Bytes video_tkhd_v1() {
    // clang-format off
    return cat({head(104, "tkhd"), u32s({0x01000001}), u64(0x1111111122222222), u64(0x3333333344444444),
                u32s({1, 0}), u64(0x0000000100000000), u32s({0, 0}), u16s({2, 1, 0, 0}),
                u32s({0x20000, 0, 0, 0, 0x20000, 0, 0, 0, 0x40000000}), u32s({640u << 16, 480u << 16})});
    // clang-format on
}

Bytes video_mdhd_v0() {
    return cat({head(32, "mdhd"), u32s({0, 0x11111111, 0x22222222, 30000, 300300}), u16s({0x55C4, 0x0102})});
}

Bytes video_mdhd_v1() {
    // clang-format off
    return cat({head(44, "mdhd"), u32s({0x01000000}), u64(0x1111111122222222), u64(0x3333333344444444),
                u32s({30000}), u64(300300), u16s({0x15C7, 0x0007})});
    // clang-format on
}

Bytes video_edts() { return cat({head(36, "edts"), head(28, "elst"), u32s({0, 1, 10010, 0, 0x00010000})}); }

// Enough of a video media atom for the builder: mdhd plus a marker child.
Bytes video_mdia(const Bytes& mdhd) {
    const Bytes hdlr = cat({head(20, "hdlr"), u32s({0, 0}), tag("vide")});
    return make_container(FourCC("mdia"), {mdhd, hdlr});
}

Track video_track(Bytes trak_bytes) {
    Track track;
    track.trak_bytes = std::move(trak_bytes);
    track.track_id = 1;
    track.handler = FourCC("vide");
    track.sample_entry = FourCC("avc1");
    track.media_timescale = 30000;
    track.sample_delta = 1001;
    track.media_duration = 300300;
    track.sample_count = 300;
    return track;
}

// ---- expected pieces, hand-derived from the QuickTime timecode layout ----

Bytes expected_tkhd_v0(std::uint32_t id) {
    // clang-format off
    return cat({head(92, "tkhd"), u32s({0x00000002, 0x11111111, 0x22222222, id, 0, 10010, 0, 0}), zeros(8),
                u32s({0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000}), zeros(8)});
    // clang-format on
}

Bytes expected_tkhd_v1(std::uint32_t id) {
    // clang-format off
    return cat({head(104, "tkhd"), u32s({0x01000002}), u64(0x1111111122222222), u64(0x3333333344444444),
                u32s({id, 0}), u64(0x0000000100000000), u32s({0, 0}), zeros(8),
                u32s({0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000}), zeros(8)});
    // clang-format on
}

Bytes expected_hdlr() {
    const char name[] = "TimeCodeHandler";
    return cat({head(48, "hdlr"), u32s({0, 0}), tag("tmcd"), zeros(12), Bytes(name, name + 16)});
}

Bytes expected_gmhd() {
    // clang-format off
    return cat({head(73, "gmhd"),                                                           //
                head(24, "gmin"), u32s({0}), u16s({0x0040, 0x8000, 0x8000, 0x8000, 0, 0}),  //
                head(41, "tmcd"), head(33, "tcmi"), u32s({0}),
                u16s({0, 0, 12, 0, 0, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF}), u8s({0})});
    // clang-format on
}

Bytes expected_dinf() { return cat({head(36, "dinf"), head(28, "dref"), u32s({0, 1}), head(12, "url "), u32s({1})}); }

Bytes expected_stsd(std::uint32_t flags, std::uint8_t fps) {
    return cat({head(52, "stsd"), u32s({0, 1}), head(36, "tmcd"), zeros(6), u16s({1}), u32s({0, flags, 30000, 1001}),
                u8s({fps, 0, 0, 0})});
}

// With a reel, the pad byte after the frames byte is followed by the `name`
// atom: its size, "name", the text length, language 0, the text unterminated.
Bytes expected_stsd_with_reel(std::uint32_t flags, std::uint8_t fps, const std::string& reel) {
    const auto n = static_cast<std::uint32_t>(reel.size());
    // clang-format off
    return cat({head(70 - 8 + n, "stsd"), u32s({0, 1}), head(54 - 8 + n, "tmcd"), zeros(6), u16s({1}),
                u32s({0, flags, 30000, 1001}), u8s({fps, 0}),
                head(12 + n, "name"), u16s({static_cast<std::uint16_t>(n), 0}), Bytes(reel.begin(), reel.end())});
    // clang-format on
}

Bytes expected_sample_tables_tail() {
    // clang-format off
    return cat({head(24, "stts"), u32s({0, 1, 1, 300300}),  //
                head(28, "stsc"), u32s({0, 1, 1, 1, 1}),     //
                head(20, "stsz"), u32s({0, 4, 1})});
    // clang-format on
}

TEST(TimecodeTrakLayout, Version0HeaderWithoutEditListNonDropWithStco) {
    const Track video = video_track(make_container(FourCC("trak"), {video_tkhd_v0(), video_mdia(video_mdhd_v0())}));
    const auto built = build_timecode_trak(video, 3, false, 1000);
    ASSERT_TRUE(built) << built.error();

    // clang-format off
    const Bytes expected = cat({
        head(457, "trak"), expected_tkhd_v0(3),  //
        head(357, "mdia"),                       //
        head(32, "mdhd"), u32s({0, 0x11111111, 0x22222222, 30000, 300300}), u16s({0, 0x0102}),
        expected_hdlr(),                                                     //
        head(269, "minf"), expected_gmhd(), expected_dinf(),                 //
        head(152, "stbl"), expected_stsd(2, 30), expected_sample_tables_tail(),  //
        head(20, "stco"), u32s({0, 1, 1000}),
    });
    // clang-format on
    EXPECT_EQ(*built, expected);
}

TEST(TimecodeTrakLayout, Version1HeaderWithEditListDropFrameWithCo64) {
    const Track video =
        video_track(make_container(FourCC("trak"), {video_tkhd_v1(), video_edts(), video_mdia(video_mdhd_v1())}));
    const auto built = build_timecode_trak(video, 9, true, 0x100000000ull);
    ASSERT_TRUE(built) << built.error();

    // clang-format off
    const Bytes expected = cat({
        head(521, "trak"), expected_tkhd_v1(9),                          //
        head(36, "edts"), head(28, "elst"), u32s({0, 1, 10010, 0, 0x00010000}),  //
        head(373, "mdia"),                                               //
        head(44, "mdhd"), u32s({0x01000000}), u64(0x1111111122222222), u64(0x3333333344444444), u32s({30000}),
        u64(300300), u16s({0, 0x0007}),                                            //
        expected_hdlr(),                                                           //
        head(273, "minf"), expected_gmhd(), expected_dinf(),                       //
        head(156, "stbl"), expected_stsd(3, 30), expected_sample_tables_tail(),    //
        head(24, "co64"), u32s({0, 1}), u64(0x100000000ull),
    });
    // clang-format on
    EXPECT_EQ(*built, expected);
}

TEST(TimecodeTrakLayout, ReelNamedInTheSampleDescription) {
    const Track video = video_track(make_container(FourCC("trak"), {video_tkhd_v0(), video_mdia(video_mdhd_v0())}));
    const auto built = build_timecode_trak(video, 3, false, 1000, std::nullopt, "A001C003");
    ASSERT_TRUE(built) << built.error();

    // Every container around the entry grows by the name atom less the two bytes it replaces.
    // clang-format off
    const Bytes expected = cat({
        head(475, "trak"), expected_tkhd_v0(3),  //
        head(375, "mdia"),                       //
        head(32, "mdhd"), u32s({0, 0x11111111, 0x22222222, 30000, 300300}), u16s({0, 0x0102}),
        expected_hdlr(),                                     //
        head(287, "minf"), expected_gmhd(), expected_dinf(),  //
        head(170, "stbl"),
        head(70, "stsd"), u32s({0, 1}), head(54, "tmcd"), zeros(6), u16s({1}), u32s({0, 2, 30000, 1001}), u8s({30, 0}),
        head(20, "name"), u16s({8, 0}), tag("A001"), tag("C003"),
        expected_sample_tables_tail(),  //
        head(20, "stco"), u32s({0, 1, 1000}),
    });
    // clang-format on
    EXPECT_EQ(*built, expected);

    struct Case {
        const char* name;
        std::string reel;
        bool drop;
    };
    const Case cases[] = {
        {"one byte", "A", false},
        {"32 bytes", std::string(32, 'R'), true},
        {"letters beyond ASCII", "B\xc3\xa4nd \xe2\x9c\x93", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto with_reel = build_timecode_trak(video, 3, c.drop, 1000, std::nullopt, c.reel);
        ASSERT_TRUE(with_reel) << with_reel.error();
        const std::size_t stsd = 8 + 92 + 8 + 32 + 48 + 8 + 73 + 36 + 8;
        const Bytes wanted = expected_stsd_with_reel(c.drop ? 3 : 2, 30, c.reel);
        ASSERT_GE(with_reel->size(), stsd + wanted.size());
        EXPECT_EQ(
            Bytes(with_reel->begin() + stsd, with_reel->begin() + static_cast<std::ptrdiff_t>(stsd + wanted.size())),
            wanted);
        EXPECT_EQ(Bytes(with_reel->begin(), with_reel->begin() + 4),
                  u32s({static_cast<std::uint32_t>(475 - 8 + c.reel.size())}));
    }
}

// A B-frame movie's edit skips the composition delay; the timecode's edit
// starts at media time 0 so that its sample labels the first frame shown.
TEST(TimecodeTrakLayout, BFrameEditStartsAtMediaTimeZero) {
    const Bytes b_frame_edts = cat({head(36, "edts"), head(28, "elst"), u32s({0, 1, 10010, 2002, 0x00010000})});
    const Track video =
        video_track(make_container(FourCC("trak"), {video_tkhd_v0(), b_frame_edts, video_mdia(video_mdhd_v0())}));
    const auto built = build_timecode_trak(video, 3, false, 1000);
    ASSERT_TRUE(built) << built.error();

    // clang-format off
    const Bytes expected = cat({
        head(493, "trak"), expected_tkhd_v0(3),                                   //
        head(36, "edts"), head(28, "elst"), u32s({0, 1, 10010, 0, 0x00010000}),  //
        head(357, "mdia"),                                                        //
        head(32, "mdhd"), u32s({0, 0x11111111, 0x22222222, 30000, 300300}), u16s({0, 0x0102}),
        expected_hdlr(),                                                          //
        head(269, "minf"), expected_gmhd(), expected_dinf(),                      //
        head(152, "stbl"), expected_stsd(2, 30), expected_sample_tables_tail(),   //
        head(20, "stco"), u32s({0, 1, 1000}),
    });
    // clang-format on
    EXPECT_EQ(*built, expected);
}

// A leading empty edit (a delayed start) is mirrored as stored, 64-bit wide
// here; the edit after it starts at media time 0.
TEST(TimecodeTrakLayout, LeadingEmptyEditIsMirrored) {
    // clang-format off
    const Bytes delayed_edts = cat({head(64, "edts"), head(56, "elst"), u32s({0x01000000, 2}),  //
                                    u64(30000), u64(UINT64_MAX), u32s({0x00010000}),             //
                                    u64(300300), u64(1001), u32s({0x00010000})});
    // clang-format on
    const Track video =
        video_track(make_container(FourCC("trak"), {video_tkhd_v0(), delayed_edts, video_mdia(video_mdhd_v0())}));
    const auto built = build_timecode_trak(video, 3, true, 1000);
    ASSERT_TRUE(built) << built.error();

    // clang-format off
    const Bytes expected = cat({
        head(521, "trak"), expected_tkhd_v0(3),                                                  //
        head(64, "edts"), head(56, "elst"), u32s({0x01000000, 2}),                              //
        u64(30000), u64(UINT64_MAX), u32s({0x00010000}), u64(300300), u64(0), u32s({0x00010000}),  //
        head(357, "mdia"),                                                                       //
        head(32, "mdhd"), u32s({0, 0x11111111, 0x22222222, 30000, 300300}), u16s({0, 0x0102}),
        expected_hdlr(),                                                                         //
        head(269, "minf"), expected_gmhd(), expected_dinf(),                                     //
        head(152, "stbl"), expected_stsd(3, 30), expected_sample_tables_tail(),                  //
        head(20, "stco"), u32s({0, 1, 1000}),
    });
    // clang-format on
    EXPECT_EQ(*built, expected);
}

// A variable-rate video at time scale 90000 labelled 29.97: the timecode
// track runs on 30000/1001, its duration 900001 * 30000 / 90000 rounded up.
TEST(TimecodeTrakLayout, VariableRateRunsOnTheStandardRate) {
    const Bytes mdhd_90k =
        cat({head(32, "mdhd"), u32s({0, 0x11111111, 0x22222222, 90000, 900001}), u16s({0x55C4, 0x0102})});
    Track video = video_track(make_container(FourCC("trak"), {video_tkhd_v0(), video_mdia(mdhd_90k)}));
    video.media_timescale = 90000;
    video.media_duration = 900001;
    video.sample_delta = 0;
    const auto built = build_timecode_trak(video, 3, false, 1000, FrameRate{30000, 1001});
    ASSERT_TRUE(built) << built.error();

    // clang-format off
    const Bytes expected = cat({
        head(457, "trak"), expected_tkhd_v0(3),  //
        head(357, "mdia"),                       //
        head(32, "mdhd"), u32s({0, 0x11111111, 0x22222222, 30000, 300001}), u16s({0, 0x0102}),
        expected_hdlr(),                                             //
        head(269, "minf"), expected_gmhd(), expected_dinf(),         //
        head(152, "stbl"), expected_stsd(2, 30),                     //
        head(24, "stts"), u32s({0, 1, 1, 300001}),                   //
        head(28, "stsc"), u32s({0, 1, 1, 1, 1}),                     //
        head(20, "stsz"), u32s({0, 4, 1}),                           //
        head(20, "stco"), u32s({0, 1, 1000}),
    });
    // clang-format on
    EXPECT_EQ(*built, expected);

    // Version 1 media header: time scale at 20, 64-bit duration at 24.
    // clang-format off
    const Bytes mdhd_v1 = cat({head(44, "mdhd"), u32s({0x01000000}), u64(1), u64(2), u32s({600}), u64(6006),
                               u16s({0x15C7, 0})});
    // clang-format on
    Track v1 = video_track(make_container(FourCC("trak"), {video_tkhd_v0(), video_mdia(mdhd_v1)}));
    v1.media_timescale = 600;
    v1.media_duration = 6006;
    const auto built_v1 = build_timecode_trak(v1, 3, false, 1000, FrameRate{30000, 1001});
    ASSERT_TRUE(built_v1) << built_v1.error();
    // clang-format off
    const Bytes expected_mdhd = cat({head(44, "mdhd"), u32s({0x01000000}), u64(1), u64(2), u32s({30000}), u64(300300),
                                     u16s({0, 0})});
    // clang-format on
    EXPECT_EQ(Bytes(built_v1->begin() + 8 + 92 + 8, built_v1->begin() + 8 + 92 + 8 + 44), expected_mdhd);
}

// The chunk offset table switches to 64 bits exactly where the sample offset
// stops fitting in 32.
TEST(TimecodeTrakLayout, ChunkOffsetTableAtThe32BitBoundary) {
    struct Case {
        std::uint64_t input_size;
        Bytes expected_tail;
    };
    const std::vector<Case> cases = {
        // clang-format off
        {0xFFFFFFFFull - 8, cat({head(20, "stco"), u32s({0, 1, 0xFFFFFFFF})})},
        {0xFFFFFFFFull - 7, cat({head(24, "co64"), u32s({0, 1}), u64(0x100000000ull)})},
        {0, cat({head(20, "stco"), u32s({0, 1, 8})})},
    };
    // clang-format on
    const Track video = video_track(make_container(FourCC("trak"), {video_tkhd_v0(), video_mdia(video_mdhd_v0())}));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input_size);
        ASSERT_TRUE(check_timecode_limits(c.input_size, video));
        const auto built = build_timecode_trak(video, 2, false, timecode_sample_offset(c.input_size));
        ASSERT_TRUE(built) << built.error();
        ASSERT_GE(built->size(), c.expected_tail.size());
        EXPECT_EQ(Bytes(built->end() - static_cast<std::ptrdiff_t>(c.expected_tail.size()), built->end()),
                  c.expected_tail);
    }
}

// The frames-per-second byte and the flags of the sample entry at the rates
// the reader accepts.
TEST(TimecodeTrakLayout, SampleEntryRateFields) {
    struct Case {
        std::uint32_t timescale, delta;
        bool drop;
        std::uint32_t flags;
        std::uint8_t fps;
    };
    const std::vector<Case> cases = {
        {30000, 1001, true, 3, 30}, {30000, 1001, false, 2, 30}, {24000, 1001, false, 2, 24},
        {60000, 1001, true, 3, 60}, {25, 1, false, 2, 25},       {12800, 512, false, 2, 25},
        {99, 1, false, 2, 99},      {3, 2, false, 2, 2},  // 1.5 rounds away from zero
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.timescale) + "/" + std::to_string(c.delta));
        Track video = video_track(make_container(FourCC("trak"), {video_tkhd_v0(), video_mdia(video_mdhd_v0())}));
        video.media_timescale = c.timescale;
        video.sample_delta = c.delta;
        const auto built = build_timecode_trak(video, 2, c.drop, 1000);
        ASSERT_TRUE(built) << built.error();
        // tkhd 92, mdia header 8, mdhd 32, hdlr 48, minf header 8, gmhd 73, dinf 36, stbl header 8,
        // stsd header and counts 16, entry header 8: the entry payload starts at 8 + 329.
        const std::size_t entry = 8 + 92 + 8 + 32 + 48 + 8 + 73 + 36 + 8 + 16 + 8;
        const Bytes expected =
            cat({zeros(6), u16s({1}), u32s({0, c.flags, c.timescale, c.delta}), u8s({c.fps, 0, 0, 0})});
        ASSERT_GE(built->size(), entry + 28);
        EXPECT_EQ(Bytes(built->begin() + entry, built->begin() + entry + 28), expected);
    }
}

TEST(TimecodeTrakLayout, Failures) {
    Bytes short_tkhd = video_tkhd_v0();
    short_tkhd.pop_back();
    short_tkhd[3] = 91;
    Bytes v2_tkhd = video_tkhd_v0();
    v2_tkhd[8] = 2;
    Bytes short_v1_tkhd = video_tkhd_v1();
    short_v1_tkhd.resize(8 + 95);
    short_v1_tkhd[3] = 103;
    const Bytes mdia = video_mdia(video_mdhd_v0());

    struct Case {
        const char* name;
        Bytes trak;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"tkhd version 2", make_container(FourCC("trak"), {v2_tkhd, mdia}), "Unsupported track header version"},
        {"tkhd v0 one byte short", make_container(FourCC("trak"), {short_tkhd, mdia}), "Truncated movie metadata"},
        {"tkhd v1 one byte short", make_container(FourCC("trak"), {short_v1_tkhd, mdia}), "Truncated movie metadata"},
        {"no tkhd", make_container(FourCC("trak"), {mdia}), "Missing or duplicate required metadata atom"},
        {"two tkhd", make_container(FourCC("trak"), {video_tkhd_v0(), video_tkhd_v0(), mdia}),
         "Missing or duplicate required metadata atom"},
        {"two edts", make_container(FourCC("trak"), {video_tkhd_v0(), video_edts(), video_edts(), mdia}),
         "Duplicate metadata atom"},
        {"no mdia", make_container(FourCC("trak"), {video_tkhd_v0()}), "Missing or duplicate required metadata atom"},
        {"no mdhd",
         make_container(FourCC("trak"), {video_tkhd_v0(), make_container(FourCC("mdia"), {head(8, "hdlr")})}),
         "Missing or duplicate required metadata atom"},
        // clang-format off
        {"child past its parent", cat({head(120, "trak"), video_tkhd_v0()}), "Invalid movie atom size"},
        {"stray bytes after the last child", make_container(FourCC("trak"), {video_tkhd_v0(), mdia, u32s({0})}),
         "Truncated movie metadata"},
        {"child smaller than its header",
         make_container(FourCC("trak"), {video_tkhd_v0(), mdia, cat({head(4, "udta")})}), "Invalid movie atom size"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto built = build_timecode_trak(video_track(c.trak), 2, false, 1000);
        ASSERT_FALSE(built);
        EXPECT_EQ(built.error(), c.message);
    }
}

TEST(TimecodeTrackId, Choice) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::uint32_t, FourCC>> tracks;
        Result<std::uint32_t> expected;
    };
    const std::vector<Case> cases = {
        {"video and audio", {{1, "avc1"}, {2, "mp4a"}}, 3u},
        {"gaps", {{4, "avc1"}, {2, "mp4a"}}, 5u},
        {"existing timecode hands over", {{1, "avc1"}, {7, "tmcd"}, {2, "mp4a"}}, 7u},
        {"first of two timecodes", {{9, "tmcd"}, {1, "avc1"}, {5, "tmcd"}}, 9u},
        {"largest identifier", {{1, "avc1"}, {0xFFFFFFFF, "mp4a"}}, fail("Track identifier overflow")},
        {"largest identifier on the timecode", {{0xFFFFFFFF, "tmcd"}, {1, "avc1"}}, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Track> tracks;
        for (const auto& [id, entry] : c.tracks) {
            Track track;
            track.track_id = id;
            track.sample_entry = entry;
            tracks.push_back(track);
        }
        EXPECT_EQ(choose_timecode_track_id(tracks), c.expected);
    }
}

TEST(TimecodeLimits, SizeThenDuration) {
    struct Case {
        std::uint64_t input_size;
        std::uint64_t duration;
        Status expected;
    };
    const std::vector<Case> cases = {
        {UINT64_MAX - 8, UINT32_MAX, {}},
        {UINT64_MAX - 7, 1, fail("File size overflow")},
        {100, 0x100000000ull, fail("Timecode media duration exceeds supported 32-bit range")},
        {UINT64_MAX, 0x100000000ull, fail("File size overflow")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input_size);
        Track video;
        video.media_duration = c.duration;
        EXPECT_EQ(check_timecode_limits(c.input_size, video), c.expected);
    }
}

// A variable-rate video's limit applies to its duration on the standard
// rate's clock: at 600 to 30000/1001, 50 units for each.
TEST(TimecodeLimits, ConvertedDurationOfAVariableRate) {
    Track video;
    video.media_timescale = 600;
    video.media_duration = 85899345;  // 4294967250 on the new clock
    EXPECT_EQ(check_timecode_limits(100, video, FrameRate{30000, 1001}), Status{});
    video.media_duration = 85899346;  // 4294967300
    EXPECT_EQ(check_timecode_limits(100, video, FrameRate{30000, 1001}),
              fail("Timecode media duration exceeds supported 32-bit range"));
    EXPECT_EQ(check_timecode_limits(100, video), Status{});
}

TEST(TimecodeSample, TwelveByteMediaAtom) {
    EXPECT_EQ(timecode_sample_atom(900000), u8s({0, 0, 0, 12, 'm', 'd', 'a', 't', 0x00, 0x0D, 0xBB, 0xA0}));
    EXPECT_EQ(timecode_sample_offset(1234), 1242u);
}

// ---- the video track's reference to the timecode track ----

Bytes ref(const char (&code)[5], std::initializer_list<std::uint32_t> ids) {
    return cat({head(static_cast<std::uint32_t>(8 + 4 * ids.size()), code), u32s(ids)});
}

TEST(TimecodeReference, VideoTrakAmendment) {
    const Bytes tkhd = video_tkhd_v0();
    const Bytes mdia = video_mdia(video_mdhd_v0());
    // An extended-size child is copied as stored, header included.
    const Bytes udta_extended = cat({u32s({1}), tag("udta"), u64(20), u32s({0xABCDEF01})});
    struct Case {
        const char* name;
        Bytes input_payload;
        std::uint32_t id;
        Bytes expected_payload;
    };
    const std::vector<Case> cases = {
        // clang-format off
        {"no tref: appended last", cat({tkhd, mdia}), 3, cat({tkhd, mdia, head(20, "tref"), ref("tmcd", {3})})},
        {"other references stay ahead, old tmcd replaced in place",
         cat({tkhd, cat({head(48, "tref"), ref("chap", {2}), ref("tmcd", {5}), ref("sync", {3, 4})}), mdia}), 7,
         cat({tkhd, head(48, "tref"), ref("chap", {2}), ref("sync", {3, 4}), ref("tmcd", {7}), mdia})},
        {"only an old tmcd", cat({tkhd, mdia, head(20, "tref"), ref("tmcd", {2})}), 2,
         cat({tkhd, mdia, head(20, "tref"), ref("tmcd", {2})})},
        {"two old tmcd references", cat({tkhd, head(32, "tref"), ref("tmcd", {2}), ref("tmcd", {4}), mdia}), 4,
         cat({tkhd, head(20, "tref"), ref("tmcd", {4}), mdia})},
        {"empty tref", cat({tkhd, head(8, "tref"), mdia}), 6, cat({tkhd, head(20, "tref"), ref("tmcd", {6}), mdia})},
        {"extended child copied as stored", cat({tkhd, udta_extended, mdia}), 3,
         cat({tkhd, udta_extended, mdia, head(20, "tref"), ref("tmcd", {3})})},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes input = make_atom(FourCC("trak"), c.input_payload);
        const auto amended = reference_timecode_track(input, c.id);
        ASSERT_TRUE(amended) << amended.error();
        // clang-format off
        const Bytes expected = cat({u32s({static_cast<std::uint32_t>(8 + c.expected_payload.size())}), tag("trak"),
                                    c.expected_payload});
        // clang-format on
        EXPECT_EQ(*amended, expected);
    }
}

// A child stored with size field 0 runs to the end of its container. Copied
// as stored, it would swallow the reference appended behind it, so it gets
// its real size; the reader sees the same payload either way.
TEST(TimecodeReference, OpenEndedChildrenGetTheirRealSize) {
    const Bytes tkhd = video_tkhd_v0();
    const Bytes mdia = video_mdia(video_mdhd_v0());
    const Bytes udta_payload = cat({tag("name"), u32s({0x01020304})});
    struct Case {
        const char* name;
        Bytes input_payload;
        Bytes expected_payload;
    };
    const std::vector<Case> cases = {
        // clang-format off
        {"last trak child open-ended, no tref", cat({tkhd, mdia, u32s({0}), tag("udta"), udta_payload}),
         cat({tkhd, mdia, head(16, "udta"), udta_payload, head(20, "tref"), ref("tmcd", {3})})},
        {"last reference open-ended", cat({tkhd, mdia, head(32, "tref"), ref("chap", {2}), u32s({0}), tag("sync"), u32s({4})}),
         cat({tkhd, mdia, head(44, "tref"), ref("chap", {2}), ref("sync", {4}), ref("tmcd", {3})})},
        {"open-ended old tmcd reference is dropped", cat({tkhd, mdia, head(20, "tref"), u32s({0}), tag("tmcd"), u32s({9})}),
         cat({tkhd, mdia, head(20, "tref"), ref("tmcd", {3})})},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto amended = reference_timecode_track(make_atom(FourCC("trak"), c.input_payload), 3);
        ASSERT_TRUE(amended) << amended.error();
        EXPECT_EQ(*amended, make_atom(FourCC("trak"), c.expected_payload));
    }
}

TEST(TimecodeReference, ExtendedTrakHeaderIsRewrappedShort) {
    const Bytes payload = cat({video_tkhd_v0(), video_mdia(video_mdhd_v0())});
    const Bytes input = cat({u32s({1}), tag("trak"), u64(16 + payload.size()), payload});
    const auto amended = reference_timecode_track(input, 3);
    ASSERT_TRUE(amended) << amended.error();
    // clang-format off
    EXPECT_EQ(*amended, cat({u32s({static_cast<std::uint32_t>(8 + payload.size() + 20)}), tag("trak"), payload,
                             head(20, "tref"), ref("tmcd", {3})}));
    // clang-format on
}

TEST(TimecodeReference, MalformedChildren) {
    struct Case {
        const char* name;
        Bytes payload;
        std::string message;
    };
    const std::vector<Case> cases = {
        // clang-format off
        {"trak child too large", cat({video_tkhd_v0(), head(100, "mdia")}), "Invalid movie atom size"},
        {"tref child too small", cat({head(20, "tref"), head(4, "tmcd"), u32s({0})}), "Invalid movie atom size"},
        {"tref with a stray tail", cat({head(14, "tref"), u16s({0, 0}), u16s({0})}), "Truncated movie metadata"},
        {"truncated trak child header", cat({video_tkhd_v0(), u32s({0})}), "Truncated movie metadata"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto amended = reference_timecode_track(make_atom(FourCC("trak"), c.payload), 3);
        ASSERT_FALSE(amended);
        EXPECT_EQ(amended.error(), c.message);
    }
}

}  // namespace
}  // namespace velmora
