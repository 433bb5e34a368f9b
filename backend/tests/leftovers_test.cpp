#include "leftovers.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/backend_harness.h"

namespace velmora {
namespace {

using testing::TempDir;
using testing::write_file;

// The id of a process that has ended and been reaped.
pid_t ended_process_id() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

TEST(Leftovers, OnlyOurTemporaryNamesHaveAnOwner) {
    const std::vector<std::pair<std::string, std::optional<pid_t>>> cases = {
        {".velmora-4242-1765000000000000000-7.clip.mov", 4242},
        {".velmora-1-0-0.", 1},
        {".velmora-4242-1-7clip.mov", std::nullopt},  // no dot after the token
        {".velmora-4242-1.clip.mov", std::nullopt},   // two numbers only
        {".velmora-x-1-7.clip.mov", std::nullopt},
        {".velmora-0-1-7.clip.mov", std::nullopt},
        {".velmora-99999999999-1-7.clip.mov", std::nullopt},
        {"clip.mov.velmora-backup-4242-1-7", std::nullopt},
        {"velmora-4242-1-7.clip.mov", std::nullopt},
    };
    for (const auto& [name, owner] : cases) EXPECT_EQ(temporary_file_owner(name), owner) << name;
}

// Only regular files of ended processes go: never a running process's (ours,
// init's), never a backup, a folder or a link with such a name.
TEST(Leftovers, RemovesOnlyTemporariesOfEndedProcesses) {
    TempDir dir{"velmora-leftovers"};
    const std::string dead = std::to_string(ended_process_id());
    const std::string ours = std::to_string(::getpid());
    const std::vector<std::string> removed = {".velmora-" + dead + "-1-0.a.mov", ".velmora-" + dead + "-1-1."};
    const std::vector<std::string> kept = {".velmora-" + ours + "-1-0.a.mov", ".velmora-1-1-0.a.mov",
                                           "a.mov.velmora-backup-" + dead + "-1-2", "a.mov", ".velmora-settings"};
    for (const auto& name : removed) write_file(dir.join(name), "x");
    for (const auto& name : kept) write_file(dir.join(name), "x");
    std::filesystem::create_directory(dir.join(".velmora-" + dead + "-1-3.folder"));
    std::filesystem::create_symlink(dir.join("a.mov"), dir.join(".velmora-" + dead + "-1-4.link"));

    EXPECT_EQ(remove_leftover_temporaries(dir.path()), removed.size());
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::vector<std::string> expected = kept;
    expected.push_back(".velmora-" + dead + "-1-3.folder");
    expected.push_back(".velmora-" + dead + "-1-4.link");
    std::sort(names.begin(), names.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
    EXPECT_EQ(remove_leftover_temporaries(dir.join("missing")), 0u);
}

}  // namespace
}  // namespace velmora
