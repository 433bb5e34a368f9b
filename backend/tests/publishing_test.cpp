#include "publishing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "leftovers.h"
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
PublishCalls calls_refusing(Recorded& log, int rename_no_replace_error, int link_error, int exchange_error = 0) {
    const PublishCalls real = system_publish_calls();
    const auto recorded = [&log](const char* name, PublishCalls::Call call, int error) {
        return [&log, name, call = std::move(call), error](int folder, const std::string& a, const std::string& b) {
            log.calls.emplace_back(name);
            return error != 0 ? error : call(folder, a, b);
        };
    };
    PublishCalls calls;
    calls.rename_no_replace = recorded("rename_no_replace", real.rename_no_replace, rename_no_replace_error);
    calls.link = recorded("link", real.link, link_error);
    calls.rename = recorded("rename", real.rename, 0);
    calls.exchange = recorded("exchange", real.exchange, exchange_error);
    return calls;
}

std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Publishing : public ::testing::Test {
protected:
    TempDir dir{"velmora-publishing"};
    HeldFolder held = HeldFolder::open(dir.path()).value();
    std::string temporary_name = ".velmora-1-2-3.clip.mov";
    std::string temporary = dir.join(temporary_name);
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
        const Status published = publish_new_file(held, temporary_name, "clip_TC.mov", guards,
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
        const Status published = publish_new_file(held, temporary_name, "clip_TC.mov", guards,
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
    Status published = publish_new_file(held, temporary_name, "clip_TC.mov", guards, calls_refusing(log, EACCES, 0));
    ASSERT_FALSE(published.has_value());
    EXPECT_EQ(published.error(), "Permission denied (os error 13)");
    EXPECT_EQ(log.calls, std::vector<std::string>{"rename_no_replace"});

    log.calls.clear();
    published = publish_new_file(held, temporary_name, "clip_TC.mov", guards, calls_refusing(log, EINVAL, ENOSPC));
    ASSERT_FALSE(published.has_value());
    EXPECT_EQ(published.error(), "No space left on device (os error 28)");
    EXPECT_FALSE(path_exists(output));
    EXPECT_EQ(read_file(temporary), "movie");
}

TEST_F(Publishing, MissingTemporaryFileFailsWithTheSystemText) {
    const Status published = publish_new_file(held, temporary_name, "clip_TC.mov", guards);
    ASSERT_FALSE(published.has_value());
    EXPECT_EQ(published.error(), "No such file or directory (os error 2)");
    EXPECT_FALSE(path_exists(output));
}

TEST_F(Publishing, CopyCreatesTheOutputWithMode0666BeforeTheUmask) {
    write_file(temporary, "movie", 0600);
    const mode_t previous = ::umask(022);
    const Status copied = copy_into_new_file(held, temporary_name, "clip_TC.mov", guards);
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
        const Status copied = copy_into_new_file(held, temporary_name, "clip_TC.mov", these);
        ASSERT_FALSE(copied.has_value());
        EXPECT_EQ(copied.error(), c.message);
        EXPECT_FALSE(path_exists(output));
    }
}

struct InPlaceRoute {
    const char* label;
    int link_error;
    int rename_no_replace_error;
    int exchange_error;
    std::vector<std::string> expected_calls;
};

// Hard link where the file system has them, then the exchange, then the two
// renames (exFAT renames without replacing but cannot exchange).
const std::vector<InPlaceRoute>& in_place_routes() {
    static const std::vector<InPlaceRoute> all = {
        {"hard link, rename over the source", 0, 0, 0, {"link", "rename"}},
        {"no hard links (EPERM), exchange", EPERM, 0, 0, {"link", "rename_no_replace", "exchange"}},
        {"no hard links, no exchange (EINVAL): back, two renames",
         EPERM,
         0,
         EINVAL,
         {"link", "rename_no_replace", "exchange", "rename", "rename", "rename"}},
        {"neither (EOPNOTSUPP): two renames",
         EOPNOTSUPP,
         EOPNOTSUPP,
         0,
         {"link", "rename_no_replace", "rename", "rename"}},
    };
    return all;
}

TEST_F(Publishing, InPlaceKeepsThePreviousFileAsBackupOnEveryRoute) {
    const std::string source = dir.join("clip.mov");
    const std::string backup_name = "clip.mov.velmora-backup-4-5-6";
    for (const InPlaceRoute& route : in_place_routes()) {
        SCOPED_TRACE(route.label);
        ::unlink(dir.join(backup_name).c_str());
        write_file(source, "original");
        write_file(temporary, "with timecode");
        Recorded log;
        const Status published = publish_in_place(
            held, temporary_name, "clip.mov", backup_name,
            calls_refusing(log, route.rename_no_replace_error, route.link_error, route.exchange_error));
        ASSERT_TRUE(published.has_value()) << published.error();
        EXPECT_EQ(log.calls, route.expected_calls);
        EXPECT_EQ(read_file(source), "with timecode");
        EXPECT_EQ(read_file(dir.join(backup_name)), "original");
        EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"clip.mov", backup_name}));
    }
}

