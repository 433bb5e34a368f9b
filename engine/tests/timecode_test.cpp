#include "timecode.h"

#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "movie.h"
#include "support/movie_builder.h"

namespace velmora {
namespace {

using testing::MovieSpec;
using testing::TempFile;
using testing::TimecodeEntry;

nlohmann::json case_table() {
    std::ifstream in(VELMORA_TEST_DATA "/timecode_cases.json");
    return nlohmann::json::parse(in);
}

std::string describe(const nlohmann::json& entry) { return entry.dump(); }

TEST(TimecodeCases, ParseMatchesSharedTable) {
    const auto table = case_table();
    ASSERT_GE(table.at("parse").size(), 30u);
    for (const auto& entry : table.at("parse")) {
        SCOPED_TRACE(describe(entry));
        const auto parsed = parse_timecode(entry.at("text").get<std::string>(), entry.at("timescale").get<std::uint32_t>(),
                                           entry.at("frameDuration").get<std::uint32_t>());
        if (entry.contains("error")) {
            ASSERT_FALSE(parsed.has_value());
            EXPECT_EQ(parsed.error(), entry.at("error").get<std::string>());
        } else {
            ASSERT_TRUE(parsed.has_value()) << parsed.error();
            EXPECT_EQ(parsed->frame, entry.at("frame").get<std::uint32_t>());
            EXPECT_EQ(parsed->drop_frame, entry.at("drop").get<bool>());
        }
    }
}

TEST(TimecodeCases, FormatMatchesSharedTable) {
    const auto table = case_table();
    ASSERT_GE(table.at("format").size(), 15u);
    for (const auto& entry : table.at("format")) {
        SCOPED_TRACE(describe(entry));
        const auto text = format_timecode(entry.at("frame").get<std::uint32_t>(), entry.at("timescale").get<std::uint32_t>(),
                                          entry.at("frameDuration").get<std::uint32_t>(), entry.at("drop").get<bool>());
        if (entry.contains("error")) {
            ASSERT_FALSE(text.has_value());
            EXPECT_EQ(text.error(), entry.at("error").get<std::string>());
        } else {
            ASSERT_TRUE(text.has_value()) << text.error();
            EXPECT_EQ(*text, entry.at("text").get<std::string>());
        }
    }
}

TEST(NominalFps, RoundsHalfAwayFromZeroAndClamps) {
    struct Case {
        std::uint32_t timescale, duration, fps;
    };
    const Case cases[] = {
        {30000, 1001, 30}, {60000, 1001, 60}, {24000, 1001, 24}, {25, 1, 25},    {12800, 512, 25},
        {5, 2, 3},         {3, 2, 2},         {1, 2, 1},         {1, 3, 0},      {0, 1, 0},
        {4294967295u, 1, 4294967295u},        {7, 0, 4294967295u},
    };
    for (const Case& c : cases) EXPECT_EQ(nominal_fps(c.timescale, c.duration), c.fps) << c.timescale << "/" << c.duration;
}

TEST(DropFramesPerMinute, OnlyNearTheTwoNtscRates) {
    struct Case {
        std::uint32_t timescale, duration;
        int drop;  // 0: refused
    };
    const Case cases[] = {
        {30000, 1001, 2}, {60000, 1001, 4}, {2997, 100, 2}, {5994, 100, 4},
        // Within 0.002 of 29.97002997: 29.969 to 29.972, not 29.968 or 29.973.
        {29968, 1000, 0}, {29969, 1000, 2}, {29972, 1000, 2}, {29973, 1000, 0},
        {59938, 1000, 0}, {59939, 1000, 4}, {59942, 1000, 4}, {59943, 1000, 0},
        {30, 1, 0},       {24000, 1001, 0}, {25, 1, 0},     {60, 1, 0},
    };
    for (const Case& c : cases) {
        const auto d = drop_frames_per_minute(c.timescale, c.duration);
        if (c.drop == 0) {
            ASSERT_FALSE(d.has_value()) << c.timescale << "/" << c.duration;
            EXPECT_EQ(d.error(), "Drop-frame requires 29.97 or 59.94 fps");
        } else {
            ASSERT_TRUE(d.has_value()) << c.timescale << "/" << c.duration;
            EXPECT_EQ(*d, static_cast<std::uint32_t>(c.drop));
        }
    }
}

// Every label of the hours [first_hour, 24) parses and formats back to
// itself, and the frame numbers are consecutive: no label is skipped or
// doubled. The frame after the last label of the day wraps to midnight.
void expect_round_trip_to_midnight(std::uint32_t timescale, std::uint32_t duration, bool drop, std::uint32_t first_hour,
                                   std::uint32_t first_frame) {
    const std::uint32_t fps = nominal_fps(timescale, duration);
    const std::uint32_t d = drop ? *drop_frames_per_minute(timescale, duration) : 0;
    std::uint32_t expected = first_frame;
    char text[64];
    for (std::uint32_t h = first_hour; h < 24; ++h)
        for (std::uint32_t m = 0; m < 60; ++m)
            for (std::uint32_t s = 0; s < 60; ++s)
                for (std::uint32_t f = 0; f < fps; ++f) {
                    if (drop && m % 10 != 0 && s == 0 && f < d) continue;
                    std::snprintf(text, sizeof text, "%02u:%02u:%02u%c%02u", h, m, s, drop ? ';' : ':', f);
                    const auto parsed = parse_timecode(text, timescale, duration);
                    ASSERT_TRUE(parsed.has_value()) << text << ": " << parsed.error();
                    ASSERT_EQ(parsed->frame, expected) << text;
                    const auto formatted = format_timecode(parsed->frame, timescale, duration, drop);
                    ASSERT_TRUE(formatted.has_value()) << text;
                    ASSERT_EQ(*formatted, text);
                    ++expected;
                }
    EXPECT_EQ(*format_timecode(expected, timescale, duration, drop), drop ? "00:00:00;00" : "00:00:00:00");
}

// Whole days for the drop-frame rates; the last hours for the others.
TEST(TimecodeRoundTrip, DropFrameAt2997) { expect_round_trip_to_midnight(30000, 1001, true, 0, 0); }
TEST(TimecodeRoundTrip, DropFrameAt5994LastFourHours) {
    expect_round_trip_to_midnight(60000, 1001, true, 20, 20 * 215784);
}
TEST(TimecodeRoundTrip, NonDropAt25LastTwoHours) { expect_round_trip_to_midnight(25, 1, false, 22, 22 * 90000); }
TEST(TimecodeRoundTrip, NonDropAt2997LastTwoHours) {
    expect_round_trip_to_midnight(30000, 1001, false, 22, 22 * 108000);
}

TEST(TimecodeParse, DropFrameSkipsFourLabelsAt5994) {
    for (const char* skipped : {"00:01:00;00", "00:01:00;01", "00:01:00;02", "00:01:00;03"}) {
        const auto parsed = parse_timecode(skipped, 60000, 1001);
        ASSERT_FALSE(parsed.has_value()) << skipped;
        EXPECT_EQ(parsed.error(), "Skipped drop-frame timecode label");
    }
    EXPECT_EQ(parse_timecode("00:00:59;59", 60000, 1001)->frame + 1, parse_timecode("00:01:00;04", 60000, 1001)->frame);
}

TEST(TimecodeParse, RangeIsCheckedBeforeDropFrameRate) {
    // Frames 25 at 25 fps is out of range before the drop-frame rate matters.
    EXPECT_EQ(parse_timecode("00:00:00;25", 25, 1).error(), "Timecode is outside the frame-rate range");
    EXPECT_EQ(parse_timecode("00:00:00;24", 25, 1).error(), "Drop-frame requires 29.97 or 59.94 fps");
}

// Existing timecode tracks, read through open_movie.
struct ExistingCase {
    const char* name;
    std::function<void(MovieSpec&)> change;
    std::optional<std::string> timecode;  // expected text
    const char* message;                  // or the expected failure
};

// Test names and failure traces show the case by its name.
void PrintTo(const ExistingCase& c, std::ostream* os) { *os << c.name; }

class ExistingTimecode : public ::testing::TestWithParam<ExistingCase> {};

TEST_P(ExistingTimecode, ReadsOrRefuses) {
    MovieSpec recipe;
    GetParam().change(recipe);
    TempFile file(testing::build_movie_bytes(recipe));
    const auto movie = open_movie(file.path());
    if (GetParam().message != nullptr) {
        ASSERT_FALSE(movie.has_value()) << "accepted";
        EXPECT_EQ(movie.error(), GetParam().message);
    } else {
        ASSERT_TRUE(movie.has_value()) << movie.error();
        EXPECT_EQ(movie->existing_timecode, GetParam().timecode);
    }
}

testing::TrackSpec timecode(std::uint32_t start, TimecodeEntry entry = {}) { return testing::timecode_track(start, entry); }

const ExistingCase kExistingCases[] = {
    {"none", [](MovieSpec&) {}, std::nullopt, nullptr},
    {"non_drop", [](MovieSpec& s) { s.tracks.push_back(timecode(108000)); }, "01:00:00:00", nullptr},
    {"drop", [](MovieSpec& s) { s.tracks.push_back(timecode(107892, {1, 30000, 1001, 30})); }, "01:00:00;00", nullptr},
    {"flags_two_and_three",
     [](MovieSpec& s) { s.tracks.push_back(timecode(17982, {3, 30000, 1001, 30})); }, "00:10:00;00", nullptr},
    {"wraps_a_day", [](MovieSpec& s) { s.tracks.push_back(timecode(2592001)); }, "00:00:00:01", nullptr},
    {"two_tracks",
     [](MovieSpec& s) {
         s.tracks.push_back(timecode(0));
         s.tracks.push_back(timecode(0));
     },
     std::nullopt, "Multiple timecode tracks are not supported yet"},
    {"two_samples",
     [](MovieSpec& s) {
         auto track = timecode(0);
         track.timing = {{2, 1001}};
         track.sample_data = Bytes{0, 0, 0, 0, 0, 0, 0, 1};
         s.tracks.push_back(track);
     },
     std::nullopt, "Discontinuous timecode is not supported yet"},
    {"flags_above_three", [](MovieSpec& s) { s.tracks.push_back(timecode(0, {4, 30000, 1001, 30})); }, std::nullopt,
     "Unsupported timecode format flags"},
    {"zero_frames_per_second", [](MovieSpec& s) { s.tracks.push_back(timecode(0, {0, 30000, 1001, 0})); },
     std::nullopt, "Unsupported timecode format flags"},
    {"rate_differs_25_vs_24",
     [](MovieSpec& s) {
         s.tracks.front() = testing::video_track("avc1", 24, 1);
         s.tracks.push_back(timecode(0, {0, 25, 1, 25}));
     },
     std::nullopt, "Timecode and video rates disagree"},
    {"same_rate_other_scale",
     [](MovieSpec& s) {
         s.tracks.front() = testing::video_track("avc1", 24, 1);
         s.tracks.push_back(timecode(24, {0, 2400, 100, 24}));
     },
     "00:00:01:00", nullptr},
    // Some action cameras store the whole part of 29.97 as the frames byte.
    {"camera_frames_byte_29_at_2997", [](MovieSpec& s) { s.tracks.push_back(timecode(1800, {1, 30000, 1001, 29})); },
     "00:01:00;02", nullptr},
    {"fps_byte_31_at_2997", [](MovieSpec& s) { s.tracks.push_back(timecode(0, {0, 30000, 1001, 31})); },
     std::nullopt, "Timecode and video rates disagree"},
    {"fps_byte_29_at_30",
     [](MovieSpec& s) {
         s.tracks.front() = testing::video_track("avc1", 30, 1);
         s.tracks.push_back(timecode(0, {0, 30, 1, 29}));
     },
     std::nullopt, "Timecode and video rates disagree"},
    {"fps_byte_59_at_5994_video_2997",
     [](MovieSpec& s) { s.tracks.push_back(timecode(0, {0, 60000, 1001, 59})); }, std::nullopt,
     "Timecode and video rates disagree"},
    // A variable-rate video at time scale 600 is labelled at 30000/1001.
    {"variable_rate_at_its_standard_rate",
     [](MovieSpec& s) {
         s.tracks.front().timescale = 600;
         s.tracks.front().timing = {{10, 20}, {1, 21}, {10, 20}};
         s.tracks.push_back(timecode(1800, {0, 30000, 1001, 30}));
     },
     "00:01:00:00", nullptr},
    {"variable_rate_at_its_own_scale",
     [](MovieSpec& s) {
         s.tracks.front().timescale = 600;
         s.tracks.front().timing = {{10, 20}, {1, 21}, {10, 20}};
         s.tracks.push_back(timecode(0, {0, 600, 20, 30}));
     },
     std::nullopt, "Timecode and video rates disagree"},
    {"sample_of_eight_bytes",
     [](MovieSpec& s) {
         auto track = timecode(0);
         track.constant_sample_size = 8;
         s.tracks.push_back(track);
     },
     std::nullopt, "Expected a 32-bit timecode sample"},
    {"per_sample_size_four",
     [](MovieSpec& s) {
         auto track = timecode(25);
         track.sample_sizes = {4};
         s.tracks.push_back(track);
     },
     "00:00:00:25", nullptr},
    {"negative",
     [](MovieSpec& s) { s.tracks.push_back(timecode(0x80000000u)); }, std::nullopt,
     "Negative timecode is not supported yet"},
    {"drop_flag_at_25",
     [](MovieSpec& s) {
         s.tracks.front() = testing::video_track("avc1", 25, 1);
         s.tracks.push_back(timecode(0, {1, 25, 1, 25}));
     },
     std::nullopt, "Drop-frame requires 29.97 or 59.94 fps"},
};

std::string existing_case_name(const ::testing::TestParamInfo<ExistingCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Cases, ExistingTimecode, ::testing::ValuesIn(kExistingCases), existing_case_name);

TEST(ExistingTimecodeLayout, SampleTablesAreCheckedBeforeTheTimecode) {
    // A single timecode sample listed in two chunks never reaches the
    // timecode reader: the sample layout refuses the second, empty chunk.
    MovieSpec recipe;
    recipe.tracks.push_back(testing::timecode_track(0));
    auto movie = testing::build_movie(recipe);
    auto& stbl = testing::find(movie, "moov/trak#1/mdia/minf/stbl");
    const auto offset = testing::read_u32(stbl.at("stco").payload, 8);
    stbl.at("stco").payload = testing::stco_payload({offset, offset});
    stbl.at("stsc").payload = testing::stsc_payload({{1, 1, 1}, {2, 1, 1}});
    TempFile file(testing::serialize(movie));
    const auto opened = open_movie(file.path());
    ASSERT_FALSE(opened.has_value());
    EXPECT_EQ(opened.error(), "Too many chunk samples");
}

}  // namespace
}  // namespace velmora
