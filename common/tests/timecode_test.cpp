#include "timecode.h"

#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace velmora {
namespace {

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
        const auto parsed =
            parse_timecode(entry.at("text").get<std::string>(), entry.at("timescale").get<std::uint32_t>(),
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
        const auto text =
            format_timecode(entry.at("frame").get<std::uint32_t>(), entry.at("timescale").get<std::uint32_t>(),
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

// Typed text as the page's fields and --start take it, judged at the case's rate.
TEST(TimecodeCases, EntryMatchesSharedTable) {
    const auto table = case_table();
    ASSERT_GE(table.at("entry").size(), 25u);
    for (const auto& entry : table.at("entry")) {
        SCOPED_TRACE(describe(entry));
        const auto rate = entry.at("rate").get<std::string>();
        const auto slash = rate.find('/');
        const auto timescale = static_cast<std::uint32_t>(std::stoul(rate.substr(0, slash)));
        const auto frame_duration = static_cast<std::uint32_t>(std::stoul(rate.substr(slash + 1)));
        auto label = enter_timecode(entry.at("text").get<std::string>());
        if (label) {
            const auto parsed = parse_timecode(*label, timescale, frame_duration);
            if (!parsed) label = std::unexpected(parsed.error());
        }
        if (entry.contains("error")) {
            ASSERT_FALSE(label.has_value()) << *label;
            EXPECT_EQ(label.error(), entry.at("error").get<std::string>());
        } else {
            ASSERT_TRUE(label.has_value()) << label.error();
            EXPECT_EQ(*label, entry.at("timecode").get<std::string>());
        }
    }
}

TEST(NominalFps, RoundsHalfAwayFromZeroAndClamps) {
    struct Case {
        std::uint32_t timescale, duration, fps;
    };
    // clang-format off
    const Case cases[] = {
        {30000, 1001, 30}, {60000, 1001, 60}, {24000, 1001, 24}, {25, 1, 25},    {12800, 512, 25},
        {5, 2, 3},         {3, 2, 2},         {1, 2, 1},         {1, 3, 0},      {0, 1, 0},
        {4294967295u, 1, 4294967295u},        {7, 0, 4294967295u},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(nominal_fps(c.timescale, c.duration), c.fps) << c.timescale << "/" << c.duration;
}

TEST(DropFramesPerMinute, OnlyNearTheTwoNtscRates) {
    struct Case {
        std::uint32_t timescale, duration;
        int drop;  // 0: refused
    };
    // clang-format off
    const Case cases[] = {
        {30000, 1001, 2}, {60000, 1001, 4}, {2997, 100, 2}, {5994, 100, 4},
        // Within 0.002 of 29.97002997: 29.969 to 29.972, not 29.968 or 29.973.
        {29968, 1000, 0}, {29969, 1000, 2}, {29972, 1000, 2}, {29973, 1000, 0},
        {59938, 1000, 0}, {59939, 1000, 4}, {59942, 1000, 4}, {59943, 1000, 0},
        {30, 1, 0},       {24000, 1001, 0}, {25, 1, 0},     {60, 1, 0},
    };
    // clang-format on
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

}  // namespace
}  // namespace velmora
