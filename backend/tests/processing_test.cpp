// The batch in-process, with a fake engine that copies the source, prints
// progress lines and answers probes with a report the test chooses.

#include "processing.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "json_text.h"
#include "published_outputs.h"
#include "restore.h"
#include "support/backend_harness.h"

namespace velmora {
namespace {

using testing::list_folder;
using testing::path_exists;
using testing::read_file;
using testing::ResourcesDir;
using testing::TempDir;
using testing::write_file;

constexpr const char* fake_engine = R"(#!/bin/sh
here=$(dirname "$0")
echo "$*" >> "$here/calls.log"
case "$1" in
write)
  if [ -e "$here/write_fails" ]; then echo "  Unsupported frame rate  " >&2; exit 1; fi
  if [ "$5" = "bad reel" ]; then echo "Invalid reel name" >&2; exit 1; fi
  set -C
  cat "$2" > "$3" || exit 1
  if [ -e "$here/stamp" ]; then printf ' stamped' >> "$3"; fi
  echo progress=0.25 >&2
  if [ -e "$here/write_sleeps" ]; then echo progress=0.5 >&2; sleep 10; fi
  echo progress=1.7 >&2
  echo "progress= 0.3" >&2
  exit 0 ;;
probe)
  cat "$here/report.json"
  exit 0 ;;
stamp)
  if [ -e "$here/stamp_fails" ]; then echo "Fragmented movies are not supported yet" >&2; exit 1; fi
  wc -c < "$2" > "$here/original_size"
  touch -r "$2" "$here/times"
  if [ -e "$here/bad_tail" ]; then printf 'tail' >> "$2"; else printf '\0\0\0\14mdat\0\0\0\0\0\0\0\10moov' >> "$2"; fi
  touch -r "$here/times" "$2"
  cat "$here/stamp_report.json"
  exit 0 ;;
unstamp)
  size=$(cat "$here/original_size")
  truncate -s "$size" "$2"
  touch -r "$here/times" "$2"
  exit 0 ;;
esac
exit 2
)";

constexpr const char* good_report =
    R"({"streams":[{"tag":"avc1","trackId":1,"type":"video"},{"tag":"sowt","trackId":2,"type":"audio"},)"
    R"({"tag":"tmcd","trackId":3,"type":"data"}],"timecode":"01:00:00:00"})";
const nlohmann::json source_streams =
    nlohmann::json::parse(R"([{"tag":"sowt","trackId":2,"type":"audio"},{"tag":"avc1","trackId":1,"type":"video"}])");

const std::string changed_message = "Source changed since import. Import it again. No output was published.";
const std::string timecode_failed = "Output timecode verification failed. Source has been preserved.";
const std::string streams_failed = "Output stream verification failed. Source has been preserved.";

class Batch : public ::testing::Test {
protected:
    void SetUp() override {
        state.engine_path = engine.engine_path();
        write_file(engine.bin_path() + "/report.json", good_report);
    }

    // A source file and its store entry, as import would leave them.
    std::string add_movie(const std::string& id, const std::string& relative_path, const std::string& relative_dir = "",
                          const std::string& bytes = "source bytes") {
        std::string path = dir.join(relative_path);
        write_file(path, bytes + " of " + id);
        struct stat info {};
        ::stat(path.c_str(), &info);
        MovieRecord record;
        record.source_path = path;
        record.relative_dir = relative_dir;
        record.size = static_cast<std::uint64_t>(info.st_size);
        record.modified_seconds = info.st_mtim.tv_sec;
        record.modified_nanoseconds = info.st_mtim.tv_nsec;
        record.device = info.st_dev;
        record.inode = info.st_ino;
        record.record = {{"id", id}, {"path", path}, {"streams", source_streams}};
        std::lock_guard lock(state.movie_store_mutex);
        state.movie_store[id] = record;
        return path;
    }

    Result<nlohmann::json> run(const std::vector<std::string>& ids, const std::map<std::string, std::string>& timecodes,
                               const nlohmann::json& options, const std::map<std::string, std::string>& reels = {}) {
        return run_batch(state, ids, MovieRequests{timecodes, reels}, options, [this](const nlohmann::json& payload) {
            std::lock_guard lock(events_mutex);
            events.push_back(payload);
            if (on_event) on_event(payload);
        });
    }

    std::vector<std::string> engine_calls() const {
        std::vector<std::string> calls;
        const std::string log = read_file(engine.bin_path() + "/calls.log").value_or("");
        std::size_t start = 0;
        for (std::size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
            calls.push_back(log.substr(start, end - start));
        }
        return calls;
    }

    void switch_on(const std::string& name) { write_file(engine.bin_path() + "/" + name, ""); }

    ResourcesDir engine = ResourcesDir::with_engine_script(fake_engine);
    TempDir dir{"velmora-batch"};
    ServiceState state;
    std::mutex events_mutex;
    std::vector<nlohmann::json> events;
    std::function<void(const nlohmann::json&)> on_event;
    const nlohmann::json new_file = {{"copy", true}};
};

