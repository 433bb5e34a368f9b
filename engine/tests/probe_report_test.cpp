#include "probe_report.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <gtest/gtest.h>
#include <unistd.h>

#include "movie.h"
#include "rewriter.h"
#include "support/byte_spelling.h"
#include "support/movie_builder.h"

namespace velmora {
namespace {

using testing::cat;
using testing::head;
using testing::MovieSpec;
using testing::TempFile;
using testing::u32s;

std::string report_of(const MovieSpec& recipe) {
    TempFile file(testing::build_movie_bytes(recipe));
    auto movie = open_movie(file.path());
    if (!movie) return "refused: " + movie.error();
    return probe_report(*movie);
}

TEST(ProbeReport, VideoAndAudioMovie) {
    MovieSpec recipe;
    recipe.creation_time = 1'700'000'000ull + 2'082'844'800ull;
    recipe.tracks = {testing::video_track("avc1", 30000, 1001, 300), testing::audio_track()};
    recipe.tracks[0].width = 1920;
    recipe.tracks[0].height = 1080;
    EXPECT_EQ(report_of(recipe),
              "{\"engine\":\"velmora-native\",\"rate\":\"30000/1001\",\"duration\":10.01,\"timecode\":null,"
              "\"createdUnix\":1700000000,\"width\":1920,\"height\":1080,\"codec\":\"h264\",\"videoIndex\":0,"
              "\"streams\":[{\"index\":0,\"trackId\":1,\"type\":\"video\",\"codec\":\"h264\",\"tag\":\"avc1\","
              "\"attachedPicture\":false},{\"index\":1,\"trackId\":2,\"type\":\"audio\",\"codec\":\"aac\","
              "\"tag\":\"mp4a\",\"attachedPicture\":false}]}");
}

TEST(ProbeReport, TimecodeTrackPictureAndOpaqueCodes) {
    MovieSpec recipe;
    recipe.tracks = {testing::picture_track(), testing::video_track("ap4c", 12800, 512, 500),
                     testing::timecode_track(107892, {1, 12800, 512, 25})};
    recipe.tracks[1].track_id = 5;
    recipe.tracks[0].track_id = 2;
    recipe.tracks[2].track_id = 3;
    // A drop-frame flag at 25 fps cannot be formatted: use plain 25 fps labels.
    recipe.tracks[2].timecode->flags = 0;
    EXPECT_EQ(report_of(recipe),
              "{\"engine\":\"velmora-native\",\"rate\":\"25/1\",\"duration\":20,\"timecode\":\"01:11:55:17\","
              "\"createdUnix\":null,\"width\":320,\"height\":240,\"codec\":\"opaque\",\"videoIndex\":1,"
              "\"streams\":[{\"index\":0,\"trackId\":2,\"type\":\"video\",\"codec\":\"mjpeg\",\"tag\":\"jpeg\","
              "\"attachedPicture\":true},{\"index\":1,\"trackId\":5,\"type\":\"video\",\"codec\":\"opaque\","
              "\"tag\":\"ap4c\",\"attachedPicture\":false},{\"index\":2,\"trackId\":3,\"type\":\"data\","
              "\"codec\":\"timecode\",\"tag\":\"tmcd\",\"attachedPicture\":false}]}");
}

TEST(ProbeReport, DropFrameTimecodeKeepsItsSemicolon) {
    MovieSpec recipe;
    recipe.tracks.push_back(testing::timecode_track(107892, {1, 30000, 1001, 30}));
    const std::string report = report_of(recipe);
    EXPECT_NE(report.find("\"timecode\":\"01:00:00;00\""), std::string::npos) << report;
    EXPECT_NE(report.find("{\"index\":1,\"trackId\":2,\"type\":\"data\",\"codec\":\"timecode\",\"tag\":\"tmcd\""),
              std::string::npos)
        << report;
}

// A reel the timecode track names follows "timecode", as JSON text; a movie
// without one has no "reel" key at all. "appended" follows both, only for a
// well-formed stamp record in moov/udta.
TEST(ProbeReport, ReelFollowsTheTimecode) {
    const Bytes record = cat({head(28, "vlmr"), u32s({0, 0, 5000, 0, 32})});
    struct Case {
        const char* name;
        std::string text;  // of the name atom; empty: none
        const char* expected;
        std::optional<Bytes> udta;  // the payload of a udta closing the moov
    };
    const Case cases[] = {
        {"reel", "A001C003", "\"timecode\":\"01:00:00;00\",\"reel\":\"A001C003\",\"createdUnix\":null,"},
        {"quote_backslash_and_bad_byte", "R\"7\\\xff",
         "\"timecode\":\"01:00:00;00\",\"reel\":\"R\\\"7\\\\\xef\xbf\xbd\","},
        {"none", "", "\"timecode\":\"01:00:00;00\",\"createdUnix\":null,"},
        {"stamped_with_reel", "A001C003",
         "\"timecode\":\"01:00:00;00\",\"reel\":\"A001C003\",\"appended\":true,\"createdUnix\":null,", record},
        {"stamped", "", "\"timecode\":\"01:00:00;00\",\"appended\":true,\"createdUnix\":null,",
         cat({head(12, "name"), u32s({1}), record, u32s({0})})},
        {"udta_without_record", "", "\"timecode\":\"01:00:00;00\",\"createdUnix\":null,",
         cat({head(12, "name"), u32s({1})})},
        {"record_too_short", "", "\"timecode\":\"01:00:00;00\",\"createdUnix\":null,",
         cat({head(27, "vlmr"), Bytes(19, 0)})},
        {"record_of_another_version", "", "\"timecode\":\"01:00:00;00\",\"createdUnix\":null,",
         cat({head(28, "vlmr"), u32s({0x01000000, 0, 5000, 0, 32})})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TimecodeEntry entry{1, 30000, 1001, 30};
        if (!c.text.empty()) {
            entry.source_reference = pack_u32_be({static_cast<std::uint32_t>(12 + c.text.size())});
            append_bytes(entry.source_reference, FourCC("name").bytes);
            append_u16_be(entry.source_reference, static_cast<std::uint16_t>(c.text.size()));
            append_u16_be(entry.source_reference, 0);
            entry.source_reference.insert(entry.source_reference.end(), c.text.begin(), c.text.end());
        }
        MovieSpec recipe;
        recipe.tracks.push_back(testing::timecode_track(107892, entry));
        testing::Atoms atoms = testing::build_movie(recipe);
        if (c.udta) testing::find(atoms, "moov").children.push_back(testing::leaf("udta", *c.udta));
        TempFile file(testing::serialize(atoms));
        const auto movie = open_movie(file.path());
        ASSERT_TRUE(movie) << movie.error();
        const std::string report = probe_report(*movie);
        EXPECT_NE(report.find(c.expected), std::string::npos) << report;
        EXPECT_EQ(report.find("\"reel\"") != std::string::npos, !c.text.empty()) << report;
        const bool appended = std::string_view(c.expected).find("appended") != std::string_view::npos;
        EXPECT_EQ(report.find("\"appended\"") != std::string::npos, appended) << report;
        EXPECT_EQ(movie->stamp_record.has_value(), appended);
        if (appended) {
            EXPECT_EQ(movie->stamp_record, (StampRecord{5000, 32}));
        }
    }
}

TEST(ProbeReport, AttachedPictureWhateverTheHandler) {
    MovieSpec recipe;
    testing::TrackSpec cover = testing::picture_track();
    cover.handler = "meta";
    recipe.tracks.push_back(cover);
    const std::string report = report_of(recipe);
    EXPECT_NE(report.find("\"type\":\"data\",\"codec\":\"mjpeg\",\"tag\":\"jpeg\",\"attachedPicture\":true"),
              std::string::npos)
        << report;
}

TEST(ProbeReport, TagBytesAreShownAsText) {
    struct Case {
        std::array<std::uint8_t, 4> code;
        const char* tag_json;
    };
    // clang-format off
    const Case cases[] = {
        {{0xff, 'a', 'b', 'c'}, "\"\xEF\xBF\xBD" "abc\""},
        {{'a', 0xc3, 0xa9, 'b'}, "\"a\xC3\xA9" "b\""},
        {{'a', '"', '\\', 'b'}, "\"a\\\"\\\\b\""},
        {{0, 1, '\t', '\n'}, "\"\\u0000\\u0001\\t\\n\""},
        {{'\r', 0x08, 0x0c, 0x7f}, "\"\\r\\u0008\\u000c\x7f\""},
        {{0xe2, 0x82, 'x', 'y'}, "\"\xEF\xBF\xBD" "xy\""},
    };
    // clang-format on
    for (const Case& c : cases) {
        MovieSpec recipe;
        testing::TrackSpec other = testing::audio_track();
        other.sample_entry.bytes = c.code;
        recipe.tracks.push_back(other);
        const std::string report = report_of(recipe);
        const std::string expected = std::string("\"codec\":\"opaque\",\"tag\":") + c.tag_json;
        EXPECT_NE(report.find(expected), std::string::npos) << report;
    }
}

TEST(CodecName, KnownCodesAndOpaque) {
    const std::pair<const char*, const char*> cases[] = {
        {"hvc1", "hevc"},     {"hev1", "hevc"},   {"avc1", "h264"},      {"avc3", "h264"},      {"apch", "prores"},
        {"apcn", "prores"},   {"apcs", "prores"}, {"apco", "prores"},    {"ap4h", "prores"},    {"ap4x", "prores"},
        {"mp4v", "mpeg4"},    {"mp4a", "aac"},    {"sowt", "pcm_s16le"}, {"twos", "pcm_s16be"}, {"jpeg", "mjpeg"},
        {"tmcd", "timecode"}, {"AVC1", "opaque"}, {"ap4c", "opaque"},    {"lpcm", "opaque"},    {"avc2", "opaque"},
    };
    for (const auto& [code, name] : cases) {
        FourCC fourcc;
        std::memcpy(fourcc.bytes.data(), code, 4);
        EXPECT_EQ(codec_name(fourcc), name) << code;
    }
}

TEST(FormatDuration, ShortestPositionalText) {
    const std::pair<double, const char*> cases[] = {
        {10.01, "10.01"},
        {20.0, "20"},
        {0.5, "0.5"},
        {0.0, "0"},
        {300300.0 / 30000.0, "10.01"},
        {1.0 / 3.0, "0.3333333333333333"},
        {0.1 + 0.2, "0.30000000000000004"},
        {1e-7, "0.0000001"},
        {1.5e-10, "0.00000000015"},
        {1e21, "1000000000000000000000"},
        {123456789012345680000.0, "123456789012345680000"},
        {4294967295.0, "4294967295"},
        {18446744073709551615.0, "18446744073709552000"},
        {1001.0 / 30000.0, "0.03336666666666667"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(format_duration(value), text) << value;
}

TEST(FormatDuration, ReadsBackAsTheSameDouble) {
    std::mt19937_64 random(11);
    for (int i = 0; i < 20000; ++i) {
        const auto duration = random() >> (random() % 64);
        const auto timescale = static_cast<std::uint32_t>(random() >> (32 + random() % 32)) | 1u;
        const double value = static_cast<double>(duration) / static_cast<double>(timescale);
        const std::string text = format_duration(value);
        ASSERT_EQ(text.find_first_of("eE+-"), std::string::npos) << text;
        if (text.find('.') != std::string::npos) {
            ASSERT_NE(text.back(), '0') << text;
        }
        double back = 0;
        const auto parsed = std::from_chars(text.data(), text.data() + text.size(), back);
        ASSERT_EQ(parsed.ec, std::errc()) << text;
        ASSERT_EQ(back, value) << text;
    }
}

TEST(FormatCreatedUnix, EpochShift) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "null"},
        {1, "-2082844799"},
        {2'082'844'799, "-1"},
        {2'082'844'800, "0"},
        {2'082'844'801, "1"},
        {3'782'844'800, "1700000000"},
        {0xffffffff, "2212122495"},
        {0xffffffffffffffffull, "18446744071626706815"},
    };
    for (const auto& [created, text] : cases) EXPECT_EQ(format_created_unix(created), text) << created;
}

TEST(FormatRecordedOffset, SignHoursMinutes) {
    const std::pair<int, const char*> cases[] = {
        {0, "+00:00"},   {180, "+03:00"}, {-420, "-07:00"}, {345, "+05:45"},
        {-30, "-00:30"}, {840, "+14:00"}, {-720, "-12:00"}, {59, "+00:59"},
    };
    for (const auto& [minutes, text] : cases) EXPECT_EQ(format_recorded_offset(minutes), text) << minutes;
}

// The recorded time closes the report: after "measuredRate" where there is one, else after "streams".
TEST(ProbeReport, RecordedTimeClosesTheReport) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> timing;
        const char* creation_date;
        const char* tail;
    };
    const Case cases[] = {
        {"constant_rate",
         {{10, 1001}},
         "2019-07-24T11:25:40+0300",
         "\"attachedPicture\":false}],\"recordedUnix\":1563956740,\"recordedOffset\":\"+03:00\"}"},
        {"differing_durations",
         {{4, 1001}, {1, 2002}, {4, 1001}},
         "2021-05-25T09:21:51-0700",
         "\"attachedPicture\":false}],\"measuredRate\":\"27000/1001\",\"recordedUnix\":1621959711,"
         "\"recordedOffset\":\"-07:00\"}"},
        {"utc",
         {{10, 1001}},
         "1969-12-31T23:59:59.5Z",
         "\"attachedPicture\":false}],\"recordedUnix\":-1,\"recordedOffset\":\"+00:00\"}"},
        {"unparsable_leaves_the_report_as_it_was", {{10, 1001}}, "2019-07-24T11:25+0300", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MovieSpec recipe;
        recipe.tracks[0].timing = c.timing;
        const std::string without = report_of(recipe);
        recipe.creation_date = c.creation_date;
        const std::string report = report_of(recipe);
        if (c.tail == nullptr) {
            EXPECT_EQ(report, without);
            continue;
        }
        EXPECT_TRUE(report.ends_with(c.tail)) << report;
        // Nothing else moves.
        EXPECT_EQ(report.substr(0, without.size() - 1), without.substr(0, without.size() - 1));
    }
}

// Real phone files: the report and the written copy's report carry the
// recorded time of their moov/meta.
TEST(ProbeReport, RecordedTimeOfRealPhoneFootage) {
    const std::string folder = VELMORA_REAL_FOOTAGE;
    if (::access(folder.c_str(), R_OK | X_OK) != 0) GTEST_SKIP() << "no real footage at " << folder;
    const std::pair<const char*, const char*> cases[] = {
        {"iphone-gps-creationdate.mov", "\"recordedUnix\":1563956740,\"recordedOffset\":\"+03:00\"}"},
        {"iphone-creationdate-0700.mov", "\"recordedUnix\":1418949546,\"recordedOffset\":\"+07:00\"}"},
        {"iphone-creationdate-0200.mp4", "\"recordedUnix\":1316945394,\"recordedOffset\":\"+02:00\"}"},
        {"phone-creationdate-minus0700.mp4", "\"recordedUnix\":1621959711,\"recordedOffset\":\"-07:00\"}"},
    };
    for (const auto& [name, tail] : cases) {
        SCOPED_TRACE(name);
        const std::string path = folder + "/" + name;
        const auto movie = open_movie(path);
        ASSERT_TRUE(movie.has_value()) << movie.error();
        const std::string report = probe_report(*movie);
        EXPECT_TRUE(report.ends_with(tail)) << report;

        testing::TempDir dir;
        std::string written_report;
        const WriteEvents events{nullptr, [&](std::string_view line) { written_report = line; }, nullptr};
        const Status written = write_movie(path, dir.file("out.mov"), "01:00:00:00", events);
        ASSERT_TRUE(written.has_value()) << written.error();
        EXPECT_TRUE(written_report.ends_with(std::string(tail) + "\n")) << written_report;
    }
}

TEST(ProbeReport, CreationTimeFromVersion1Header) {
    MovieSpec recipe;
    recipe.creation_time = 1ull << 33;
    const std::string report = report_of(recipe);
    EXPECT_NE(report.find("\"createdUnix\":" + std::to_string((1ull << 33) - 2'082'844'800ull) + ","),
              std::string::npos)
        << report;
}

TEST(ProbeReport, RateIsReduced) {
    const std::tuple<std::uint32_t, std::uint32_t, const char*> cases[] = {
        {12800, 512, "\"rate\":\"25/1\""}, {24000, 1001, "\"rate\":\"24000/1001\""},
        {600, 20, "\"rate\":\"30/1\""},    {90000, 3003, "\"rate\":\"30000/1001\""},
        {50, 2, "\"rate\":\"25/1\""},      {7, 7, "\"rate\":\"1/1\""},
    };
    for (const auto& [timescale, delta, expected] : cases) {
        MovieSpec recipe;
        recipe.tracks[0] = testing::video_track("avc1", timescale, delta);
        EXPECT_NE(report_of(recipe).find(expected), std::string::npos) << timescale << "/" << delta;
    }
}

// A video whose frame durations differ is labelled at a standard rate, and so
// is a constant duration within 0.1 % of one that its time scale cannot hold;
// only such a movie appends what it measured, after "streams".
TEST(ProbeReport, RateOfDifferingFrameDurations) {
    struct Case {
        const char* name;
        std::uint32_t timescale;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> timing;
        const char* rate;      // nullptr: refused as variable frame rate
        const char* measured;  // nullptr: no measuredRate key
    };
    const Case cases[] = {
        {"dropped_frame_at_25", 12800, {{5, 512}, {1, 1024}, {4, 512}}, "25/1", "250/11"},
        {"dropped_frame_at_2997", 30000, {{4, 1001}, {1, 2002}, {4, 1001}}, "30000/1001", "27000/1001"},
        {"short_closing_frame", 30000, {{9, 1001}, {1, 500}}, "30000/1001", nullptr},
        {"closing_zero_length_sample", 30000, {{9, 1001}, {1, 0}}, "30000/1001", nullptr},
        {"short_frame_before_closing_zero_stays", 30000, {{8, 1001}, {1, 500}, {1, 0}}, nullptr, nullptr},
        {"nearer_2997_than_30", 90000, {{7, 3003}, {3, 3000}}, "30000/1001", "300000/10007"},
        {"nearer_30_than_2997", 90000, {{3, 3003}, {7, 3000}}, "30/1", "300000/10003"},
        {"phone_at_600_with_20_and_21", 600, {{10, 20}, {1, 21}, {10, 20}}, "30000/1001", "12600/421"},
        {"tie_goes_to_the_earlier_rate",
         48000,
         {{1, 2000}, {1, 2002}, {1, 2000}, {1, 2002}},
         "24000/1001",
         "16000/667"},
        {"spread_above_twice", 30000, {{5, 1001}, {5, 2500}}, nullptr, nullptr},
        {"more_than_1_percent_off", 30000, {{5, 1001}, {5, 1100}}, nullptr, nullptr},
        // Phones' constant durations at 90000: the nearest standard rate wins.
        {"constant_1501_at_90000", 90000, {{10, 1501}}, "60000/1001", "90000/1501"},
        {"constant_3001_at_90000", 90000, {{10, 3001}}, "30/1", "90000/3001"},
        {"constant_2998_at_90000", 90000, {{3, 2998}}, "30/1", "45000/1499"},
        {"constant_1501_closed_short", 90000, {{9, 1501}, {1, 700}}, "60000/1001", "90000/1501"},
        {"constant_3003_at_90000_is_exact", 90000, {{10, 3003}}, "30000/1001", nullptr},
        {"constant_0_1_percent_above_25", 25025, {{10, 1000}}, "25/1", "1001/40"},
        {"constant_0_1_percent_below_25", 24975, {{10, 1000}}, "25/1", "999/40"},
        {"constant_just_past_0_1_percent_above_25", 250251, {{10, 10000}}, "250251/10000", nullptr},
        {"constant_just_past_0_1_percent_below_25", 249749, {{10, 10000}}, "249749/10000", nullptr},
        {"constant_tie_goes_to_the_earlier_rate", 48000, {{10, 2001}}, "24000/1001", "16000/667"},
        {"constant_15_stays", 15, {{10, 1}}, "15/1", nullptr},
        {"constant_12_5_stays", 25, {{10, 2}}, "25/2", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MovieSpec recipe;
        recipe.tracks[0].timescale = c.timescale;
        recipe.tracks[0].timing = c.timing;
        const std::string report = report_of(recipe);
        if (c.rate == nullptr) {
            EXPECT_EQ(report, "refused: Variable frame rate movies are not supported yet");
            continue;
        }
        EXPECT_NE(report.find("\"rate\":\"" + std::string(c.rate) + "\","), std::string::npos) << report;
        const std::string tail =
            c.measured == nullptr ? "\"attachedPicture\":false}]}"
                                  : "\"attachedPicture\":false}],\"measuredRate\":\"" + std::string(c.measured) + "\"}";
        EXPECT_TRUE(report.ends_with(tail)) << report;
    }
}

}  // namespace
}  // namespace velmora
