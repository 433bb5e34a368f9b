#include "start_derivation.h"

#include <array>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "reel_name.h"
#include "start_derivation_json.h"
#include "wall_clock.h"

namespace velmora {
namespace {

// The page's test runs in this zone too: its offset is not whole hours, so a
// derivation that mixes up local and UTC fields cannot pass by accident.
void use_test_zone() {
    ::setenv("TZ", "Asia/Kolkata", 1);
    ::tzset();
}

const nlohmann::json& derivation_cases() {
    static const nlohmann::json table = [] {
        std::ifstream in(VELMORA_TEST_DATA "/timecode_cases.json");
        return nlohmann::json::parse(in).at("derivation");
    }();
    return table;
}

std::optional<std::string> optional_text(const nlohmann::json& value) {
    if (value.is_null()) return std::nullopt;
    return value.get<std::string>();
}

// A start as the page's test compares it: the label and end, or the message
// and the field it is about.
nlohmann::json as_row(const StartResult& result) {
    if (!result) return {{"error", result.error().message}, {"field", result.error().field}};
    return {{"timecode", result->timecode}, {"end", result->end.value_or("")}};
}

TEST(StartDerivation, TestZoneIsFiveAndAHalfHoursEast) {
    use_test_zone();
    const auto clock = wall_clock(*parse_instant("2024-01-01T00:00:00Z"), std::nullopt);
    ASSERT_TRUE(clock.has_value());
    EXPECT_EQ(clock->hour, 5);
    EXPECT_EQ(clock->minute, 30);
    EXPECT_EQ(clock->offset_minutes, 330);
}

TEST(StartDerivation, StartsMatchSharedTable) {
    use_test_zone();
    const auto& cases = derivation_cases();
    ASSERT_GE(cases.at("starts").size(), 90u);
    for (const auto& group : {"starts", "recorded"}) {
        for (const auto& c : cases.at(group)) {
            SCOPED_TRACE(c.at("label").get<std::string>());
            const MovieFacts movie = movie_facts_from_json(c.at("movie"));
            const auto got = derive_start(movie, start_settings_from_json(c.at("settings")));
            if (c.contains("error")) {
                ASSERT_FALSE(got.has_value()) << got->timecode;
                EXPECT_EQ(got.error().message, c.at("error").get<std::string>());
                EXPECT_EQ(got.error().field, c.at("field").get<std::string>());
                continue;
            }
            ASSERT_TRUE(got.has_value()) << got.error().field << ": " << got.error().message;
            EXPECT_EQ(got->timecode, c.at("timecode").get<std::string>());
            if (c.contains("basis")) {
                EXPECT_EQ(got->basis, optional_text(c.at("basis")));
            }
            if (c.contains("note")) {
                EXPECT_EQ(got->note, optional_text(c.at("note")));
            }
            // Whatever is derived must be what the engine accepts at the movie's rate.
            EXPECT_TRUE(validate_start(movie, got->timecode).has_value());
        }
    }
}

TEST(StartDerivation, ContinuousStartsAndEndsMatchSharedTable) {
    use_test_zone();
    const auto& cases = derivation_cases().at("continuous");
    ASSERT_GE(cases.size(), 14u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.at("label").get<std::string>());
        std::vector<ListedMovie> movies;
        for (const auto& movie : c.at("movies"))
            movies.push_back({movie_facts_from_json(movie), start_json::text(movie, "typed")});
        const auto results = derive_continuous(movies, start_settings_from_json(c.at("settings")));
        nlohmann::json rows = nlohmann::json::array();
        for (const auto& result : results) rows.push_back(as_row(result));
        EXPECT_EQ(rows, c.at("results"));
    }
}

TEST(StartDerivation, TypedStartsMatchSharedTable) {
    const auto& cases = derivation_cases().at("typed");
    ASSERT_GE(cases.size(), 10u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dump());
        const std::string text = c.at("text").get<std::string>();
        const auto got = validate_start(movie_facts_from_json(c.at("movie")), text);
        if (c.at("error").is_null()) {
            ASSERT_TRUE(got.has_value()) << got.error();
            EXPECT_EQ(*got, text);
        } else {
            ASSERT_FALSE(got.has_value());
            EXPECT_EQ(got.error(), c.at("error").get<std::string>());
        }
    }
}

TEST(StartDerivation, EndLabelsMatchSharedTable) {
    const auto& cases = derivation_cases().at("ends");
    ASSERT_GE(cases.size(), 10u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.at("label").get<std::string>());
        const auto got = end_label(movie_facts_from_json(c.at("movie")), c.at("start").get<std::string>());
        if (c.contains("error")) {
            ASSERT_FALSE(got.has_value()) << *got;
            EXPECT_EQ(got.error(), c.at("error").get<std::string>());
        } else {
            ASSERT_TRUE(got.has_value()) << got.error();
            EXPECT_EQ(*got, c.at("end").get<std::string>());
        }
    }
}

