// Import through the real program with a scripted probe engine, plus the
// timestamp format and a folder that cannot be listed.

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "import.h"
#include "service_state.h"
#include "support/backend_harness.h"
#include "timestamps.h"

namespace velmora::testing {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

std::string fake_engine_source() {
    return (std::filesystem::path(__FILE__).parent_path() / "fake_engines" / "probe_engine.sh").string();
}

// Timestamp text written independently of the code under test.
std::string utc_text(std::time_t seconds, long nanoseconds) {
    std::tm parts{};
    ::gmtime_r(&seconds, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    char millis[24];
    std::snprintf(millis, sizeof millis, ".%03ldZ", nanoseconds / 1000000);
    return std::string(text) + millis;
}

std::string modified_text(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return utc_text(status.st_mtim.tv_sec, status.st_mtim.tv_nsec);
}

// The birth time as this file system records it, or null.
json birth_text(const std::string& path) {
    struct statx status {};
    EXPECT_EQ(::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &status), 0) << path;
    if (!(status.stx_mask & STATX_BTIME)) return nullptr;
    return utc_text(status.stx_btime.tv_sec, status.stx_btime.tv_nsec);
}

std::vector<std::string> names_of(const json& list) {
    std::vector<std::string> names;
    for (const auto& item : list) names.push_back(item.value("name", "?"));
    return names;
}

// A backend with the scripted engine and a scratch folder for movies.
class ImportTest : public ::testing::Test {
protected:
    ImportTest()
        : resources_(ResourcesDir::with_engine_script(read_file(fake_engine_source()).value_or(""))),
          backend_(options()) {}

    BackendOptions options() {
        BackendOptions result;
        result.resources = resources_.path();
        result.environment = {"PROBE_LOG=" + probe_log()};
        return result;
    }

    std::string probe_log() const { return scratch_.join("probes.log"); }
    std::string movie(const std::string& relative, std::string_view bytes = "not really a movie") {
        std::string path = scratch_.join("movies/" + relative);
        write_file(path, bytes);
        return path;
    }
    std::string folder(const std::string& relative = "") const { return scratch_.join("movies/" + relative); }

    json import(const json& paths, const json& recursive = false) {
        auto reply = backend_.call("import_movies", {{"paths", paths}, {"recursive", recursive}});
        EXPECT_TRUE(reply.has_value());
        if (!reply) return json();
        EXPECT_TRUE(reply->contains("result")) << reply->dump();
        return reply->value("result", json());
    }

    std::vector<std::string> probed() const {
        std::vector<std::string> lines;
        std::istringstream log(read_file(probe_log()).value_or(""));
        for (std::string line; std::getline(log, line);) lines.push_back(line);
        return lines;
    }