// Without a copy: the engine stamps the movie itself; a stamp that fails
// the backend's own check is taken off again and the movie is as it was.
TEST_F(Batch, AppendStampsTheMovieAndUnstampsOnAFailedCheck) {
    const std::string stamped_report =
        R"({"timecode":"01:00:00:00","appended":true,"streams":[{"tag":"avc1","trackId":1,"type":"video"},)"
        R"({"tag":"sowt","trackId":2,"type":"audio"},{"tag":"tmcd","trackId":3,"type":"data"}]})";
    const auto edited = [&](const std::string& from, const std::string& to) {
        std::string report = stamped_report;
        return report.replace(report.find(from), from.size(), to);
    };
    struct Case {
        const char* label;
        std::string report;
        const char* switch_name;  // nullptr: none
        std::string error;        // empty: done
        bool unstamped;
    };
    const std::vector<Case> cases = {
        {"stamped and proven", stamped_report, nullptr, "", false},
        {"the engine refuses", stamped_report, "stamp_fails", "Fragmented movies are not supported yet", false},
        {"another timecode", edited("01:00:00:00", "01:00:00:01"), nullptr, timecode_failed, true},
        {"not marked appended", edited(R"("appended":true,)", ""), nullptr, timecode_failed, true},
        {"a stream lost", edited(R"({"tag":"sowt","trackId":2,"type":"audio"},)", ""), nullptr, streams_failed, true},
        {"not a stamp's tail", stamped_report, "bad_tail", streams_failed, true},
        {"a report that is not JSON", "stamped", nullptr, parse_json("stamped").error(), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove(engine.bin_path() + "/calls.log");
        for (const char* name : {"stamp_fails", "bad_tail"}) std::filesystem::remove(engine.bin_path() + "/" + name);
        if (c.switch_name != nullptr) switch_on(c.switch_name);
        write_file(engine.bin_path() + "/stamp_report.json", c.report);
        std::filesystem::remove_all(dir.path());
        std::filesystem::create_directories(dir.path());
        const std::string path = add_movie("a", "a.mov");
        const std::string original = read_file(path).value_or("");
        events.clear();

        const auto reply = run({"a"}, {{"a", "01:00:00:00"}}, {{"copy", false}, {"append", true}});
        ASSERT_TRUE(reply.has_value()) << reply.error();
        const nlohmann::json expected =
            c.error.empty() ? nlohmann::json{{"appended", true},         {"backup", nullptr}, {"id", "a"},
                                             {"output", path},           {"progress", 1},     {"state", "done"},
                                             {"timecode", "01:00:00:00"}}
                            : nlohmann::json{{"error", c.error}, {"id", "a"}, {"progress", 0}, {"state", "error"}};
        EXPECT_EQ(reply->at("results"), nlohmann::json::array({expected}));
        std::vector<std::string> calls{"stamp " + path + " 01:00:00:00"};
        if (c.unstamped) calls.push_back("unstamp " + path);
        EXPECT_EQ(engine_calls(), calls);
        EXPECT_EQ(list_folder(dir.path()), (std::vector<std::string>{"a.mov"})) << "no temporary, no backup";
        const MovieRecord stored = state.movie_store.at("a");
        if (c.error.empty()) {
            EXPECT_EQ(read_file(path), original + std::string("\0\0\0\14mdat\0\0\0\0\0\0\0\10moov", 20));
            EXPECT_EQ(stored.size, original.size() + 20);
            EXPECT_EQ(stored.record.at("appended"), true);
            EXPECT_EQ(stored.record.at("id"), "a");
            EXPECT_EQ(events.size(), 3u);
            if (events.size() == 3) {
                EXPECT_EQ(events[1].at("progress"), 1);
            }
        } else {
            EXPECT_EQ(read_file(path), original);
            EXPECT_EQ(stored.size, original.size()) << "the store keeps the imported record";
            EXPECT_FALSE(stored.record.contains("appended"));
        }
    }
}

TEST_F(Batch, RefusalsBeforeAnythingIsTouched) {
    add_movie("a", "a.mov");
    add_movie("b", "b.mov");
    struct Case {
        const char* label;
        std::vector<std::string> ids;
        std::map<std::string, std::string> timecodes;
        std::string message;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"unknown id", {"a", "zz"}, {{"a", "01:00:00:00"}, {"zz", "01:00:00:00"}}, "Import files before processing."},
        {"unknown id after a duplicate", {"a", "a", "zz"}, {{"a", "01:00:00:00"}}, "Import files before processing."},
        {"duplicate id", {"a", "b", "a"}, {{"a", "01:00:00:00"}, {"b", "01:00:00:00"}},
         "Invalid file list or timecode settings."},
        {"id without timecode", {"a", "b"}, {{"a", "01:00:00:00"}, {"c", "01:00:00:00"}},
         "Invalid file list or timecode settings."},
    };
    // clang-format on
    for (const Case& c : cases) {
        state.cancel = true;
        const auto reply = run(c.ids, c.timecodes, new_file);
        ASSERT_FALSE(reply.has_value()) << c.label;
        EXPECT_EQ(reply.error(), c.message) << c.label;
        EXPECT_FALSE(state.busy.load()) << c.label;
        EXPECT_FALSE(state.cancel.load()) << c.label << ": admission clears the cancel flag";
    }
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(engine_calls().empty());
    EXPECT_EQ(list_folder(dir.path()), (std::vector<std::string>{"a.mov", "b.mov"}));
}

TEST_F(Batch, ASecondBatchIsRefusedAndChangesNothing) {
    add_movie("a", "a.mov");
    state.busy = true;
    state.cancel = true;
    const auto reply = run({"a"}, {{"a", "01:00:00:00"}}, new_file);
    ASSERT_FALSE(reply.has_value());
    EXPECT_EQ(reply.error(), "A batch is already running.");
    EXPECT_TRUE(state.busy.load()) << "the running batch still owns the flag";
    EXPECT_TRUE(state.cancel.load()) << "the running batch's cancel request stays";
    EXPECT_TRUE(events.empty());
}

TEST_F(Batch, BusyWhileRunningAndASecondBatchMeanwhileIsRefused) {
    add_movie("a", "a.mov");
    std::vector<std::string> seen;
    on_event = [&](const nlohmann::json&) {
        if (!seen.empty()) return;
        seen.emplace_back(state.busy.load() ? "busy" : "idle");
        const auto second =
            run_batch(state, {"a"}, MovieRequests{{{"a", "01:00:00:00"}}, {}}, new_file, [](const nlohmann::json&) {});
        seen.push_back(second ? "admitted" : second.error());
    };
    const auto reply = run({"a"}, {{"a", "01:00:00:00"}}, new_file);
    ASSERT_TRUE(reply.has_value()) << reply.error();
    EXPECT_EQ(seen, (std::vector<std::string>{"busy", "A batch is already running."}));
    EXPECT_FALSE(state.busy.load());
}

TEST_F(Batch, EmptyListAnswersAtOnce) {
    state.cancel = true;
    const auto reply = run({}, {{"stray", "01:00:00:00"}}, nullptr);
    ASSERT_TRUE(reply.has_value()) << reply.error();
    EXPECT_EQ(reply->dump(), R"({"cancelled":false,"results":[]})");
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(state.busy.load());
}