TEST(StartDerivation, OnlyACustomStartRunsOn) {
    struct Case {
        const char* settings;
        bool continuous;
    };
    const Case cases[] = {
        {R"({"source": "custom", "continuous": true})", true},
        {R"({"source": "custom", "continuous": false})", false},
        {R"({"source": "custom", "continuous": 1})", false},
        {R"({"source": "creation", "continuous": true})", false},
        {R"({"continuous": true})", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(is_continuous(start_settings_from_json(nlohmann::json::parse(c.settings))), c.continuous)
            << c.settings;
}

// What Date.parse gives for the same texts (node 20); nothing where it gives NaN.
TEST(WallClock, InstantsAsDateParseReadsThem) {
    use_test_zone();
    struct Case {
        const char* text;
        std::optional<double> ms;
    };
    const Case cases[] = {
        {"2024-03-09T14:05:07.500Z", 1709993107500.0},
        {"2024-03-09T14:05:07Z", 1709993107000.0},
        {"2024-03-09T14:05Z", 1709993100000.0},
        {"2024-03-09T14:05:07.5Z", 1709993107500.0},
        {"2024-03-09T14:05:07.12345678901Z", 1709993107123.0},
        {"2024-03-09T14:05:07+03:00", 1709982307000.0},
        {"2024-03-09T14:05:07.500-00:30", 1709994907500.0},
        {"2024-03-09T14:05:07", 1709973307000.0},  // local time
        {"2024-03-09T14:05", 1709973300000.0},
        {"2024-03-09", 1709942400000.0},  // a date alone is UTC
        {"2024-03", 1709251200000.0},
        {"2024", 1704067200000.0},
        {"+002024-03-09T14:05:07Z", 1709993107000.0},
        {"-000001-03-09T14:05:07Z", -62192915693000.0},
        {"2024-03-09T24:00:00Z", 1710028800000.0},
        {"2024-02-30T00:00:00Z", 1709251200000.0},
        {"1969-12-31T23:59:59.999Z", -1.0},
        {"+275760-09-13T00:00:00Z", 8.64e15},
        {"-271821-04-20T00:00:00Z", -8.64e15},
        {"+275760-09-13T00:00:00.001Z", std::nullopt},
        {"-271821-04-19T23:59:59.999Z", std::nullopt},
        {"2024-03-09T24:00:01Z", std::nullopt},
        {"2024-03-09T14:05:60Z", std::nullopt},
        {"2024-03-09T14:05:07.Z", std::nullopt},
        {"2024-13-09T14:05:07Z", std::nullopt},
        {"2024-03-32T00:00:00Z", std::nullopt},
        {"2024-00-09T00:00:00Z", std::nullopt},
        {"2024-03-09T14:05:07+24:00", std::nullopt},
        {"2024-03-09T14Z", std::nullopt},
        {"2024-3-9T14:05:07Z", std::nullopt},
        {"-000000-01-01T00:00:00Z", std::nullopt},
        {"275760-09-13T00:00:00Z", std::nullopt},
        {"2024-03-09T14:05:07.500ZZ", std::nullopt},
        {" 2024-03-09T14:05:07Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(parse_instant(c.text), c.ms) << c.text;
}

TEST(WallClock, TimeOfDayInAZoneAndOutOfRange) {
    use_test_zone();
    struct Case {
        double ms;
        std::optional<int> offset;
        std::optional<std::array<int, 5>> clock;  // hour, minute, second, millis, offset
    };
    const Case cases[] = {
        {1709993107500.0, 0, std::array{14, 5, 7, 500, 0}},
        {1709993107500.0, -210, std::array{10, 35, 7, 500, -210}},
        {1709993107500.0, std::nullopt, std::array{19, 35, 7, 500, 330}},
        {-1.0, 0, std::array{23, 59, 59, 999, 0}},
        {-1.0, std::nullopt, std::array{5, 29, 59, 999, 330}},
        {8.64e15, 0, std::array{0, 0, 0, 0, 0}},
        {8.64e15, 1, std::nullopt},
        {-8.64e15 - 1, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto got = wall_clock(c.ms, c.offset);
        std::optional<std::array<int, 5>> fields;
        if (got) fields = std::array{got->hour, got->minute, got->second, got->millis, got->offset_minutes};
        EXPECT_EQ(fields, c.clock) << c.ms << " at " << c.offset.value_or(9999);
    }
}

// The reel rule the page applies to each row (resources/ui/reel_name.js).
TEST(StartDerivation, ReelsMatchSharedTable) {
    const auto& cases = derivation_cases().at("reels");
    ASSERT_GE(cases.size(), 10u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.at("label").get<std::string>());
        const auto& movie = c.at("movie");
        const ReelFacts facts{optional_text(movie.value("card", nlohmann::json())), movie.at("path"),
                              optional_text(movie.value("reel", nlohmann::json()))};
        ReelSettings settings;
        const auto& given = c.at("settings");
        settings.reel_source = given.value("reelSource", settings.reel_source);
        settings.reel = given.value("reel", settings.reel);
        settings.source = given.value("source", settings.source);
        EXPECT_EQ(reel_for(facts, settings), optional_text(c.at("reel")));
    }
}

}  // namespace
}  // namespace velmora
