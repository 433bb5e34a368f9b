#include "publishing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include "support/backend_harness.h"

namespace velmora {
namespace {

using testing::path_exists;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

// A movie-sized payload that spans several copy chunks and ends mid-chunk.
std::string payload(std::size_t size, char seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + static_cast<char>(i * 31 % 251));
    return bytes;
}

struct Recorded {
    std::vector<std::string> calls;
};

// The real calls, with the named ones answering a fixed error instead.
PublishCalls calls_refusing(Recorded& log, int rename_no_replace_error, int link_error) {
    const PublishCalls real = system_publish_calls();
    PublishCalls calls;
    calls.rename_no_replace = [&log, real, rename_no_replace_error](const std::string& a, const std::string& b) {
        log.calls.push_back("rename_no_replace");
        return rename_no_replace_error != 0 ? rename_no_replace_error : real.rename_no_replace(a, b);
    };
    calls.link = [&log, real, link_error](const std::string& a, const std::string& b) {
        log.calls.push_back("link");
        return link_error != 0 ? link_error : real.link(a, b);
    };
    calls.rename = [&log, real](const std::string& a, const std::string& b) {
        log.calls.push_back("rename");
        return real.rename(a, b);
    };
    return calls;
}

class Publishing : public ::testing::Test {
protected:
    TempDir dir{"velmora-publishing"};
    std::string temporary = dir.join(".velmora-1-2-3.clip.mov");
    std::string output = dir.join("clip_TC.mov");
    std::atomic<bool> cancel{false};
    int source_checks = 0;
    CopyGuards guards{cancel, [this]() -> Status {
                          ++source_checks;
                          return {};
                      }};
};

struct Route {
    const char* label;
    int rename_no_replace_error;
    int link_error;
    std::vector<std::string> expected_calls;
    bool temporary_remains;  // only the copy leaves it for the movie's clean-up
};

const std::vector<Route>& routes() {
    static const std::vector<Route> all = {
        {"exclusive rename", 0, 0, {"rename_no_replace"}, false},
        {"rename flag unsupported (EINVAL), hard link", EINVAL, 0, {"rename_no_replace", "link"}, false},
        {"no renameat2 (ENOSYS), hard link", ENOSYS, 0, {"rename_no_replace", "link"}, false},
        {"rename unsupported, no hard links (EPERM), copy", EINVAL, EPERM, {"rename_no_replace", "link"}, true},
        {"nothing supported (EOPNOTSUPP), copy", EOPNOTSUPP, EOPNOTSUPP, {"rename_no_replace", "link"}, true},
    };
    return all;
}

TEST_F(Publishing, EveryRoutePublishesTheExactBytes) {
    const struct timespec dated = {1583020800, 123456789};
    const std::string bytes = payload(3 * publish_copy_buffer_size + 12345, 'a');
    for (const Route& route : routes()) {
        SCOPED_TRACE(route.label);
        ::unlink(output.c_str());
        ::unlink(temporary.c_str());
        write_file(temporary, bytes);
        const struct timespec times[2] = {{dated.tv_sec - 60, dated.tv_nsec - 1}, dated};
        ASSERT_EQ(::utimensat(AT_FDCWD, temporary.c_str(), times, 0), 0);
        Recorded log;
        const Status published = publish_new_file(temporary, output, guards,
                                                  calls_refusing(log, route.rename_no_replace_error, route.link_error));
        ASSERT_TRUE(published.has_value()) << published.error();
        EXPECT_EQ(log.calls, route.expected_calls);
        // Every route keeps the temporary file's dates, the copy included
        // (looked at before this test's own read moves the access time).
        struct stat published_status {};
        ASSERT_EQ(::stat(output.c_str(), &published_status), 0);
        EXPECT_EQ(read_file(output), bytes);
        EXPECT_EQ(path_exists(temporary), route.temporary_remains);
        EXPECT_EQ(published_status.st_mtim.tv_sec, dated.tv_sec);
        EXPECT_EQ(published_status.st_mtim.tv_nsec, dated.tv_nsec);
        EXPECT_EQ(published_status.st_atim.tv_sec, dated.tv_sec - 60);
        EXPECT_EQ(published_status.st_atim.tv_nsec, dated.tv_nsec - 1);
    }
}

TEST_F(Publishing, AnExistingOutputIsNeverTouchedOnAnyRoute) {
    for (const Route& route : routes()) {
        SCOPED_TRACE(route.label);
        write_file(output, "first output");
        write_file(temporary, "second output");
        Recorded log;
        const Status published = publish_new_file(temporary, output, guards,
                                                  calls_refusing(log, route.rename_no_replace_error, route.link_error));
        ASSERT_FALSE(published.has_value());
        EXPECT_EQ(published.error(), "File exists (os error 17)");
        EXPECT_EQ(read_file(output), "first output");
        EXPECT_EQ(read_file(temporary), "second output");
    }
}

TEST_F(Publishing, OtherFailuresAreReportedWithoutFallingBack) {
    write_file(temporary, "movie");
    Recorded log;
    Status published = publish_new_file(temporary, output, guards, calls_refusing(log, EACCES, 0));
    ASSERT_FALSE(published.has_value());
    EXPECT_EQ(published.error(), "Permission denied (os error 13)");
    EXPECT_EQ(log.calls, std::vector<std::string>{"rename_no_replace"});

    log.calls.clear();
    published = publish_new_file(temporary, output, guards, calls_refusing(log, EINVAL, ENOSPC));
    ASSERT_FALSE(published.has_value());
    EXPECT_EQ(published.error(), "No space left on device (os error 28)");
    EXPECT_FALSE(path_exists(output));
    EXPECT_EQ(read_file(temporary), "movie");
}

TEST_F(Publishing, MissingTemporaryFileFailsWithTheSystemText) {
    const Status published = publish_new_file(temporary, output, guards);
    ASSERT_FALSE(published.has_value());
    EXPECT_EQ(published.error(), "No such file or directory (os error 2)");
    EXPECT_FALSE(path_exists(output));
}

TEST_F(Publishing, CopyCreatesTheOutputWithMode0666BeforeTheUmask) {
    write_file(temporary, "movie", 0600);
    const mode_t previous = ::umask(022);
    const Status copied = copy_into_new_file(temporary, output, guards);
    ::umask(previous);
    ASSERT_TRUE(copied.has_value()) << copied.error();
    struct stat info {};
    ASSERT_EQ(::stat(output.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    EXPECT_EQ(source_checks, 1);
}

TEST_F(Publishing, CopyFailuresDeleteThePartialOutput) {
    struct Case {
        const char* label;
        bool cancel_before;
        bool source_changes;
        bool cancel_during_source_check;
        bool temporary_missing;
        std::string message;
    };
    const std::string changed = "Source changed since import. Import it again. No output was published.";
    const std::vector<Case> cases = {
        {"cancelled before the first chunk", true, false, false, false, "Cancelled."},
        {"source changed during the copy", false, true, false, false, changed},
        {"cancelled while the source was checked", false, false, true, false, "Cancelled."},
        {"temporary file gone", false, false, false, true, "No such file or directory (os error 2)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ::unlink(temporary.c_str());
        if (!c.temporary_missing) write_file(temporary, payload(publish_copy_buffer_size + 1, 'q'));
        cancel = c.cancel_before;
        const CopyGuards these{cancel, [&]() -> Status {
                                   if (c.cancel_during_source_check) cancel = true;
                                   if (c.source_changes) return fail(changed);
                                   return {};
                               }};
        const Status copied = copy_into_new_file(temporary, output, these);
        ASSERT_FALSE(copied.has_value());
        EXPECT_EQ(copied.error(), c.message);
        EXPECT_FALSE(path_exists(output));
    }
}

TEST_F(Publishing, InPlaceKeepsThePreviousFileAsBackup) {
    const std::string source = dir.join("clip.mov");
    const std::string backup = source + ".velmora-backup-4-5-6";
    write_file(source, "original");
    write_file(temporary, "with timecode");
    const Status published = publish_in_place(temporary, source, backup);
    ASSERT_TRUE(published.has_value()) << published.error();
    EXPECT_EQ(read_file(source), "with timecode");
    EXPECT_EQ(read_file(backup), "original");
    EXPECT_FALSE(path_exists(temporary));
}

TEST_F(Publishing, InPlaceFirstRenameFailureLeavesEverythingWhereItWas) {
    const std::string source = dir.join("gone.mov");
    const std::string backup = source + ".velmora-backup-4-5-6";
    write_file(temporary, "with timecode");
    const Status published = publish_in_place(temporary, source, backup);
    ASSERT_FALSE(published.has_value());
    EXPECT_EQ(published.error(), "No such file or directory (os error 2)");
    EXPECT_EQ(read_file(temporary), "with timecode");
    EXPECT_FALSE(path_exists(backup));
}

TEST_F(Publishing, InPlaceSecondRenameFailureRestoresTheSource) {
    // The temporary file vanished before the second rename: a real failure.
    const std::string source = dir.join("clip.mov");
    const std::string backup = source + ".velmora-backup-4-5-6";
    write_file(source, "original");
    const Status published = publish_in_place(temporary, source, backup);
    ASSERT_FALSE(published.has_value());
    EXPECT_EQ(published.error(), "No such file or directory (os error 2)");
    EXPECT_EQ(read_file(source), "original");
    EXPECT_FALSE(path_exists(backup));
}

TEST_F(Publishing, InPlaceFailedRestoreSaysWhereTheOriginalIs) {
    const std::string source = dir.join("clip.mov");
    const std::string backup = source + ".velmora-backup-4-5-6";
    write_file(source, "original");
    write_file(temporary, "with timecode");
    const PublishCalls real = system_publish_calls();
    std::vector<std::string> renames;
    PublishCalls calls = real;
    calls.rename = [&](const std::string& from, const std::string& to) {
        renames.push_back(from + " -> " + to);
        if (renames.size() == 1) return real.rename(from, to);
        return renames.size() == 2 ? EXDEV : EACCES;
    };
    const Status published = publish_in_place(temporary, source, backup, calls);
    ASSERT_FALSE(published.has_value());
    EXPECT_EQ(published.error(), "Invalid cross-device link (os error 18); restore failed: Permission denied (os error "
                                 "13). Original is safe at " + backup);
    EXPECT_EQ(renames, (std::vector<std::string>{source + " -> " + backup, temporary + " -> " + source,
                                                 backup + " -> " + source}));
    EXPECT_EQ(read_file(backup), "original");
    EXPECT_FALSE(path_exists(source));
}

}  // namespace
}  // namespace velmora
