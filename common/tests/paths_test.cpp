#include "paths.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora {
namespace {

// parent_folder names where a found entry sits (trailing "/" passed over);
// folder_of names where a file being created goes, so a trailing "/" keeps
// the whole text and the engine's creation fails like the system says.
TEST(Paths, ParentFolderAndFolderOf) {
    struct Case {
        const char* path;
        const char* parent;
        const char* folder;
    };
    const Case cases[] = {
        {"name.mov", "", "."}, {"/name.mov", "/", "/"}, {"a/b/c.mov", "a/b", "a/b"},
        {"a/b/", "a", "a/b"},  {"/a//", "/", "/a/"},    {"/", "/", "/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parent_folder(c.path), c.parent) << c.path;
        EXPECT_EQ(folder_of(c.path), c.folder) << c.path;
    }
}

TEST(Paths, JoinLastComponentAndExtension) {
    EXPECT_EQ(join_path("", "b"), "b");
    EXPECT_EQ(join_path("/a", "b"), "/a/b");
    EXPECT_EQ(join_path("/a/", "b"), "/a/b");
    EXPECT_EQ(last_component("/a/b.mov"), "b.mov");
    EXPECT_EQ(last_component("/a/"), "");
    EXPECT_EQ(with_extension("/a.b/c.json", "x.tmp"), "/a.b/c.x.tmp");
    EXPECT_EQ(with_extension("/a.b/.hidden", "tmp"), "/a.b/.hidden.tmp");
    EXPECT_EQ(data_folder("/home/ann"), "/home/ann/Library/Application Support/Velmora");
    EXPECT_EQ(data_folder("/home/ann/"), "/home/ann/Library/Application Support/Velmora");
}

TEST(Paths, CanonicalPathResolvesOrGivesTheSystemText) {
    EXPECT_EQ(canonical_path("/tmp/./../tmp").value(), "/tmp");
    const auto missing = canonical_path("/nonexistent-velmora-folder/x");
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error(), "No such file or directory (os error 2)");
}

}  // namespace
}  // namespace velmora
