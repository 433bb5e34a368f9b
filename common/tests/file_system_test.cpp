#include "file_system.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace velmora {
namespace {

namespace fs = std::filesystem;

class Scratch {
public:
    Scratch() {
        char pattern[] = "/tmp/velmora-files-XXXXXX";
        if (::mkdtemp(pattern) != nullptr) path_ = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        fs::permissions(path_, fs::perms::owner_all, ignored);
        fs::remove_all(path_, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    std::string join(const std::string& relative) const { return path_ + "/" + relative; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void write_text(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string read_text(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WriteFileAtomically, ReplacesAnExistingFileWholeAndCreatesItsFolders) {
    Scratch dir;
    const std::string target = dir.join("settings.json");
    write_text(target, std::string(100000, 'x'));
    ASSERT_TRUE(write_file_atomically(target, "{\"k\": 1}", 0600));
    EXPECT_EQ(read_text(target), "{\"k\": 1}");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"settings.json"});

    ASSERT_TRUE(write_file_atomically(dir.join("a/b/window.json"), "new", 0600));
    EXPECT_EQ(read_text(dir.join("a/b/window.json")), "new");
    EXPECT_EQ(names_in(dir.join("a/b")), std::vector<std::string>{"window.json"});
}

TEST(WriteFileAtomically, FailuresLeaveTheTargetAndNoTemporary) {
    struct Case {
        const char* name;
        std::string relative_target;
        std::string message;
    } const cases[] = {
        // "blocker" is a regular file, so nothing can be created below it.
        {"parent_is_a_file", "blocker/settings.json", "File exists (os error 17)"},
        {"ancestor_is_a_file", "blocker/x/y/settings.json", "Not a directory (os error 20)"},
        // The rename cannot replace a folder with a file.
        {"target_is_a_folder", "folder", "Is a directory (os error 21)"},
        {"no_file_name", "folder/", "Invalid argument (os error 22)"},
    };
    for (const auto& c : cases) {
        Scratch dir;
        write_text(dir.join("blocker"), "keep");
        ASSERT_EQ(::mkdir(dir.join("folder").c_str(), 0700), 0);
        write_text(dir.join("folder/inside"), "keep");
        const auto written = write_file_atomically(dir.join(c.relative_target), "{}", 0600);
        ASSERT_FALSE(written.has_value()) << c.name;
        EXPECT_EQ(written.error(), c.message) << c.name;
        EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"blocker", "folder"})) << c.name;
        EXPECT_EQ(names_in(dir.join("folder")), std::vector<std::string>{"inside"}) << c.name;
        EXPECT_EQ(read_text(dir.join("blocker")), "keep") << c.name;
    }
}

TEST(WriteFileAtomically, ReadOnlyFolderFailsWithPermissionDenied) {
    if (::geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
    Scratch dir;
    const std::string target = dir.join("settings.json");
    write_text(target, "old");
    ASSERT_EQ(::chmod(dir.path().c_str(), 0500), 0);
    const auto written = write_file_atomically(target, "{}", 0600);
    ::chmod(dir.path().c_str(), 0700);
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error(), "Permission denied (os error 13)");
    EXPECT_EQ(read_text(target), "old");
}

}  // namespace
}  // namespace velmora
