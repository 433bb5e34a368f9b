// "load_settings" and "save_settings" through the real program.

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/backend_harness.h"

namespace velmora::testing {
namespace {

using nlohmann::json;

const json kDefaults = json::parse(R"({
  "append": false, "continuous": false, "copy": true, "destination": null, "direction": "add", "mode": "auto", "number": false,
  "movieColumnWidth": null, "offset": "00:00:00:00", "existing": "skip", "prefix": "TC_", "recursive": true, "reel": "", "reelSource": "none", "rename": false,
  "retain": true, "source": "embedded", "start": "01:00:00:00", "suffix": "_TC", "timezone": "camera"})");

json with_changes(const json& changes) {
    json settings = kDefaults;
    settings.update(changes);
    return settings;
}

std::string settings_path(const Backend& backend) { return backend.data_dir() + "/settings.json"; }

TEST(LoadSettings, DefaultsWithoutTouchingTheDisk) {
    Backend backend;
    ASSERT_TRUE(backend.send_line(R"({"id":1,"command":"load_settings"})"));
    EXPECT_EQ(backend.read_line(), "{\"id\":1,\"result\":" + kDefaults.dump() + "}");
    EXPECT_TRUE(list_folder(backend.home()).empty());
}

TEST(SaveSettings, StoresTheNormalisedObjectAndLoadReturnsIt) {
    Backend backend;
    const json saved = {{"source", "Creation"},
                        {"mode", "drop"},
                        {"copy", "false"},
                        {"start", "abc"},
                        {"prefix", std::string(101, 'p')},
                        {"destination", "relative"},
                        {"timezone", "+05:30"},
                        {"reelSource", "card"},
                        {"reel", std::string(33, 'r')},
                        {"continuous", "yes"},
                        {"movieColumnWidth", 18.25},
                        {"extra", 1}};
    const auto reply = backend.call("save_settings", {{"value", saved}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, (json{{"id", 1}, {"result", nullptr}}));

    const json expected = with_changes({{"mode", "drop"},
                                        {"start", "abc"},
                                        {"timezone", "+05:30"},
                                        {"reelSource", "card"},
                                        {"movieColumnWidth", 18.25}});
    const auto loaded = backend.call("load_settings");
    ASSERT_TRUE(loaded);
    EXPECT_EQ((*loaded)["result"], expected);
    EXPECT_EQ(read_file(settings_path(backend)), expected.dump(2));
    EXPECT_EQ(list_folder(backend.data_dir()), std::vector<std::string>{"settings.json"});
}

TEST(SaveSettings, WithoutValueStoresTheDefaults) {
    Backend backend;
    ASSERT_TRUE(backend.call("save_settings", {{"value", {{"copy", false}}}}));
    const auto reply = backend.call("save_settings", json::object());
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)["result"], nullptr);
    EXPECT_EQ(read_file(settings_path(backend)), kDefaults.dump(2));
    EXPECT_EQ((*backend.call("load_settings"))["result"], kDefaults);
}

TEST(SaveSettings, SurvivesARestartAndPreviousIsNeverWritten) {
    TempDir home;
    {
        BackendOptions options;
        options.home = home.path();
        Backend backend(options);
        ASSERT_TRUE(backend.call("save_settings", {{"value", {{"timezone", "utc"}, {"rename", true}}}}));
    }
    BackendOptions options;
    options.home = home.path();
    Backend backend(options);
    const auto loaded = backend.call("load_settings");
    ASSERT_TRUE(loaded);
    EXPECT_EQ((*loaded)["result"], with_changes({{"timezone", "utc"}, {"rename", true}}));
    EXPECT_EQ(list_folder(backend.data_dir()), std::vector<std::string>{"settings.json"});
}

TEST(StoredSettings, PreviousIsReadOnlyWhenSettingsJsonIsGone) {
    TempDir home;
    const std::string data = home.join("Library/Application Support/Velmora");
    write_file(data + "/settings.json", "{ not json");
    write_file(data + "/settings.previous", R"({"copy":false,"mode":"drop"})");
    BackendOptions options;
    options.home = home.path();
    {
        Backend backend(options);
        EXPECT_EQ((*backend.call("load_settings"))["result"], kDefaults);
    }
    ASSERT_EQ(::unlink((data + "/settings.json").c_str()), 0);
    Backend backend(options);
    EXPECT_EQ((*backend.call("load_settings"))["result"], with_changes({{"copy", false}, {"mode", "drop"}}));
    EXPECT_EQ(read_file(data + "/settings.previous"), R"({"copy":false,"mode":"drop"})");
}