TEST_F(Publishing, InPlaceFailuresLeaveTheSourceWhereItWas) {
    struct Case {
        const char* label;
        bool source_exists;
        bool temporary_exists;
        int link_error;
        std::string message;
    };
    const std::string missing = "No such file or directory (os error 2)";
    const std::vector<Case> cases = {
        {"source gone, hard link route", false, true, 0, missing},
        {"temporary gone, hard link route", true, false, 0, missing},
        {"source gone, exchange route", false, true, EPERM, missing},
        {"temporary gone, exchange route", true, false, EPERM, missing},
    };
    const std::string source = dir.join("clip.mov");
    const std::string backup_name = "clip.mov.velmora-backup-4-5-6";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ::unlink(source.c_str());
        ::unlink(temporary.c_str());
        if (c.source_exists) write_file(source, "original");
        if (c.temporary_exists) write_file(temporary, "with timecode");
        Recorded log;
        const Status published =
            publish_in_place(held, temporary_name, "clip.mov", backup_name, calls_refusing(log, 0, c.link_error));
        ASSERT_FALSE(published.has_value());
        EXPECT_EQ(published.error(), c.message);
        EXPECT_FALSE(path_exists(dir.join(backup_name)));
        if (c.source_exists) {
            EXPECT_EQ(read_file(source), "original");
        }
    }
}

TEST_F(Publishing, InPlaceFailedRestoreSaysWhereTheOriginalIs) {
    const std::string source = dir.join("clip.mov");
    const std::string backup_name = "clip.mov.velmora-backup-4-5-6";
    const std::string backup = dir.join(backup_name);
    write_file(source, "original");
    write_file(temporary, "with timecode");
    const PublishCalls real = system_publish_calls();
    std::vector<std::string> renames;
    PublishCalls calls = real;
    calls.link = [](int, const std::string&, const std::string&) { return EPERM; };
    calls.rename_no_replace = [](int, const std::string&, const std::string&) { return EINVAL; };
    calls.rename = [&](int folder, const std::string& from, const std::string& to) {
        renames.push_back(from + " -> " + to);
        if (renames.size() == 1) return real.rename(folder, from, to);
        return renames.size() == 2 ? EXDEV : EACCES;
    };
    const Status published = publish_in_place(held, temporary_name, "clip.mov", backup_name, calls);
    ASSERT_FALSE(published.has_value());
    EXPECT_EQ(published.error(),
              "Invalid cross-device link (os error 18); restore failed: Permission denied (os error "
              "13). Original is safe at " +
                  backup);
    EXPECT_EQ(renames, (std::vector<std::string>{"clip.mov -> " + backup_name, temporary_name + " -> clip.mov",
                                                 backup_name + " -> clip.mov"}));
    EXPECT_EQ(read_file(backup), "original");
    EXPECT_FALSE(path_exists(source));
}