TEST_F(Batch, EventsComeInOrderAndRecordsAreComplete) {
    const std::string first = add_movie("m0", "a.mov");
    const std::string second = add_movie("m1", "b.mp4");
    const auto reply = run({"m0", "m1"}, {{"m0", "01:00:00:00"}, {"m1", "01:00:00:00"}, {"unused", "x"}}, new_file);
    ASSERT_TRUE(reply.has_value()) << reply.error();

    const std::string out = dir.join("Velmora Output");
    const auto done = [&](const std::string& id, const std::string& name) {
        return R"({"backup":null,"id":")" + id + R"(","output":")" + out + "/" + name +
               R"(","progress":1,"state":"done","timecode":"01:00:00:00"})";
    };
    const auto event = [](const std::string& id, int index, const std::string& rest) {
        return R"({"id":")" + id + R"(","index":)" + std::to_string(index) + rest + R"(,"total":2})";
    };
    std::vector<std::string> dumped;
    dumped.reserve(events.size());
    for (const auto& e : events) dumped.push_back(e.dump());
    const std::vector<std::string> expected = {
        event("m0", 0, R"(,"progress":0,"state":"processing")"),
        event("m0", 0, R"(,"progress":0.25,"state":"processing")"),
        event("m0", 0, R"(,"progress":1.0,"state":"processing")"),  // the engine's 1.7, clamped
        event("m0", 0, R"(,"progress":1.0,"state":"processing")"),  // published
        R"({"backup":null,"id":"m0","index":0,"output":")" + out +
            R"(/a_TC.mov","progress":1,"state":"done","timecode":"01:00:00:00","total":2})",
        event("m1", 1, R"(,"progress":0,"state":"processing")"),
        event("m1", 1, R"(,"progress":0.25,"state":"processing")"),
        event("m1", 1, R"(,"progress":1.0,"state":"processing")"),
        event("m1", 1, R"(,"progress":1.0,"state":"processing")"),
        R"({"backup":null,"id":"m1","index":1,"output":")" + out +
            R"(/b_TC.mp4","progress":1,"state":"done","timecode":"01:00:00:00","total":2})",
    };
    EXPECT_EQ(dumped, expected);
    EXPECT_EQ(reply->dump(),
              R"({"cancelled":false,"results":[)" + done("m0", "a_TC.mov") + "," + done("m1", "b_TC.mp4") + "]}");

    EXPECT_EQ(list_folder(out), (std::vector<std::string>{"a_TC.mov", "b_TC.mp4"}));
    EXPECT_EQ(read_file(out + "/a_TC.mov"), read_file(first));
    EXPECT_TRUE(is_published_output(state, out + "/a_TC.mov"));
    EXPECT_TRUE(is_published_output(state, out + "/b_TC.mp4"));
    EXPECT_FALSE(is_published_output(state, first));
    const std::vector<std::string> calls = engine_calls();
    ASSERT_EQ(calls.size(), 4u);
    // The engine reaches the temporary file through the backend's descriptor
    // of the output folder, so a folder moved meanwhile cannot redirect it.
    const std::regex write_call("write " + first + " (/proc/" + std::to_string(::getpid()) +
                                "/fd/[0-9]+/\\.velmora-[0-9]+-[0-9]+-[0-9]+\\.a\\.mov) 01:00:00:00");
    std::smatch temporary;
    ASSERT_TRUE(std::regex_match(calls[0], temporary, write_call)) << calls[0];
    EXPECT_EQ(calls[1], "probe " + temporary[1].str());
}

TEST_F(Batch, OutputNamesAndFolders) {
    struct Case {
        const char* label;
        nlohmann::json options;
        std::string expected;  // relative to the test folder
    };
    const std::string destination = dir.join("dest");
    // clang-format off
    const std::vector<Case> cases = {
        {"default settings", nullptr, "card/DCIM/100/Velmora Output/c_TC.mov"},
        {"retain without destination stays beside the source", {{"copy", true}, {"retain", true}},
         "card/DCIM/100/Velmora Output/c_TC.mov"},
        {"destination, retained", {{"copy", true}, {"retain", true}, {"destination", destination}},
         "dest/DCIM/100/c_TC.mov"},
        {"destination, flat", {{"copy", true}, {"retain", false}, {"destination", destination}}, "dest/c_TC.mov"},
        {"prefix and number, third movie",
         {{"copy", true}, {"rename", true}, {"prefix", "Day1 "}, {"number", true}},
         "card/DCIM/100/Velmora Output/Day1c_003.mov"},
        {"relative destination counts as none", {{"copy", true}, {"destination", "relative/out"}},
         "card/DCIM/100/Velmora Output/c_TC.mov"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(dir.join("card"));
        std::filesystem::remove_all(destination);
        add_movie("a", "card/DCIM/100/a.mov", "DCIM/100");
        add_movie("b", "card/DCIM/100/b.mov", "DCIM/100");
        add_movie("c", "card/DCIM/100/c.mov", "DCIM/100");
        const std::map<std::string, std::string> timecodes = {
            {"a", "01:00:00:00"}, {"b", "01:00:00:00"}, {"c", "01:00:00:00"}};
        const auto reply = run({"a", "b", "c"}, timecodes, c.options);
        ASSERT_TRUE(reply.has_value()) << reply.error();
        const auto& record = reply->at("results").at(2);
        ASSERT_EQ(record.at("state"), "done") << record.dump();
        EXPECT_EQ(record.at("output"), dir.join(c.expected));
        EXPECT_TRUE(path_exists(dir.join(c.expected)));
    }
}

// An output taken before the batch, by an earlier movie of it, or while the
// engine wrote: skipped and left as it is, or numbered; never a failure.
TEST_F(Batch, TakenOutputsAreSkippedOrNumbered) {
    const std::string folder = dir.join("Velmora Output");
    const std::string user_file = "the first output, edited by the user";
    struct Case {
        const char* label;
        std::string existing;
        bool taken_before;
        bool taken_while_writing;
        std::string second_card;  // a second movie with the same output, when not empty
        std::vector<std::string> results;
        std::vector<std::string> files;
    };
    const std::string skipped_exists = R"({"id":"a","message":"Skipped: the output already exists.","output":")" +
                                       folder + R"(/clip_TC.mov","progress":0,"state":"skipped"})";
    // clang-format off
    const std::vector<Case> cases = {
        {"skip, existing", "skip", true, false, "", {skipped_exists}, {"clip_TC.mov"}},
        {"number, existing", "number", true, false, "", {"done:" + folder + "/clip_TC 2.mov"},
         {"clip_TC 2.mov", "clip_TC.mov"}},
        {"skip, taken while writing", "skip", false, true, "", {skipped_exists}, {"clip_TC.mov"}},
        {"number, taken while writing", "number", false, true, "", {"done:" + folder + "/clip_TC 2.mov"},
         {"clip_TC 2.mov", "clip_TC.mov"}},
        {"skip, same output in the batch", "skip", false, false, "other",
         {"done:" + folder + "/clip_TC.mov",
          R"({"id":"b","message":"Skipped: another movie of this batch has the same output.","output":")" + folder +
              R"(/clip_TC.mov","progress":0,"state":"skipped"})"},
         {"clip_TC.mov"}},
        {"number, same output in the batch", "number", false, false, "other",
         {"done:" + folder + "/clip_TC.mov", "done:" + folder + "/clip_TC 2.mov"}, {"clip_TC 2.mov", "clip_TC.mov"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(dir.path());
        std::filesystem::create_directories(dir.path());
        std::vector<std::string> ids = {"a"};
        std::map<std::string, std::string> timecodes = {{"a", "01:00:00:00"}};
        add_movie("a", "clip.mov");
        if (!c.second_card.empty()) {
            // The same name in another folder, both published beside the first.
            add_movie("b", c.second_card + "/clip.mov");
            ids.push_back("b");
            timecodes["b"] = "01:00:00:00";
        }
        const nlohmann::json options = {
            {"copy", true}, {"existing", c.existing}, {"destination", folder}, {"retain", false}};
        if (c.taken_before) {
            std::filesystem::create_directories(folder);
            write_file(folder + "/clip_TC.mov", user_file);
        }
        on_event = [&](const nlohmann::json& payload) {
            if (c.taken_while_writing && payload.value("progress", nlohmann::json(0)) == 0.25) {
                write_file(folder + "/clip_TC.mov", user_file);
            }
        };
        const auto reply = run(ids, timecodes, options);
        on_event = nullptr;
        ASSERT_TRUE(reply.has_value()) << reply.error();
        const auto& results = reply->at("results");
        ASSERT_EQ(results.size(), c.results.size()) << reply->dump();
        for (std::size_t i = 0; i < results.size(); ++i) {
            if (c.results[i].starts_with("done:")) {
                EXPECT_EQ(results[i].at("state"), "done") << results[i].dump();
                EXPECT_EQ(results[i].value("output", ""), c.results[i].substr(5));
            } else {
                EXPECT_EQ(results[i].dump(), c.results[i]);
            }
        }
        EXPECT_EQ(list_folder(folder), c.files);
        if (c.taken_before || c.taken_while_writing) {
            EXPECT_EQ(read_file(folder + "/clip_TC.mov"), user_file);
        }
    }
}