TEST(SaveSettings, FileInPlaceOfTheDataFolderIsAnErrorReplyAndKeepsTheSettings) {
    Backend backend;
    ASSERT_TRUE(backend.call("save_settings", {{"value", {{"mode", "drop"}}}}));
    const std::string library = backend.home() + "/Library";
    ASSERT_EQ(::rename(library.c_str(), (library + ".moved").c_str()), 0);
    write_file(library, "in the way");

    const auto reply = backend.call("save_settings", {{"value", {{"copy", false}}}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, (json{{"error", "Not a directory (os error 20)"}, {"id", 2}}));
    const auto loaded = backend.call("load_settings");
    ASSERT_TRUE(loaded);
    EXPECT_EQ((*loaded)["result"], with_changes({{"mode", "drop"}}));
    EXPECT_EQ(read_file(library), "in the way");
}

TEST(SaveSettings, ReadOnlyFolderIsAnErrorReplyAndKeepsTheSettings) {
    constexpr unsigned kNobody = 65534;
    struct Case {
        const char* name;
        bool data_folder_exists;  // else only its parent does
        json settings;            // what the service loads at start
    } const cases[] = {
        {"parent_read_only", false, kDefaults},
        {"data_folder_read_only", true, with_changes({{"mode", "drop"}})},
    };
    for (const auto& c : cases) {
        TempDir home;
        const std::string parent = home.join("Library/Application Support");
        const std::string data = parent + "/Velmora";
        const std::string locked = c.data_folder_exists ? data : parent;
        if (c.data_folder_exists) {
            write_file(data + "/settings.json", R"({"mode":"drop"})");
        } else {
            ASSERT_TRUE(std::filesystem::create_directories(parent));
        }
        BackendOptions options;
        options.home = home.path();
        if (::geteuid() == 0) {
            // Root writes anywhere: run the service as an ordinary user.
            ASSERT_TRUE(give_tree_to(home.path(), kNobody));
            options.run_as_uid = kNobody;
        }
        ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
        Backend backend(options);
        const auto reply = backend.call("save_settings", {{"value", {{"copy", false}}}});
        ASSERT_TRUE(reply) << c.name << ": " << backend.stderr_text();
        EXPECT_EQ(*reply, (json{{"error", "Permission denied (os error 13)"}, {"id", 1}})) << c.name;
        const auto loaded = backend.call("load_settings");
        ASSERT_TRUE(loaded) << c.name;
        EXPECT_EQ((*loaded)["result"], c.settings) << c.name;
        EXPECT_EQ(list_folder(locked),
                  c.data_folder_exists ? std::vector<std::string>{"settings.json"} : std::vector<std::string>{})
            << c.name;
    }
}

TEST(SaveSettings, ConcurrentSavesAreAppliedWholeOneAfterAnother) {
    Backend backend;
    constexpr int kSaves = 40;
    for (int i = 0; i < kSaves; ++i) {
        const json value = {{"prefix", "p" + std::to_string(i)}, {"start", std::to_string(i)}};
        ASSERT_TRUE(backend.send({{"id", i}, {"command", "save_settings"}, {"args", {{"value", value}}}}));
    }
    std::vector<bool> answered(kSaves, false);
    for (int i = 0; i < kSaves; ++i) {
        const auto reply = backend.read_message();
        ASSERT_TRUE(reply);
        ASSERT_EQ((*reply)["result"], nullptr) << reply->dump();
        answered.at((*reply)["id"].get<std::size_t>()) = true;
    }
    EXPECT_EQ(std::count(answered.begin(), answered.end(), true), kSaves);
    const auto loaded = backend.call("load_settings");
    ASSERT_TRUE(loaded);
    const json settings = (*loaded)["result"];
    // Prefix and start come from the same save: no save was mixed with another.
    EXPECT_EQ(settings["prefix"].get<std::string>(), "p" + settings["start"].get<std::string>());
    EXPECT_EQ(read_file(settings_path(backend)), settings.dump(2));
    EXPECT_EQ(list_folder(backend.data_dir()), std::vector<std::string>{"settings.json"});
}

}  // namespace
}  // namespace velmora::testing