    TempDir scratch_{"velmora-import"};
    ResourcesDir resources_;
    Backend backend_;
};

const json unsupported = {{"message", "Supported formats: MOV, MP4, M4V."}};

json import_error(const std::string& name, const std::string& message) {
    return {{"message", message}, {"name", name}};
}

TEST_F(ImportTest, FolderEntriesInByteOrderWithSkippedNames) {
    for (const char* name : {"b.mov", "A.MOV", "a.mp4", "c.M4v", ".DS_Store", "._a.mov", "notes.txt", "noext", ".mov",
                             "movie.mov.txt", "__MACOSX/inner.mov", "sub/__MACOSX/inner.mov",
                             // our own backups and hidden temporaries, also of non-movies
                             "A003.mp4.velmora-backup-19543-1765000000000000000-666", "x.txt.velmora-backup-1-2-3",
                             ".velmora-19543-1-7.b.mov", ".velmora-1-2-3.report.csv", "sub/c.mov.velmora-backup-1-2-3"})
        movie(std::string("drop/") + name);
    const json result = import({folder("drop")}, true);

    EXPECT_EQ(names_of(result["files"]), (std::vector<std::string>{"A.MOV", "a.mp4", "b.mov", "c.M4v"}));
    const std::string message = "Supported formats: MOV, MP4, M4V.";
    EXPECT_EQ(result["errors"], json({import_error(".mov", message), import_error("movie.mov.txt", message),
                                      import_error("noext", message), import_error("notes.txt", message)}));
    EXPECT_EQ(probed().size(), 4u) << "skipped names must never reach the engine";
}

TEST_F(ImportTest, RecursionAndRelativeFolders) {
    for (const char* name : {"top.mov", "A/a.mov", "A/B/deep.mov", "A/B/C/deeper.mov", "zz.mov"})
        movie(std::string("drop/") + name);

    const json flat = import({folder("drop")});
    EXPECT_EQ(names_of(flat["files"]), (std::vector<std::string>{"top.mov", "zz.mov"}));
    EXPECT_EQ(flat["errors"], json::array());

    // Anything but a boolean means false.
    EXPECT_EQ(names_of(import({folder("drop")}, "true")["files"]), (std::vector<std::string>{"top.mov", "zz.mov"}));

    const json deep = import({folder("drop")}, true);
    ASSERT_EQ(names_of(deep["files"]),
              (std::vector<std::string>{"deeper.mov", "deep.mov", "a.mov", "top.mov", "zz.mov"}));
    std::vector<std::string> relative;
    for (const auto& record : deep["files"]) relative.push_back(record["relativeDir"]);
    EXPECT_EQ(relative, (std::vector<std::string>{"A/B/C", "A/B", "A", "", ""}));
    // Every movie below the given folder, however deep, is on its card.
    for (const auto& record : deep["files"]) EXPECT_EQ(record["card"], "drop") << record["name"];

    // A file named directly, even deep inside, has no relative folder and no
    // card; a sub-folder given directly is the root of its own walk.
    const json direct = import({folder("drop/A/B/deep.mov"), folder("drop/A/")}, true);
    ASSERT_EQ(direct["files"].size(), 3u);
    EXPECT_EQ(direct["files"][0]["relativeDir"], "");
    EXPECT_EQ(direct["files"][0]["card"], nullptr);
    EXPECT_EQ(direct["files"][1]["name"], "deeper.mov");
    EXPECT_EQ(direct["files"][1]["relativeDir"], "B/C");
    EXPECT_EQ(direct["files"][1]["card"], "A");
    EXPECT_EQ(direct["files"][2]["relativeDir"], "");
    EXPECT_EQ(direct["files"][2]["card"], "A");

    // A folder given as "..": the card is the folder it reaches.
    const json parent = import({folder("drop/A/B/C/..")});
    ASSERT_EQ(names_of(parent["files"]), std::vector<std::string>{"deep.mov"});
    EXPECT_EQ(parent["files"][0]["card"], "B");
}

// A link the user drops or picks is followed to what it names; links met
// inside a folder are not. Anything but a file or folder given directly is
// reported instead of vanishing.
TEST_F(ImportTest, GivenLinksAreFollowedOnceAndOtherKindsAreReported) {
    const std::string target = movie("real/target.mov");
    movie("real/inner.mov");
    std::filesystem::create_directories(folder("drop"));
    std::filesystem::create_symlink(target, folder("drop/link.mov"));
    std::filesystem::create_symlink(folder("real"), folder("drop/linked-folder"));
    std::filesystem::create_symlink(folder("real"), folder("folder-link"));
    std::filesystem::create_symlink(folder("nowhere.mov"), folder("dangling.mov"));
    ASSERT_EQ(::mkfifo(folder("pipe.mov").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(folder("drop/pipe-inside.mov").c_str(), 0600), 0);
    std::filesystem::create_symlink(folder("pipe.mov"), folder("pipe-link.mov"));

    const json result = import({folder("drop/link.mov"), folder("drop"), folder("folder-link"), folder("dangling.mov"),
                                folder("pipe.mov"), folder("pipe-link.mov"), "/dev/null"},
                               true);
    EXPECT_EQ(names_of(result["files"]), (std::vector<std::string>{"link.mov", "inner.mov"}));
    EXPECT_EQ(result["files"][0]["path"], std::filesystem::canonical(target).string());
    EXPECT_EQ(result["files"][0]["relativeDir"], "");
    EXPECT_EQ(result["errors"], json({import_error("dangling.mov", "No such file or directory (os error 2)"),
                                      import_error("pipe.mov", "Not a movie file or folder."),
                                      import_error("pipe-link.mov", "Not a movie file or folder."),
                                      import_error("null", "Not a movie file or folder.")}));
    // "folder-link" reached target.mov a second time: one probe per file.
    EXPECT_EQ(probed().size(), 2u);
}

// An engine that never answers costs one error after the probe's time limit;
// the gate is free again for the next import.
TEST(ImportTimeLimit, NeverAnsweringEngineFailsThatMovieOnly) {
    TempDir scratch{"velmora-import-limit"};
    write_file(scratch.join("hangs.mov"), "x");
    write_file(scratch.join("fine.mov"), "x");
    write_file(scratch.join("engine.sh"),
               "#!/bin/sh\ncase $2 in *hangs*) sleep 600 ;; esac\nprintf '{\"engine\":\"fake\"}'\n");
    ASSERT_EQ(::chmod(scratch.join("engine.sh").c_str(), 0755), 0);
    ServiceState state;
    state.engine_path = scratch.join("engine.sh");
    state.probe_time_limit = 500ms;
    const auto started = std::chrono::steady_clock::now();
    auto first = import_movies(state, {scratch.join("hangs.mov"), scratch.join("fine.mov")}, json::object());
    ASSERT_TRUE(first) << first.error();
    EXPECT_EQ((*first)["errors"], json({import_error("hangs.mov", "The engine did not answer within 60 seconds.")}));
    EXPECT_EQ(names_of((*first)["files"]), std::vector<std::string>{"fine.mov"});
    auto second = import_movies(state, {scratch.join("fine.mov")}, json::object());
    ASSERT_TRUE(second) << second.error();
    EXPECT_EQ((*second)["files"].size(), 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
}

TEST_F(ImportTest, LinksInsideTheGivenPathStillLeadToTheCanonicalFile) {
    const std::string target = movie("real/target.mov");
    std::filesystem::create_symlink(folder("real"), folder("via"));
    const json result = import({folder("via/target.mov"), folder("real/./target.mov")});
    ASSERT_EQ(result["files"].size(), 1u) << result.dump();
    const json& record = result["files"][0];
    EXPECT_EQ(record["path"], std::filesystem::canonical(target).string());
    EXPECT_EQ(record["name"], "target.mov");
    EXPECT_EQ(probed(), (std::vector<std::string>{std::filesystem::canonical(target).string()}));
}

TEST_F(ImportTest, PathsThatCannotBeExamined) {
    const std::string movie_path = movie("drop/a.mov");
    const std::string missing = "No such file or directory (os error 2)";
    const json result = import({folder("gone/missing.mov"), folder("gone/dir/"), "", movie_path + "/inner.mov",
                                std::string(movie_path + std::string(1, '\0') + ".txt"),
                                std::string("\0", 1) + movie_path, movie_path});
    EXPECT_EQ(result["errors"],
              json({import_error("missing.mov", missing), import_error("dir", missing), import_error("", missing),
                    import_error("inner.mov", "Not a directory (os error 20)"),
                    import_error(std::string("a.mov") + '\0' + ".txt", "Invalid path: it contains a NUL byte."),
                    import_error("a.mov", "Invalid path: it contains a NUL byte.")}));
    // The NUL never shortened a path into the movie: only the last path reached it.
    EXPECT_EQ(names_of(result["files"]), (std::vector<std::string>{"a.mov"}));
    EXPECT_EQ(probed().size(), 1u);
}

std::vector<std::string> ids_of(const json& list) {
    std::vector<std::string> ids;
    for (const auto& item : list) ids.push_back(item.value("id", "?"));
    return ids;
}

// Within one call a file counts once; a later call gives a file it already
// knows the same id, probing it again only when its size or modification
// time changed.
TEST_F(ImportTest, DuplicatesCountOncePerCallAndKeepTheirIdsInTheNext) {
    const std::string path = movie("drop/a.mov");
    const std::string other = movie("drop/b.mov");
    const json first = import({path, folder("drop"), folder("drop/../drop/a.mov")});
    EXPECT_EQ(names_of(first["files"]), (std::vector<std::string>{"a.mov", "b.mov"}));
    EXPECT_EQ(first["errors"], json::array());
    EXPECT_EQ(probed().size(), 2u);
    EXPECT_NE(first["files"][0]["id"], first["files"][1]["id"]);

    // The same folder again: the same ids, nothing probed, and a.mov now
    // belongs to the folder it was found in.
    const json again = import({folder("drop")});
    EXPECT_EQ(ids_of(again["files"]), ids_of(first["files"]));
    EXPECT_EQ(again["files"][0]["card"], "drop");
    EXPECT_EQ(again["files"][1], first["files"][1]);
    EXPECT_EQ(probed().size(), 2u);

    // a.mov grows, b.mov only gets another modification time: both are
    // probed again and keep their ids with the new size and time.
    write_file(path, "a longer movie than before");
    const timespec times[2] = {{0, UTIME_OMIT}, {1500000000, 250000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), times, 0), 0);
    const json touched = import({folder("drop")});
    EXPECT_EQ(ids_of(touched["files"]), ids_of(first["files"]));
    EXPECT_EQ(touched["files"][0]["size"], 26);
    EXPECT_EQ(touched["files"][0]["modified"], modified_text(path));
    EXPECT_EQ(touched["files"][1]["size"], first["files"][1]["size"]);
    EXPECT_EQ(touched["files"][1]["modified"], "2017-07-14T02:40:00.250Z");
    EXPECT_EQ(probed().size(), 4u);

    // The store holds the new records: a fourth import probes nothing.
    const json direct = import({path, other});
    EXPECT_EQ(ids_of(direct["files"]), ids_of(first["files"]));
    EXPECT_EQ(direct["files"][0]["size"], 26);
    EXPECT_EQ(direct["files"][0]["card"], nullptr);
    EXPECT_EQ(probed().size(), 4u);
}

TEST_F(ImportTest, RecordMembersBesideTheReport) {
    const std::string path = movie("drop/Clip One.mov", std::string(1234, 'x'));
    const json result = import({path});
    ASSERT_EQ(result["files"].size(), 1u) << result.dump();
    const json& record = result["files"][0];

    EXPECT_EQ(record["engine"], "fake");
    EXPECT_EQ(record["name"], "Clip One.mov");
    EXPECT_EQ(record["path"], std::filesystem::canonical(path).string());
    EXPECT_EQ(record["relativeDir"], "");
    EXPECT_EQ(record["card"], nullptr);
    EXPECT_TRUE(record["size"].is_number_unsigned());
    EXPECT_EQ(record["size"], 1234);
    EXPECT_EQ(record["modified"], modified_text(path));
    EXPECT_EQ(record["creationOrigin"], "File creation date");
    EXPECT_EQ(record["created"], birth_text(path));

    const std::string id = record["id"];
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(id, parts, std::regex(R"((\d+)-(\d+)-(\d+))"))) << id;
    EXPECT_EQ(parts[1], std::to_string(backend_.pid()));
    const auto now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    EXPECT_LE(std::stoll(parts[2]), now);
    EXPECT_GT(std::stoll(parts[2]), now - std::chrono::nanoseconds(60s).count());
}

TEST_F(ImportTest, ReportMembersWithImportNamesAreReplaced) {
    const std::string path = movie("drop/members.mov");
    const json result = import({folder("drop")});
    ASSERT_EQ(result["files"].size(), 1u) << result.dump();
    const json& record = result["files"][0];
    EXPECT_NE(record["id"], "engine");
    EXPECT_EQ(record["path"], std::filesystem::canonical(path).string());
    EXPECT_EQ(record["name"], "members.mov");
    EXPECT_EQ(record["size"], std::filesystem::file_size(path));
    EXPECT_EQ(record["relativeDir"], "");
    EXPECT_EQ(record["card"], "drop");
    EXPECT_EQ(record["created"], "2023-11-14T22:13:20.000Z");
    EXPECT_EQ(record["creationOrigin"], "Media metadata");
    EXPECT_EQ(record["modified"], modified_text(path));
    EXPECT_EQ(record["streams"], json::parse(R"([{"index":0}])"));
}

struct CreationCase {
    const char* name;
    json created;  // a string from the report; null: the file's birth time
};

TEST_F(ImportTest, CreationFromTheReportOnlyForRepresentableIntegers) {
    const CreationCase cases[] = {
        {"created-zero", "1970-01-01T00:00:00.000Z"},
        {"created-negative", "1969-12-31T23:59:59.000Z"},
        {"created-recent", "2023-11-14T22:13:20.000Z"},
        {"created-year-one", "0001-01-01T00:00:00.000Z"},
        {"created-year-10000", "+10000-01-01T00:00:00.000Z"},
        {"created-float", nullptr},
        {"created-exponent", nullptr},
        {"created-string", nullptr},
        {"created-huge", nullptr},
        {"created-far", nullptr},
        {"created-min", nullptr},
        {"created-missing", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = movie(std::string(c.name) + ".mov");
        const json result = import({path});
        ASSERT_EQ(result["files"].size(), 1u) << result.dump();
        const json& record = result["files"][0];
        if (c.created.is_string()) {
            EXPECT_EQ(record["created"], c.created);
            EXPECT_EQ(record["creationOrigin"], "Media metadata");
        } else {
            EXPECT_EQ(record["created"], birth_text(path));
            EXPECT_EQ(record["creationOrigin"], "File creation date");
        }
    }
}

TEST_F(ImportTest, PerMovieFailuresAreErrorsAndTheImportGoesOn) {
    for (const char* name : {"a-refused.mov", "b-changing.mov", "c-vanishing.mov", "d-array.mov", "e-fine.mov"})
        movie(std::string("drop/") + name);
    const json result = import({folder("drop")});
    EXPECT_EQ(names_of(result["files"]), (std::vector<std::string>{"e-fine.mov"}));
    EXPECT_EQ(result["errors"], json({import_error("a-refused.mov", "Unsupported frame rate"),
                                      import_error("b-changing.mov", "Source changed during import. Import it again."),
                                      import_error("c-vanishing.mov", "No such file or directory (os error 2)"),
                                      import_error("d-array.mov", "The engine's report is not a JSON object.")}));
}

TEST_F(ImportTest, ImportsRunOneAfterTheOther) {
    const std::string held = movie("first/held.mov");
    const std::string quick = movie("second/quick.mov");
    ASSERT_TRUE(backend_.send(json{{"id", 1}, {"command", "import_movies"}, {"args", {{"paths", {held}}}}}));
    // Wait until the first import is inside its probe, which waits for the release file; a
    // loaded machine (the sanitizer build beside other tests) may take a while to start it.
    for (int tries = 0; tries < 6000 && probed().empty(); ++tries) std::this_thread::sleep_for(5ms);
    ASSERT_EQ(probed(), (std::vector<std::string>{held}));
    ASSERT_TRUE(backend_.send(json{{"id", 2}, {"command", "import_movies"}, {"args", {{"paths", {quick}}}}}));
    ASSERT_TRUE(backend_.send(json{{"id", 3}, {"command", "busy"}}));

    // "busy" does not wait for the gate.
    auto busy = backend_.read_message();
    ASSERT_TRUE(busy);
    EXPECT_EQ(*busy, (json{{"id", 3}, {"result", false}}));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(probed().size(), 1u) << "the second import started while the first held the gate";

    write_file(held + ".release", "");
    std::vector<json> order;
    for (int i = 0; i < 2; ++i) {
        auto message = backend_.read_message(30s);
        ASSERT_TRUE(message);
        order.push_back((*message)["id"]);
    }
    EXPECT_EQ(order, (std::vector<json>{1, 2}));
    EXPECT_EQ(probed(), (std::vector<std::string>{held, quick}));
}

TEST_F(ImportTest, MissingPathsArgumentIsRefusedBeforeAnyWork) {
    auto reply = backend_.call("import_movies", json::object());
    ASSERT_TRUE(reply);
    EXPECT_FALSE(reply->contains("result"));
    EXPECT_TRUE((*reply)["error"].is_string());
    EXPECT_TRUE(probed().empty());
}

// A folder that cannot be listed gives one error and the other paths go on.
// Run in a child process that, when this test runs as root, gives up root,
// since root lists any folder whatever its permission bits.
TEST(ImportFolders, UnreadableFolderGivesOneErrorForTheFolder) {
    TempDir scratch("velmora-import-locked");
    ASSERT_EQ(::chmod(scratch.path().c_str(), 0755), 0);
    write_file(scratch.join("locked/inside.mov"), "x");
    write_file(scratch.join("open/fine.mov"), "x");
    ASSERT_EQ(::chmod(scratch.join("open/fine.mov").c_str(), 0644), 0);
    ASSERT_EQ(::chmod(scratch.join("locked").c_str(), 0), 0);

    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipe_ends[0]);
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        ServiceState state;
        state.engine_path = fake_engine_source();
        auto result = import_movies(state, {scratch.join("locked"), scratch.join("open")}, json::object());
        std::string text = result ? result->dump() : "error: " + result.error();
        bool written = ::write(pipe_ends[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::_exit(written ? 0 : 4);
    }
    ::close(pipe_ends[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(pipe_ends[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::chmod(scratch.join("locked").c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    const json result = json::parse(text);
    EXPECT_EQ(result["errors"], json({import_error("locked", "Permission denied (os error 13)")}));
    EXPECT_EQ(names_of(result["files"]), (std::vector<std::string>{"fine.mov"}));
}

struct TimestampCase {
    std::int64_t seconds;
    std::int64_t nanoseconds;
    std::optional<std::string> text;
};

TEST(Timestamps, UtcWithTruncatedMilliseconds) {
    const TimestampCase cases[] = {
        {0, 0, "1970-01-01T00:00:00.000Z"},
        {1709993100, 0, "2024-03-09T14:05:00.000Z"},
        {1709993100, 999999999, "2024-03-09T14:05:00.999Z"},
        {1709993100, 1999999, "2024-03-09T14:05:00.001Z"},
        {-1, 0, "1969-12-31T23:59:59.000Z"},
        {-1, 500000000, "1969-12-31T23:59:59.500Z"},
        {-86400, 0, "1969-12-31T00:00:00.000Z"},
        {951782400, 0, "2000-02-29T00:00:00.000Z"},
        {4107542399, 0, "2100-02-28T23:59:59.000Z"},
        {4107542400, 0, "2100-03-01T00:00:00.000Z"},
        {-2208988800, 0, "1900-01-01T00:00:00.000Z"},
        {253402300799, 0, "9999-12-31T23:59:59.000Z"},
        {253402300800, 0, "+10000-01-01T00:00:00.000Z"},
        {-62135596800, 0, "0001-01-01T00:00:00.000Z"},
        {-62135596801, 0, "0000-12-31T23:59:59.000Z"},
        {-62167219201, 0, "-0001-12-31T23:59:59.000Z"},
        {8210298412799, 0, "+262143-12-31T23:59:59.000Z"},
        {8210298412800, 0, std::nullopt},
        {-8334632851200, 0, "-262144-01-01T00:00:00.000Z"},
        {-8334632851201, 0, std::nullopt},
        {std::numeric_limits<std::int64_t>::max(), 0, std::nullopt},
        {std::numeric_limits<std::int64_t>::min(), 0, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(format_timestamp(c.seconds, c.nanoseconds), c.text);
    }
}

}  // namespace
}  // namespace velmora::testing