TEST_F(Batch, FailuresBeforeTheEngineRuns) {
    struct Case {
        const char* label;
        nlohmann::json options;
        std::string message;
    };
    const std::string prefix_message = "Use a filename prefix without special characters (up to 100 characters).";
    const std::vector<Case> cases = {
        {"prefix with a colon", {{"copy", true}, {"rename", true}, {"prefix", "a:b"}}, prefix_message},
        {"prefix with a tab", {{"copy", true}, {"rename", true}, {"prefix", "a\tb"}}, prefix_message},
        {"output would be the source",
         {{"copy", true}, {"rename", true}, {"prefix", ""}, {"destination", dir.path()}, {"number", false}},
         "Output would overwrite the source."},
        {"destination with a NUL byte",
         {{"copy", true}, {"destination", std::string("/tmp/out\0side", 13)}},
         "Invalid path: it contains a NUL byte."},
        {"destination through a link to the source folder",
         {{"copy", true}, {"rename", true}, {"prefix", " "}, {"destination", dir.join("link")}},
         "Output would overwrite the source."},
    };
    std::filesystem::create_directory_symlink(dir.path(), dir.join("link"));
    add_movie("a", "a.mov");
    add_movie("b", "b.mov");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        events.clear();
        const auto reply = run({"a", "b"}, {{"a", "01:00:00:00"}, {"b", "01:00:00:00"}}, c.options);
        ASSERT_TRUE(reply.has_value()) << reply.error();
        ASSERT_EQ(reply->at("results").size(), 2u);
        for (const auto& record : reply->at("results")) {
            EXPECT_EQ(record.at("state"), "error");
            EXPECT_EQ(record.at("error"), c.message);
        }
        EXPECT_EQ(events.size(), 4u);  // start and final record of each movie
    }
    EXPECT_TRUE(engine_calls().empty());
    EXPECT_EQ(read_file(dir.join("a.mov")), "source bytes of a");
}

TEST_F(Batch, InPlaceKeepsTheOriginalAsBackup) {
    const std::string source = add_movie("a", "clip.mov");
    const auto reply = run({"a"}, {{"a", "01:00:00:00"}}, {{"copy", false}});
    ASSERT_TRUE(reply.has_value()) << reply.error();
    const auto& record = reply->at("results").at(0);
    ASSERT_EQ(record.at("state"), "done") << record.dump();
    EXPECT_EQ(record.at("output"), source);
    const std::string backup = record.at("backup");
    EXPECT_EQ(backup.rfind(source + ".velmora-backup-", 0), 0u) << backup;
    EXPECT_EQ(read_file(backup), "source bytes of a");
    EXPECT_EQ(read_file(source), "source bytes of a");  // the fake engine's copy
    EXPECT_EQ(list_folder(dir.path()).size(), 2u) << "no temporary file left";
    EXPECT_TRUE(is_published_output(state, source));
    EXPECT_FALSE(is_published_output(state, backup));
}

TEST_F(Batch, SourceChangedOrGoneSinceImport) {
    const std::string touched = add_movie("touched", "touched.mov");
    const std::string grown = add_movie("grown", "grown.mov");
    const std::string gone = add_movie("gone", "gone.mov");
    const struct timeval times[2] = {{1000000000, 0}, {1000000000, 0}};
    ::utimes(touched.c_str(), times);
    write_file(grown, "source bytes of grown, and more");
    ::unlink(gone.c_str());
    const auto reply = run({"touched", "grown", "gone"},
                           {{"touched", "01:00:00:00"}, {"grown", "01:00:00:00"}, {"gone", "01:00:00:00"}}, new_file);
    ASSERT_TRUE(reply.has_value()) << reply.error();
    const auto& results = reply->at("results");
    EXPECT_EQ(results.at(0).at("error"), changed_message);
    EXPECT_EQ(results.at(1).at("error"), changed_message);
    EXPECT_EQ(results.at(2).at("error"), "No such file or directory (os error 2)");
    EXPECT_TRUE(engine_calls().empty());
    EXPECT_FALSE(path_exists(dir.join("Velmora Output")));
}

