#include "settings.h"

#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "json_text.h"
#include "support/backend_harness.h"

namespace velmora {
namespace {

using nlohmann::json;
using testing::TempDir;

const json kDefaults = json::parse(R"({
  "append": false, "continuous": false, "copy": true, "destination": null, "direction": "add", "mode": "auto", "number": false,
  "movieColumnWidth": null, "offset": "00:00:00:00", "existing": "skip", "prefix": "TC_", "recursive": true, "reel": "", "reelSource": "none", "rename": false,
  "retain": true, "source": "embedded", "start": "01:00:00:00", "suffix": "_TC", "timezone": "camera"})");

// `changes` are the members that must differ from the defaults after
// normalising `input`; every other key must hold its default.
struct NormaliseCase {
    const char* name;
    json input;
    json changes;
};

void PrintTo(const NormaliseCase& c, std::ostream* out) { *out << c.name; }

class Normalise : public ::testing::TestWithParam<NormaliseCase> {};

TEST_P(Normalise, KeepsOnlyAcceptedValues) {
    json expected = kDefaults;
    expected.update(GetParam().changes);
    EXPECT_EQ(normalize_settings(GetParam().input), expected);
}

std::string repeat(const std::string& unit, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += unit;
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Values, Normalise,
    ::testing::Values(
        NormaliseCase{"null", nullptr, json::object()},
        NormaliseCase{"array", json::array({json{{"copy", false}}}), json::object()},
        NormaliseCase{"string", "copy", json::object()}, NormaliseCase{"empty", json::object(), json::object()},
        NormaliseCase{"every_choice",
                      json{{"source", "custom"},
                           {"mode", "non-drop"},
                           {"direction", "subtract"},
                           {"timezone", "utc"},
                           {"reelSource", "custom"}},
                      json{{"source", "custom"},
                           {"mode", "non-drop"},
                           {"direction", "subtract"},
                           {"timezone", "utc"},
                           {"reelSource", "custom"}}},
        NormaliseCase{"choices_match_case",
                      json{{"source", "Creation"}, {"mode", "DROP"}, {"timezone", "UTC"}, {"reelSource", "Card"}},
                      json::object()},
        NormaliseCase{"timezone_local", json{{"timezone", "local"}}, json{{"timezone", "local"}}},
        NormaliseCase{"reel_source_card", json{{"reelSource", "card"}}, json{{"reelSource", "card"}}},
        NormaliseCase{"reel_source_folder", json{{"reelSource", "folder"}}, json{{"reelSource", "folder"}}},
        NormaliseCase{"reel_source_number", json{{"reelSource", 1}}, json::object()},
        NormaliseCase{"offset_east_limit", json{{"timezone", "+14:00"}}, json{{"timezone", "+14:00"}}},
        NormaliseCase{"offset_west_limit", json{{"timezone", "-12:00"}}, json{{"timezone", "-12:00"}}},
        NormaliseCase{"offset_half_hour", json{{"timezone", "+05:30"}}, json{{"timezone", "+05:30"}}},
        NormaliseCase{"offset_59_minutes", json{{"timezone", "-09:59"}}, json{{"timezone", "-09:59"}}},
        NormaliseCase{"offset_minus_zero", json{{"timezone", "-00:00"}}, json{{"timezone", "-00:00"}}},
        NormaliseCase{"offset_past_east_limit", json{{"timezone", "+14:01"}}, json::object()},
        NormaliseCase{"offset_past_west_limit", json{{"timezone", "-12:01"}}, json::object()},
        NormaliseCase{"offset_15_hours", json{{"timezone", "+15:00"}}, json::object()},
        NormaliseCase{"offset_one_hour_digit", json{{"timezone", "+3:00"}}, json::object()},
        NormaliseCase{"offset_60_minutes", json{{"timezone", "+03:60"}}, json::object()},
        NormaliseCase{"offset_without_sign", json{{"timezone", "03:00"}}, json::object()},
        NormaliseCase{"offset_without_colon", json{{"timezone", "+0300"}}, json::object()},
        NormaliseCase{"offset_trailing_space", json{{"timezone", "+03:00 "}}, json::object()},
        NormaliseCase{"offset_not_digits", json{{"timezone", "+0a:00"}}, json::object()},
        NormaliseCase{"choice_not_a_string", json{{"source", 1}, {"direction", json::array({"add"})}}, json::object()},
        NormaliseCase{"drop_with_string_copy", json{{"mode", "drop"}, {"copy", "false"}}, json{{"mode", "drop"}}},
        NormaliseCase{"every_switch",
                      json{{"copy", false},
                           {"append", true},
                           {"retain", false},
                           {"rename", true},
                           {"number", true},
                           {"recursive", false},
                           {"continuous", true}},
                      json{{"copy", false},
                           {"append", true},
                           {"retain", false},
                           {"rename", true},
                           {"number", true},
                           {"recursive", false},
                           {"continuous", true}}},
        NormaliseCase{"switches_need_booleans",
                      json{{"copy", 0},
                           {"rename", 1},
                           {"number", "true"},
                           {"retain", nullptr},
                           {"continuous", 1},
                           {"append", "true"}},
                      json::object()},
        // Stored as given: a new file reads it as off.
        NormaliseCase{"append_beside_copy", json{{"copy", true}, {"append", true}}, json{{"append", true}}},
        NormaliseCase{"reel_text", json{{"reel", "A001"}}, json{{"reel", "A001"}}},
        NormaliseCase{"reel_32_bytes", json{{"reel", repeat("r", 32)}}, json{{"reel", repeat("r", 32)}}},
        NormaliseCase{"reel_33_bytes", json{{"reel", repeat("r", 33)}}, json::object()},
        NormaliseCase{"reel_limit_in_bytes", json{{"reel", repeat("\xc3\xa9", 17)}}, json::object()},
        NormaliseCase{"reel_16_two_byte_characters", json{{"reel", repeat("\xc3\xa9", 16)}},
                      json{{"reel", repeat("\xc3\xa9", 16)}}},
        NormaliseCase{"reel_tab", json{{"reel", "A\t1"}}, json::object()},
        NormaliseCase{"reel_c1_control", json{{"reel", "A\xc2\x85"}}, json::object()},
        NormaliseCase{"reel_number", json{{"reel", 1}}, json::object()},
        NormaliseCase{"start_14_characters", json{{"start", "01:00:00:00:00"}}, json::object()},
        NormaliseCase{"start_no_timecode", json{{"start", "abc"}}, json{{"start", "abc"}}},
        NormaliseCase{"start_empty", json{{"start", ""}}, json{{"start", ""}}},
        NormaliseCase{"offset_11_multibyte", json{{"offset", repeat("\xc3\xa9", 11)}},
                      json{{"offset", repeat("\xc3\xa9", 11)}}},
        NormaliseCase{"offset_12_characters", json{{"offset", "00:00:00:001"}}, json::object()},
        NormaliseCase{"start_number", json{{"start", 1}}, json::object()},
        NormaliseCase{"prefix_100", json{{"prefix", repeat("p", 100)}}, json{{"prefix", repeat("p", 100)}}},
        NormaliseCase{"prefix_101", json{{"prefix", repeat("p", 101)}}, json::object()},
        NormaliseCase{"prefix_100_emoji", json{{"prefix", repeat("\xf0\x9f\x8e\xac", 100)}},
                      json{{"prefix", repeat("\xf0\x9f\x8e\xac", 100)}}},
        NormaliseCase{"prefix_special_characters_kept", json{{"prefix", " a:b*\t"}}, json{{"prefix", " a:b*\t"}}},
        NormaliseCase{"prefix_empty", json{{"prefix", ""}}, json{{"prefix", ""}}},
        NormaliseCase{"existing_number", json{{"existing", "number"}}, json{{"existing", "number"}}},
        NormaliseCase{"existing_unknown", json{{"existing", "replace"}}, json::object()},
        NormaliseCase{"existing_case_differs", json{{"existing", "Skip"}}, json::object()},
        NormaliseCase{"suffix_empty", json{{"suffix", ""}}, json{{"suffix", ""}}},
        NormaliseCase{"suffix_16_bytes", json{{"suffix", repeat("\xc3\xa9", 8)}},
                      json{{"suffix", repeat("\xc3\xa9", 8)}}},
        NormaliseCase{"suffix_17_bytes", json{{"suffix", repeat("s", 17)}}, json::object()},
        NormaliseCase{"suffix_slash", json{{"suffix", "a/b"}}, json::object()},
        NormaliseCase{"suffix_nul", json{{"suffix", std::string("a\0b", 3)}}, json::object()},
        NormaliseCase{"suffix_special_characters_kept", json{{"suffix", " (a:b)"}}, json{{"suffix", " (a:b)"}}},
        NormaliseCase{"suffix_number", json{{"suffix", 7}}, json::object()},
        NormaliseCase{"destination_absolute", json{{"destination", "/Volumes/Out"}},
                      json{{"destination", "/Volumes/Out"}}},
        NormaliseCase{"destination_relative", json{{"destination", "Out"}}, json::object()},
        NormaliseCase{"destination_empty", json{{"destination", ""}}, json::object()},
        NormaliseCase{"destination_4096_bytes", json{{"destination", "/" + repeat("d", 4095)}},
                      json{{"destination", "/" + repeat("d", 4095)}}},
        NormaliseCase{"destination_4097_bytes", json{{"destination", "/" + repeat("d", 4096)}}, json::object()},
        NormaliseCase{"destination_limit_in_bytes", json{{"destination", "/" + repeat("\xc3\xa9", 2048)}},
                      json::object()},
        NormaliseCase{"destination_not_a_string", json{{"destination", true}}, json::object()},
        NormaliseCase{"column_width_fraction", json{{"movieColumnWidth", 18.25}}, json{{"movieColumnWidth", 18.25}}},
        NormaliseCase{"column_width_limits", json{{"movieColumnWidth", 7}}, json{{"movieColumnWidth", 7}}},
        NormaliseCase{"column_width_widest", json{{"movieColumnWidth", 60}}, json{{"movieColumnWidth", 60}}},
        NormaliseCase{"column_width_too_narrow", json{{"movieColumnWidth", 6.75}}, json::object()},
        NormaliseCase{"column_width_too_wide", json{{"movieColumnWidth", 60.25}}, json::object()},
        NormaliseCase{"column_width_as_text", json{{"movieColumnWidth", "18"}}, json::object()},
        NormaliseCase{"column_width_boolean", json{{"movieColumnWidth", true}}, json::object()},
        NormaliseCase{"unknown_keys_dropped", json{{"extra", 1}, {"Copy", false}, {"rename", true}},
                      json{{"rename", true}}}),
    [](const auto& case_info) { return case_info.param.name; });

TEST(NormalizeSettings, IsIdempotent) {
    const json once =
        normalize_settings(json{{"mode", "drop"}, {"prefix", "x"}, {"destination", "/d"}, {"copy", false}});
    EXPECT_EQ(normalize_settings(once), once);
    EXPECT_EQ(once.size(), 20u);
}

struct FileSetup {
    std::optional<std::string> settings;  // content of settings.json, if any
    std::optional<std::string> previous;  // content of settings.previous, if any
};

TEST(ReadStoredSettings, FallsBackOnlyWhenSettingsJsonIsAbsent) {
    struct Case {
        const char* name;
        FileSetup files;
        json changes;
    } const cases[] = {
        {"nothing", {}, json::object()},
        {"settings_only", {R"({"mode":"drop","bogus":1})", std::nullopt}, json{{"mode", "drop"}}},
        {"previous_only", {std::nullopt, R"({"copy":false})"}, json{{"copy", false}}},
        {"settings_wins", {R"({"copy":true,"mode":"drop"})", R"({"copy":false})"}, json{{"mode", "drop"}}},
        {"invalid_settings_ignores_previous", {"{not json", R"({"copy":false})"}, json::object()},
        {"settings_not_utf8_ignores_previous", {"{\"prefix\":\"\xff\"}", R"({"copy":false})"}, json::object()},
        {"byte_order_mark_ignores_previous", {"\xef\xbb\xbf{\"mode\":\"drop\"}", R"({"copy":false})"}, json::object()},
        {"invalid_previous", {std::nullopt, "[1,"}, json::object()},
        {"wrong_shape", {R"({"copy":"yes","start":"0"})", std::nullopt}, json{{"start", "0"}}},
        // Settings stored before "camera" existed keep their zone.
        {"stored_local_stays_local",
         {R"({"timezone":"local","mode":"drop"})", std::nullopt},
         json{{"timezone", "local"}, {"mode", "drop"}}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        if (c.files.settings) testing::write_file(dir.join("settings.json"), *c.files.settings);
        if (c.files.previous) testing::write_file(dir.join("settings.previous"), *c.files.previous);
        json expected = kDefaults;
        expected.update(c.changes);
        EXPECT_EQ(read_stored_settings(dir.path()), expected) << c.name;
        EXPECT_EQ(testing::list_folder(dir.path()).size(), (c.files.settings ? 1u : 0u) + (c.files.previous ? 1u : 0u))
            << c.name;
    }
}

TEST(ReadStoredSettings, UnreadableEntryStillBlocksTheFallback) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.join("settings.json").c_str(), 0700), 0);  // exists, cannot be read as a file
    testing::write_file(dir.join("settings.previous"), R"({"copy":false})");
    EXPECT_EQ(read_stored_settings(dir.path()), kDefaults);
}

