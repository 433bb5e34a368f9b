#include "window_memory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace velmora {
namespace {

namespace fs = std::filesystem;

TEST(WindowMemory, ParsesOnlyASaneSize) {
    struct Case {
        const char* text;
        std::optional<Size> size;
    };
    const std::vector<Case> cases = {
        {R"({"height":800,"width":1200})", Size{1200, 800}},
        {R"({"width":1,"height":100000,"other":true})", Size{1, 100000}},
        {R"({"width":0,"height":800})", std::nullopt},
        {R"({"width":-5,"height":800})", std::nullopt},
        {R"({"width":1200,"height":100001})", std::nullopt},
        {R"({"width":1200.5,"height":800})", std::nullopt},
        {R"({"width":"1200","height":800})", std::nullopt},
        {R"({"width":1200})", std::nullopt},
        {R"([1200,800])", std::nullopt},
        {R"({"width":1200,"height":800)", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_window_memory(c.text), c.size) << c.text;
    EXPECT_EQ(window_memory_text({1200, 800}), "{\n  \"height\": 800,\n  \"width\": 1200\n}\n");
}

TEST(WindowMemory, RestoredSizeStaysBetweenMinimumAndScreen) {
    const auto geometry = window_geometry(Size{1440, 800});  // 1280x800, minimum 1000x620
    struct Case {
        std::optional<Size> remembered;
        std::optional<Size> visible;
        Size restored;
    };
    const std::vector<Case> cases = {
        {std::nullopt, Size{1440, 800}, {1280, 800}},
        {Size{1100, 700}, Size{1440, 800}, {1100, 700}},
        {Size{400, 300}, Size{1440, 800}, {1000, 620}},
        {Size{3000, 2000}, Size{1440, 800}, {1440, 800}},
        {Size{3000, 2000}, std::nullopt, {3000, 2000}},
        {Size{3000, 2000}, Size{900, 600}, {1000, 620}},  // the minimum wins over a tiny screen
    };
    for (const auto& c : cases) EXPECT_EQ(restored_size(c.remembered, geometry, c.visible), c.restored);
}

TEST(WindowMemory, FolderIsTheDataFolderUnderHome) {
    EXPECT_EQ(window_memory_folder("/home/ann"), "/home/ann/Library/Application Support/Velmora");
    EXPECT_EQ(window_memory_folder(""), std::nullopt);
    EXPECT_EQ(window_memory_folder(nullptr), std::nullopt);
}

TEST(WindowMemory, SavesByRenamingANewFileAndLeavesNoTemporary) {
    auto home = fs::temp_directory_path() / ("velmora-window-" + std::to_string(::getpid()));
    fs::remove_all(home);
    const auto folder = window_memory_folder(home.c_str()).value();
    EXPECT_EQ(load_window_memory(folder), std::nullopt);

    ASSERT_TRUE(save_window_memory(folder, {1200, 800})) << "creates the folder with its parents";
    EXPECT_TRUE(fs::is_regular_file(folder + "/window.json"));
    EXPECT_EQ(load_window_memory(folder), (Size{1200, 800}));
    ASSERT_TRUE(save_window_memory(folder, {1100, 700}));
    EXPECT_EQ(load_window_memory(folder), (Size{1100, 700}));

    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"window.json"});

    // A settings file beside it is never touched.
    std::ofstream(folder + "/settings.json") << "{}";
    ASSERT_TRUE(save_window_memory(folder, {1000, 620}));
    std::ifstream settings(folder + "/settings.json");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(settings), {}), "{}");

    // Only the first 4096 bytes are read: a padded file is not ours.
    std::ofstream(folder + "/window.json") << std::string(4096, ' ') << R"({"width":1200,"height":800})";
    EXPECT_EQ(load_window_memory(folder), std::nullopt);

    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    if (::geteuid() != 0) {  // root writes anywhere
        auto refused = save_window_memory(folder, {1200, 800});
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error(), "Permission denied (os error 13)");
    }
    fs::permissions(folder, fs::perms::owner_all);
    fs::remove_all(home);
}

}  // namespace
}  // namespace velmora