TEST_F(Batch, CancelDuringTheWriteStopsTheBatch) {
    add_movie("a", "a.mov");
    add_movie("b", "b.mov");
    switch_on("write_sleeps");
    on_event = [&](const nlohmann::json& payload) {
        if (payload.at("progress") == 0.5) state.cancel = true;
    };
    const auto started = std::chrono::steady_clock::now();
    const auto reply = run({"a", "b"}, {{"a", "01:00:00:00"}, {"b", "01:00:00:00"}}, new_file);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << "the engine was not stopped";
    ASSERT_TRUE(reply.has_value()) << reply.error();
    EXPECT_EQ(reply->dump(),
              R"({"cancelled":true,"results":[{"error":"Cancelled.","id":"a","progress":0,"state":"error"}]})");
    for (const auto& e : events) EXPECT_EQ(e.at("id"), "a") << "no event for the movie after the cancel";
    EXPECT_TRUE(list_folder(dir.join("Velmora Output")).empty()) << "the temporary file is gone";
    EXPECT_FALSE(state.busy.load());
}

TEST_F(Batch, VerificationFailuresPublishNothing) {
    struct Case {
        const char* label;
        std::string report;
        std::string message;
    };
    const std::string timecode_message = "Output timecode verification failed. Source has been preserved.";
    const std::string streams_message = "Output stream verification failed. Source has been preserved.";
    const std::string audio = R"({"tag":"sowt","trackId":2,"type":"audio"})";
    const std::string video = R"({"tag":"avc1","trackId":1,"type":"video"})";
    const std::string tmcd = R"({"tag":"tmcd","trackId":3,"type":"data"})";
    const std::vector<Case> cases = {
        {"two timecode tracks",
         R"({"streams":[)" + video + "," + audio + "," + tmcd + "," + tmcd + R"(],"timecode":"01:00:00:00"})",
         timecode_message},
        {"no timecode track", R"({"streams":[)" + video + "," + audio + R"(],"timecode":"01:00:00:00"})",
         timecode_message},
        {"another timecode", R"({"streams":[)" + video + "," + audio + "," + tmcd + R"(],"timecode":"01:00:00;00"})",
         timecode_message},
        {"a stream missing", R"({"streams":[)" + video + "," + tmcd + R"(],"timecode":"01:00:00:00"})",
         streams_message},
        {"no streams", R"({"timecode":"01:00:00:00"})", "Missing verified streams"},
        {"not a report", R"([1,2])", "Missing verified streams"},
        {"unreadable", "{", ""},  // the parser's own text, checked below
    };
    const std::string source = add_movie("a", "a.mov");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        write_file(engine.bin_path() + "/report.json", c.report);
        const auto reply = run({"a"}, {{"a", "01:00:00:00"}}, new_file);
        ASSERT_TRUE(reply.has_value()) << reply.error();
        const auto& record = reply->at("results").at(0);
        EXPECT_EQ(record.at("state"), "error");
        if (!c.message.empty())
            EXPECT_EQ(record.at("error"), c.message);
        else
            EXPECT_NE(record.at("error").get<std::string>().find(" at line 1 column "), std::string::npos);
        EXPECT_TRUE(list_folder(dir.join("Velmora Output")).empty());
        EXPECT_EQ(read_file(source), "source bytes of a");
        EXPECT_FALSE(is_published_output(state, dir.join("Velmora Output/a_TC.mov")));
    }
}

// A reel goes to the engine as its last argument and must come back in the
// written file's report; without one the engine gets no such argument and
// the report must carry none.
TEST_F(Batch, ReelsReachTheEngineAndAreVerified) {
    struct Case {
        const char* label;
        std::map<std::string, std::string> reels;
        nlohmann::json written_reel;  // the re-probe's "reel"; null: absent
        std::string arguments_after_timecode;
        std::string error;  // "" when done
    };
    const std::string timecode_message = "Output timecode verification failed. Source has been preserved.";
    // clang-format off
    const std::vector<Case> cases = {
        {"no reels", {}, nullptr, "", ""},
        {"a reel", {{"a", "A001"}}, "A001", " A001", ""},
        {"a reel with spaces", {{"a", "Card 7 \"B\""}}, "Card 7 \"B\"", " Card 7 \"B\"", ""},
        {"an empty reel is none", {{"a", ""}}, nullptr, "", ""},
        {"a reel for another movie", {{"b", "A001"}}, nullptr, "", ""},
        {"reel asked, none written", {{"a", "A001"}}, nullptr, " A001", timecode_message},
        {"another reel written", {{"a", "A001"}}, "A002", " A001", timecode_message},
        {"a reel written unasked", {}, "A001", "", timecode_message},
        {"the engine refuses the reel", {{"a", "bad reel"}}, nullptr, " bad reel", "Invalid reel name"},
    };
    // clang-format on
    add_movie("a", "a.mov");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(dir.join("Velmora Output"));
        std::filesystem::remove(engine.bin_path() + "/calls.log");
        nlohmann::json report = nlohmann::json::parse(good_report);
        if (!c.written_reel.is_null()) report["reel"] = c.written_reel;
        write_file(engine.bin_path() + "/report.json", report.dump());

        const auto reply = run({"a"}, {{"a", "01:00:00:00"}}, new_file, c.reels);
        ASSERT_TRUE(reply.has_value()) << reply.error();
        const auto& record = reply->at("results").at(0);
        if (c.error.empty()) {
            EXPECT_EQ(record.at("state"), "done") << record.dump();
        } else {
            EXPECT_EQ(record.at("error"), c.error);
            EXPECT_TRUE(list_folder(dir.join("Velmora Output")).empty());
        }
        const std::vector<std::string> calls = engine_calls();
        ASSERT_FALSE(calls.empty());
        EXPECT_TRUE(calls[0].starts_with("write ")) << calls[0];
        EXPECT_TRUE(calls[0].ends_with(" 01:00:00:00" + c.arguments_after_timecode)) << calls[0];
    }
    // A NUL byte cannot reach the engine's command line.
    std::filesystem::remove(engine.bin_path() + "/calls.log");
    const auto reply = run({"a"}, {{"a", "01:00:00:00"}}, new_file, {{"a", std::string("A\0B", 3)}});
    ASSERT_TRUE(reply.has_value()) << reply.error();
    EXPECT_EQ(reply->at("results").at(0).at("error"), "Invalid reel name");
    EXPECT_TRUE(engine_calls().empty());
}