// A folder renamed and replaced by a symbolic link while the movie was
// written: the output still lands beside its temporary file, and nothing
// reaches the link's target.
TEST_F(Publishing, NamesStayInTheHeldFolderWhenItIsMovedAway) {
    TempDir elsewhere{"velmora-elsewhere"};
    std::filesystem::create_directories(dir.join("out"));
    HeldFolder out = HeldFolder::open(dir.join("out")).value();
    write_file(dir.join("out/" + temporary_name), "with timecode");
    std::filesystem::rename(dir.join("out"), dir.join("moved"));
    std::filesystem::create_directory_symlink(elsewhere.path(), dir.join("out"));

    const Status published = publish_new_file(out, temporary_name, "clip_TC.mov", guards);
    ASSERT_TRUE(published.has_value()) << published.error();
    EXPECT_EQ(read_file(dir.join("moved/clip_TC.mov")), "with timecode");
    EXPECT_EQ(names_in(dir.join("moved")), std::vector<std::string>{"clip_TC.mov"});
    EXPECT_TRUE(names_in(elsewhere.path()).empty());
    EXPECT_EQ(out.path_of("clip_TC.mov"), dir.join("out/clip_TC.mov"));
}

// A backend killed before each step of each in-place route, then the next
// batch's clean-up: the source name holds the original or (once the last
// step ran) the new file with the original in the backup; only the two
// renames may leave the name missing, with the original in the backup.
TEST_F(Publishing, KilledBetweenInPlaceStepsNothingIsLostOrLeftBehind) {
    const std::string source = dir.join("clip.mov");
    int runs = 0, leftovers_before = 0, leftovers_after = 0;
    for (const InPlaceRoute& route : in_place_routes()) {
        for (std::size_t kill_before = 1; kill_before <= route.expected_calls.size() + 1; ++kill_before) {
            SCOPED_TRACE(std::string(route.label) + ", killed before call " + std::to_string(kill_before));
            for (const std::string& name : names_in(dir.path())) ::unlink(dir.join(name).c_str());
            write_file(source, "original");
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                const std::string token = std::to_string(::getpid()) + "-1-0";
                const std::string temporary_here = ".velmora-" + token + ".clip.mov";
                write_file(dir.join(temporary_here), "with timecode");
                Recorded log;
                PublishCalls calls =
                    calls_refusing(log, route.rename_no_replace_error, route.link_error, route.exchange_error);
                std::size_t made = 0;
                for (PublishCalls::Call* call :
                     {&calls.rename_no_replace, &calls.link, &calls.rename, &calls.exchange}) {
                    *call = [&made, kill_before, inner = *call](int folder, const std::string& a,
                                                                const std::string& b) {
                        if (++made == kill_before) ::raise(SIGKILL);
                        return inner(folder, a, b);
                    };
                }
                const Status published =
                    publish_in_place(held, temporary_here, "clip.mov", "clip.mov.velmora-backup-" + token, calls);
                ::_exit(published ? 0 : 1);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ++runs;
            const bool killed = WIFSIGNALED(status);
            EXPECT_EQ(killed, kill_before <= route.expected_calls.size());

            std::vector<std::string> names = names_in(dir.path());
            const auto temporaries = [&names] {
                return std::count_if(names.begin(), names.end(),
                                     [](const std::string& n) { return n.starts_with(".velmora-"); });
            };
            leftovers_before += static_cast<int>(temporaries());
            remove_leftover_temporaries(dir.path());
            names = names_in(dir.path());
            leftovers_after += static_cast<int>(temporaries());
            EXPECT_EQ(temporaries(), 0);

            std::vector<std::string> backups;
            for (const std::string& name : names)
                if (name.starts_with("clip.mov.velmora-backup-")) backups.push_back(name);
            const auto current = read_file(source);
            const bool two_renames =
                route.link_error != 0 && (route.rename_no_replace_error != 0 || route.exchange_error != 0);
            if (!current) {
                EXPECT_TRUE(two_renames) << "the name went missing on a route that never lets it";
                ASSERT_EQ(backups.size(), 1u);
                EXPECT_EQ(read_file(dir.join(backups[0])), "original");
            } else if (*current == "with timecode") {
                ASSERT_EQ(backups.size(), 1u);
                EXPECT_EQ(read_file(dir.join(backups[0])), "original");
            } else {
                EXPECT_EQ(*current, "original");
            }
        }
    }
    std::printf("in-place kills: %d runs, %d temporaries left by the kills, %d after the clean-up\n", runs,
                leftovers_before, leftovers_after);
}

}  // namespace
}  // namespace velmora