TEST(ReadStoredSettings, DanglingLinkCountsAsAbsent) {
    TempDir dir;
    ASSERT_EQ(::symlink("missing.json", dir.join("settings.json").c_str()), 0);
    testing::write_file(dir.join("settings.previous"), R"({"copy":false})");
    EXPECT_EQ(read_stored_settings(dir.path())["copy"], false);
}

TEST(ReadStoredSettings, MissingDataFolderIsNotCreated) {
    TempDir dir;
    EXPECT_EQ(read_stored_settings(dir.join("Library/Application Support/Velmora")), kDefaults);
    EXPECT_TRUE(testing::list_folder(dir.path()).empty());
}

TEST(WriteJsonFileAtomically, WritesPrettyTextWithPrivateModeAndLeavesNoTemporary) {
    TempDir dir;
    const std::string target = dir.join("a/b/settings.json");
    const json value = normalize_settings(json{{"mode", "drop"}});
    ASSERT_TRUE(write_json_file_atomically(target, value).has_value());
    EXPECT_EQ(testing::read_file(target), to_pretty_json(value));
    EXPECT_EQ(testing::read_file(target)->back(), '}');
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(testing::list_folder(dir.join("a/b")), std::vector<std::string>{"settings.json"});
}

TEST(WriteJsonFileAtomically, RefusesAPathWithoutAFileName) {
    const auto written = write_json_file_atomically("/", json::object());
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error(), "Invalid settings path");
}

}  // namespace
}  // namespace velmora