TEST_F(Batch, AFailedMovieDoesNotStopTheBatch) {
    add_movie("a", "a.mov");
    add_movie("b", "b.mov");
    switch_on("write_fails");
    on_event = [&](const nlohmann::json& payload) {
        if (payload.contains("error")) std::filesystem::remove(engine.bin_path() + "/write_fails");
    };
    const auto reply = run({"a", "b"}, {{"a", "01:00:00:00"}, {"b", "01:00:00:00"}}, new_file);
    ASSERT_TRUE(reply.has_value()) << reply.error();
    EXPECT_EQ(reply->at("results").at(0).at("error"), "Unsupported frame rate");
    EXPECT_EQ(reply->at("results").at(1).at("state"), "done");
    EXPECT_EQ(list_folder(dir.join("Velmora Output")), std::vector<std::string>{"b_TC.mov"});
}

struct Dates {
    struct timespec accessed;
    struct timespec modified;
};

Dates dates_of(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return {info.st_atim, info.st_mtim};
}

void expect_same_dates(const Dates& got, const Dates& expected, const std::string& what) {
    EXPECT_EQ(got.modified.tv_sec, expected.modified.tv_sec) << what;
    EXPECT_EQ(got.modified.tv_nsec, expected.modified.tv_nsec) << what;
    EXPECT_EQ(got.accessed.tv_sec, expected.accessed.tv_sec) << what;
    EXPECT_EQ(got.accessed.tv_nsec, expected.accessed.tv_nsec) << what;
}

TEST_F(Batch, PublishedFilesKeepTheSourcesDatesToTheNanosecond) {
    struct Case {
        const char* label;
        nlohmann::json options;
    };
    for (const Case& c : {Case{"new file", new_file}, Case{"in place", {{"copy", false}}}}) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(dir.path());
        std::filesystem::create_directories(dir.path());
        const std::string source = add_movie("a", "clip.mov");
        const struct timespec times[2] = {{1583020900, 123456789}, {1583020800, 987654321}};
        ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
        {
            std::lock_guard lock(state.movie_store_mutex);
            state.movie_store["a"].modified_seconds = times[1].tv_sec;
            state.movie_store["a"].modified_nanoseconds = times[1].tv_nsec;
        }
        const auto reply = run({"a"}, {{"a", "01:00:00:00"}}, c.options);
        ASSERT_TRUE(reply.has_value()) << reply.error();
        const auto& record = reply->at("results").at(0);
        ASSERT_EQ(record.at("state"), "done") << record.dump();
        const std::string original = record.at("backup").is_string() ? record.at("backup").get<std::string>() : source;
        // The engine's read may move the source's access time (relatime);
        // the published file gets the one from before that read.
        const Dates source_now = dates_of(original);
        EXPECT_EQ(source_now.modified.tv_sec, times[1].tv_sec);
        EXPECT_EQ(source_now.modified.tv_nsec, times[1].tv_nsec);
        expect_same_dates(dates_of(record.at("output")), {times[0], times[1]}, "the published file");
    }
}

// Restore swaps the names back; every refusal leaves both files as they were.
class Restore : public Batch {
protected:
    // "a" published in place; returns {path, backup}.
    std::pair<std::string, std::string> stamp(const std::string& id = "a", const std::string& name = "clip.mov") {
        const std::string source = add_movie(id, name);
        write_file(engine.bin_path() + "/stamp", "");
        const auto reply = run({id}, {{id, "01:00:00:00"}}, {{"copy", false}});
        EXPECT_TRUE(reply.has_value());
        const auto& record = reply->at("results").at(0);
        EXPECT_EQ(record.at("state"), "done") << record.dump();
        return {source, record.value("backup", std::string())};
    }

    std::map<std::string, std::string> folder_contents() const {
        std::map<std::string, std::string> contents;
        for (const auto& name : list_folder(dir.path()))
            contents[name] = read_file(dir.join(name)).value_or("<unreadable>");
        return contents;
    }
};

TEST_F(Restore, TheOriginalComesBackAndTheStampedCopyStays) {
    const auto [path, backup] = stamp();
    const std::string stamped = read_file(path).value();
    const std::string original = read_file(backup).value();
    MovieRecord as_imported;
    {
        // An import since the batch gave the id the stamped movie's record.
        std::lock_guard lock(state.movie_store_mutex);
        as_imported = state.movie_store.at("a");
        state.movie_store.at("a").size = stamped.size();
        state.movie_store.at("a").record["size"] = stamped.size();
    }
    const auto reply = restore_original(state, {{"id", "a"}});
    ASSERT_TRUE(reply.has_value()) << reply.error();
    EXPECT_EQ(*reply,
              (nlohmann::json{{"backup", backup}, {"id", "a"}, {"path", path}, {"record", as_imported.record}}));
    {
        std::lock_guard lock(state.movie_store_mutex);
        EXPECT_EQ(state.movie_store.at("a").size, as_imported.size);
        EXPECT_EQ(state.movie_store.at("a").record, as_imported.record);
    }
    EXPECT_EQ(read_file(path), original);
    EXPECT_EQ(read_file(backup), stamped);
    EXPECT_EQ(list_folder(dir.path()).size(), 2u) << "nothing left under a hidden name";

    const auto again = restore_original(state, {{"id", "a"}});
    ASSERT_FALSE(again.has_value());
    EXPECT_EQ(again.error(), "This movie has no backup to restore. Nothing was changed.");
    EXPECT_EQ(read_file(path), original);
}

