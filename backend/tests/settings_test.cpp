#include "settings.h"

#include <algorithm>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "json_text.h"
#include "output_naming.h"
#include "support/backend_harness.h"

namespace velmora {
namespace {

using nlohmann::json;
using testing::TempDir;

// Keys, defaults, choices, limits and normalisation cases shared with the
// page's own tests.
const json& settings_table() {
    static const json table = json::parse(std::ifstream(VELMORA_TEST_DATA "/settings_cases.json"));
    return table;
}

const json& defaults() { return settings_table().at("defaults"); }

std::string repeat(const std::string& unit, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += unit;
    return text;
}

// Normalising `input` leaves the defaults but for `changes`.
void expect_normalised(const json& input, const json& changes, const std::string& label) {
    json expected = defaults();
    expected.update(changes);
    EXPECT_EQ(normalize_settings(input), expected) << label;
}

TEST(NormalizeSettings, DefaultsAreTheTables) {
    EXPECT_EQ(default_settings(), defaults());
    EXPECT_EQ(defaults().size(), 20u);
}

TEST(NormalizeSettings, SharedCaseTable) {
    ASSERT_GE(settings_table().at("cases").size(), 40u);
    for (const json& c : settings_table().at("cases")) expect_normalised(c.at("input"), c.at("changes"), c.at("label"));
}

TEST(NormalizeSettings, EveryChoiceIsKeptAsSpelt) {
    for (const auto& [key, accepted] : settings_table().at("choices").items()) {
        for (const json& value : accepted) expect_normalised(json{{key, value}}, json{{key, value}}, key);
    }
}

// Any key given a value of another type keeps its default.
TEST(NormalizeSettings, WrongTypesKeepTheDefault) {
    const json& switches = settings_table().at("switches");
    for (const auto& [key, fallback] : defaults().items()) {
        const bool is_switch = std::find(switches.begin(), switches.end(), key) != switches.end();
        EXPECT_EQ(is_switch, fallback.is_boolean()) << key;
        for (const json& value : settings_table().at("wrongTypes")) {
            if (is_switch ? value.is_boolean() : value.is_string()) continue;
            expect_normalised(json{{key, value}}, json::object(), key + " " + value.dump());
        }
    }
}

// Each text at its longest is kept and one unit longer goes; a wide
// character shows whether the unit is a character or a byte.
TEST(NormalizeSettings, EveryLimitAndItsUnit) {
    for (const json& limit : settings_table().at("limits")) {
        const std::string key = limit.at("key");
        const std::string lead = limit.value("lead", "");
        const std::size_t room = limit.at("most").get<std::size_t>() - lead.size();
        const bool bytes = limit.at("unit") == "bytes";
        const std::string wide = bytes ? "\xc3\xa9" : "\xf0\x9f\x8e\xac";
        const std::size_t wide_room = bytes ? room / 2 : room;
        for (const std::string& kept : {lead + repeat("x", room), lead + repeat(wide, wide_room)})
            expect_normalised(json{{key, kept}}, json{{key, kept}}, key + " kept");
        for (const std::string& dropped : {lead + repeat("x", room + 1), lead + repeat(wide, wide_room + 1)})
            expect_normalised(json{{key, dropped}}, json::object(), key + " dropped");
    }
    // The prefix's message states the limit it enforces.
    for (const json& limit : settings_table().at("limits")) {
        if (limit.at("key") != "prefix") continue;
        const std::string stated = "(up to " + limit.at("most").dump() + " characters).";
        EXPECT_TRUE(std::string(prefix_message).ends_with(stated)) << prefix_message;
    }
}

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
        json expected = defaults();
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
    EXPECT_EQ(read_stored_settings(dir.path()), defaults());
}

TEST(ReadStoredSettings, DanglingLinkCountsAsAbsent) {
    TempDir dir;
    ASSERT_EQ(::symlink("missing.json", dir.join("settings.json").c_str()), 0);
    testing::write_file(dir.join("settings.previous"), R"({"copy":false})");
    EXPECT_EQ(read_stored_settings(dir.path())["copy"], false);
}

TEST(ReadStoredSettings, MissingDataFolderIsNotCreated) {
    TempDir dir;
    EXPECT_EQ(read_stored_settings(dir.join("Library/Application Support/Velmora")), defaults());
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