TEST_F(Restore, RefusalsChangeNothing) {
    const std::string not_in_place = "This movie has no backup to restore. Nothing was changed.";
    // What an import after a relaunch would have listed beside "n".
    const auto list_for_n = [this](const nlohmann::json& backups) {
        std::lock_guard lock(state.movie_store_mutex);
        state.movie_store.at("n").record["backups"] = backups;
    };
    struct Case {
        const char* label;
        std::function<void(const std::string& path, const std::string& backup)> disturb;
        nlohmann::json args;
        std::function<std::string(const std::string& path, const std::string& backup)> message;
    };
    const nlohmann::json id_a = {{"id", "a"}};
    // clang-format off
    const std::vector<Case> cases = {
        {"unknown id", nullptr, {{"id", "zz"}}, [](auto&, auto&) { return std::string("Unknown movie. Import it again."); }},
        {"id not a string", nullptr, {{"id", 7}},
         [](auto&, auto&) { return std::string("invalid type: integer `7`, expected a string"); }},
        {"no id", nullptr, nlohmann::json::object(),
         [](auto&, auto&) { return std::string("invalid type: null, expected a string"); }},
        {"imported, processed as a new file", nullptr, {{"id", "n"}}, [&](auto&, auto&) { return std::string(not_in_place); }},
        {"listed backups, none the original",
         [&](auto&, auto& backup) {
             list_for_n({{{"original", false}, {"path", backup}, {"reason", "Why not."}, {"size", 1}},
                         {{"original", false}, {"path", backup + "x"}, {"reason", "Nor this."}, {"size", 1}}});
         },
         {{"id", "n"}}, [](auto&, auto&) { return std::string("Why not. Nothing was changed."); }},
        {"the listed original fails the full check",
         [&](auto&, auto& backup) { list_for_n({{{"original", true}, {"path", backup}, {"size", 1}}}); }, {{"id", "n"}},
         [](auto&, auto&) { return std::string("The backup does not hold exactly one movie atom. Nothing was changed."); }},
        {"listed, but the movie touched since the import",
         [&](auto&, auto& backup) {
             list_for_n({{{"original", true}, {"path", backup}, {"size", 1}}});
             std::lock_guard lock(state.movie_store_mutex);
             state.movie_store.at("n").modified_seconds += 1;
         },
         {{"id", "n"}},
         [this](auto&, auto&) {
             return "The stamped movie changed since the import: " + dir.join("new.mov") + ". Nothing was changed.";
         }},
        {"stamped movie missing", [](auto& path, auto&) { std::filesystem::rename(path, path + ".moved"); }, id_a,
         [](auto& path, auto&) { return "The stamped movie is missing: " + path + ". Nothing was changed."; }},
        {"backup missing", [](auto&, auto& backup) { std::filesystem::rename(backup, backup + ".moved"); }, id_a,
         [](auto&, auto& backup) {
             return "The backup of the original is missing: " + backup + ". Nothing was changed.";
         }},
        {"stamped movie touched",
         [](auto& path, auto&) {
             const struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 1}};
             ::utimensat(AT_FDCWD, path.c_str(), times, 0);
         },
         id_a,
         [](auto& path, auto&) { return "The stamped movie changed since the batch: " + path + ". Nothing was changed."; }},
        {"backup grew, same date",
         [](auto&, auto& backup) {
             struct stat before {};
             ::stat(backup.c_str(), &before);
             write_file(backup, "source bytes of a, edited");
             const struct timespec keep[2] = {{0, UTIME_OMIT}, before.st_mtim};
             ::utimensat(AT_FDCWD, backup.c_str(), keep, 0);
         },
         id_a,
         [](auto&, auto& backup) {
             return "The backup of the original changed since the batch: " + backup + ". Nothing was changed.";
         }},
        {"a batch is running", [this](auto&, auto&) { state.busy = true; }, id_a,
         [](auto&, auto&) { return std::string("Wait for the current batch to finish."); }},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(dir.path());
        std::filesystem::create_directories(dir.path());
        state.busy = false;
        add_movie("n", "new.mov");
        ASSERT_TRUE(run({"n"}, {{"n", "01:00:00:00"}}, new_file).has_value());
        std::filesystem::remove_all(dir.join("Velmora Output"));
        const auto [path, backup] = stamp();
        if (c.disturb) c.disturb(path, backup);
        const auto before = folder_contents();
        const auto reply = restore_original(state, c.args);
        ASSERT_FALSE(reply.has_value());
        EXPECT_EQ(reply.error(), c.message(path, backup));
        EXPECT_EQ(folder_contents(), before);
    }
    state.busy = false;
}

struct ExchangeScript {
    int exchange_error = EINVAL;    // the file system cannot swap
    std::set<int> failing_renames;  // 1-based numbers of the no-replace renames that fail
    int renames = 0;
};

ExchangeCalls scripted_calls(ExchangeScript& script) {
    const ExchangeCalls real = system_exchange_calls();
    ExchangeCalls calls;
    calls.exchange = [&script](const std::string&, const std::string&) { return script.exchange_error; };
    calls.rename_no_replace = [&script, real](const std::string& from, const std::string& to) {
        ++script.renames;
        return script.failing_renames.contains(script.renames) ? EIO : real.rename_no_replace(from, to);
    };
    return calls;
}

TEST_F(Restore, WithoutAnAtomicSwapThreeRenamesAndTheirUndo) {
    struct Case {
        const char* label;
        int exchange_error;
        std::set<int> failing;
        bool swapped;
        std::string message;  // "" when swapped; the hidden name is checked by its prefix
    };
    const std::string eio = "Input/output error (os error 5)";
    const std::vector<Case> cases = {
        {"swap unsupported (EINVAL): renames", EINVAL, {}, true, ""},
        {"no renameat2 flag (ENOSYS): renames", ENOSYS, {}, true, ""},
        {"the swap fails otherwise: nothing else tried", EIO, {}, false, eio + " Nothing was changed."},
        {"first rename fails", EINVAL, {1}, false, eio + " Nothing was changed."},
        {"second rename fails, undone", EINVAL, {2}, false, eio + " Nothing was changed."},
        {"third rename fails, undone", EINVAL, {3}, false, eio + " Nothing was changed."},
        {"second rename and its undo fail",
         EINVAL,
         {2, 3},
         false,
         eio + "; undo failed: " + eio + ". The original is at "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(dir.path());
        std::filesystem::create_directories(dir.path());
        const std::string path = dir.join("clip.mov");
        const std::string backup = path + ".velmora-backup-1-2-3";
        write_file(path, "stamped");
        write_file(backup, "original");
        ExchangeScript script{c.exchange_error, c.failing, 0};
        const Status swapped = exchange_files(path, backup, scripted_calls(script));
        EXPECT_EQ(swapped.has_value(), c.swapped);
        if (c.swapped) {
            EXPECT_EQ(read_file(path), "original");
            EXPECT_EQ(read_file(backup), "stamped");
            EXPECT_EQ(list_folder(dir.path()).size(), 2u);
            continue;
        }
        ASSERT_FALSE(swapped.has_value());
        if (c.failing.size() < 2) {
            EXPECT_EQ(swapped.error(), c.message);
            EXPECT_EQ(read_file(path), "stamped");
            EXPECT_EQ(read_file(backup), "original");
            EXPECT_EQ(list_folder(dir.path()).size(), 2u);
        } else {
            // The original is still at the backup's name, the stamped movie
            // under the hidden name that the message gives.
            EXPECT_EQ(
                swapped.error().rfind(c.message + backup + " and the stamped movie at " + dir.path() + "/.velmora-", 0),
                0u)
                << swapped.error();
            EXPECT_EQ(read_file(backup), "original");
            const std::string hidden = swapped.error().substr(swapped.error().rfind(" at ") + 4);
            EXPECT_EQ(read_file(hidden.substr(0, hidden.size() - 1)), "stamped");
        }
    }
}

// The real program, killed at a different moment of each restore: both
// files always keep a name, one under each.
TEST(RestoreService, KillDuringRestoreLosesNeitherFile) {
    ResourcesDir engine = ResourcesDir::with_engine_script(fake_engine);
    write_file(engine.bin_path() + "/report.json", good_report);
    write_file(engine.bin_path() + "/stamp", "");
    TempDir dir{"velmora-restore-kill"};
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        const std::string source = dir.join("clip" + std::to_string(round) + ".mov");
        write_file(source, "source bytes");
        testing::BackendOptions options;
        options.resources = engine.path();
        testing::Backend backend(options);
        const auto imported = backend.call("import_movies", {{"paths", {source}}});
        ASSERT_TRUE(imported.has_value());
        const std::string id = imported->at("result").at("files").at(0).at("id");
        const auto processed = backend.call(
            "process_movies", {{"ids", {id}}, {"timecodes", {{id, "01:00:00:00"}}}, {"options", {{"copy", false}}}});
        ASSERT_TRUE(processed.has_value());
        const auto& record = processed->at("result").at("results").at(0);
        ASSERT_EQ(record.at("state"), "done") << record.dump();
        const std::string backup = record.at("backup");

        ASSERT_TRUE(backend.send({{"args", {{"id", id}}}, {"command", "restore"}, {"id", "r"}}));
        std::this_thread::sleep_for(std::chrono::microseconds(round * 150));
        ::kill(backend.pid(), SIGKILL);
        ASSERT_TRUE(backend.wait_exit().has_value());

        const auto at_source = read_file(source);
        const auto at_backup = read_file(backup);
        ASSERT_TRUE(at_source && at_backup);
        EXPECT_TRUE((*at_source == "source bytes" && *at_backup == "source bytes stamped") ||
                    (*at_source == "source bytes stamped" && *at_backup == "source bytes"))
            << *at_source << " / " << *at_backup;
    }
    for (const auto& name : list_folder(dir.path())) EXPECT_FALSE(name.starts_with(".velmora-")) << name;
}

TEST(StreamSignatures, OneTextPerNonTimecodeStreamSorted) {
    const auto report = nlohmann::json::parse(R"({"streams":[
        {"tag":"sowt","trackId":2,"type":"audio"},
        {"tag":"tmcd","trackId":9,"type":"data"},
        {"tag":"avc1","trackId":1,"type":"video"},
        {"type":"data"},
        {"tag":5,"trackId":"x","type":null},
        7,
        {"tag":"TMCD","trackId":4,"type":"data"}]})");
    EXPECT_EQ(stream_signatures(report), (std::vector<std::string>{"\"x\"::", "1:video:avc1", "2:audio:sowt",
                                                                   "4:data:TMCD", "null::", "null:data:"}));
    EXPECT_TRUE(stream_signatures(nlohmann::json::parse(R"({"streams":{}})")).empty());
    EXPECT_TRUE(stream_signatures(nullptr).empty());
}

TEST(StreamSignatures, VerificationComparesTheSortedLists) {
    const auto source = nlohmann::json::parse(R"({"streams":[
        {"tag":"sowt","trackId":2,"type":"audio"},{"tag":"avc1","trackId":1,"type":"video"},
        {"tag":"tmcd","trackId":3,"type":"data"}]})");
    struct Case {
        const char* label;
        std::string streams;
        bool accepted;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"same, other order, new tmcd id", R"([{"tag":"tmcd","trackId":4},{"tag":"avc1","trackId":1,"type":"video"},
          {"tag":"sowt","trackId":2,"type":"audio"}])", true},
        {"track id changed", R"([{"tag":"tmcd"},{"tag":"avc1","trackId":5,"type":"video"},
          {"tag":"sowt","trackId":2,"type":"audio"}])", false},
        {"extra stream", R"([{"tag":"tmcd"},{"tag":"avc1","trackId":1,"type":"video"},
          {"tag":"sowt","trackId":2,"type":"audio"},{"tag":"sowt","trackId":2,"type":"audio"}])", false},
        {"type changed", R"([{"tag":"tmcd"},{"tag":"avc1","trackId":1,"type":"data"},
          {"tag":"sowt","trackId":2,"type":"audio"}])", false},
    };
    // clang-format on
    for (const Case& c : cases) {
        const auto report = nlohmann::json{{"streams", nlohmann::json::parse(c.streams)}, {"timecode", "10:00:00:00"}};
        const Status verified = verify_written_report(report, "10:00:00:00", source);
        EXPECT_EQ(verified.has_value(), c.accepted) << c.label;
        if (!c.accepted) {
            EXPECT_EQ(verified.error(), "Output stream verification failed. Source has been preserved.") << c.label;
        }
    }
    // The timecode compares byte for byte.
    const auto report =
        nlohmann::json{{"streams", nlohmann::json::parse(cases[0].streams)}, {"timecode", "10:00:00:00"}};
    EXPECT_FALSE(verify_written_report(report, "10:00:00;00", source).has_value());
    EXPECT_FALSE(verify_written_report(report, "10:00:00:00 ", source).has_value());
}

}  // namespace
}  // namespace velmora
