// Batches through the real backend and the real engine on movies made by
// ffmpeg, with the fake openers on PATH for "reveal".

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>

#include "peers.h"
#include "support/backend_harness.h"
#include "support/fake_openers.h"
#include "support/movie_fixtures.h"
#include "utf8.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using testing::Backend;
using testing::BackendOptions;
using testing::FakeOpeners;
using testing::file_digest;
using testing::list_folder;
using testing::path_exists;
using testing::ResourcesDir;
using testing::TempDir;

// Requests sent while others are outstanding: replies and events are sorted
// out here, by id, as the shell does.
class Wire {
public:
    explicit Wire(Backend& backend) : backend_(backend) {}

    void send(int id, const std::string& command, const nlohmann::json& args = nlohmann::json::object()) {
        ASSERT_TRUE(backend_.send({{"id", id}, {"command", command}, {"args", args}}));
    }

    // Reads until the reply for `id` is in; events and other replies are kept.
    nlohmann::json reply(int id, std::chrono::milliseconds limit = 60s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!replies_.contains(id)) {
            if (!read_one(deadline)) return nullptr;
        }
        return replies_.at(id);
    }

    // Reads until an event matches.
    bool wait_for_event(const std::function<bool(const nlohmann::json&)>& match,
                        std::chrono::milliseconds limit = 60s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (std::size_t seen = 0;; ++seen) {
            while (seen >= events_.size()) {
                if (!read_one(deadline)) return false;
            }
            if (match(events_[seen])) return true;
        }
    }

    const std::vector<nlohmann::json>& events() const { return events_; }

private:
    bool read_one(std::chrono::steady_clock::time_point deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) return false;
        auto message = backend_.read_message(left);
        if (!message) return false;
        if (message->contains("event")) {
            EXPECT_EQ(message->at("event"), "progress");
            events_.push_back(message->at("payload"));
        } else {
            replies_[message->at("id").get<int>()] = *message;
        }
        return true;
    }

    Backend& backend_;
    std::vector<nlohmann::json> events_;
    std::map<int, nlohmann::json> replies_;
};

class ProcessingInterop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (testing::engine_program().empty() || testing::missing_programs({"ffmpeg"})) return;
        movies_ = std::make_unique<TempDir>("velmora-movies");
        testing::make_small_movie(movies_->join("small.mov"));
        testing::make_medium_movie(movies_->join("medium.mov"));
    }
    static void TearDownTestSuite() { movies_.reset(); }

    void SetUp() override {
        VELMORA_REQUIRE_PROGRAMS("ffmpeg");
        if (movies_ == nullptr) GTEST_SKIP() << "needs the engine and ffmpeg";
        BackendOptions options;
        options.resources = resources.path();
        options.environment = fakes.environment();
        backend = std::make_unique<Backend>(options);
    }

    std::string copy_movie(const std::string& relative, const std::string& fixture = "small.mov") {
        std::string path = dir.join(relative);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::filesystem::copy_file(movies_->join(fixture), path);
        return path;
    }

    void restart_backend() {
        BackendOptions options;
        options.resources = resources.path();
        options.environment = fakes.environment();
        backend = std::make_unique<Backend>(options);  // the earlier process is killed
    }

    std::string error_of(const std::string& command, const nlohmann::json& args) {
        const auto reply = backend->call(command, args, 60s);
        if (!reply) return "<no reply>";
        return reply->value("error", "<no error: " + reply->dump() + ">");
    }

    // Imports the paths and returns the ids in import order.
    std::vector<std::string> import(const std::vector<std::string>& paths) {
        const auto reply = backend->call("import_movies", {{"paths", paths}, {"recursive", true}});
        EXPECT_TRUE(reply.has_value());
        std::vector<std::string> ids;
        if (!reply) return ids;
        EXPECT_TRUE(reply->contains("result")) << reply->dump();
        for (const auto& error :
             reply->value("result", nlohmann::json::object()).value("errors", nlohmann::json::array())) {
            ADD_FAILURE() << "import error: " << error.dump();
        }
        last_imported = reply->at("result").at("files");
        for (const auto& file : last_imported) ids.push_back(file.at("id"));
        return ids;
    }

    nlohmann::json process(const std::vector<std::string>& ids, const std::string& timecode,
                           const nlohmann::json& options) {
        nlohmann::json timecodes = nlohmann::json::object();
        for (const auto& id : ids) timecodes[id] = timecode;
        const auto reply =
            backend->call("process_movies", {{"ids", ids}, {"timecodes", timecodes}, {"options", options}}, 60s);
        EXPECT_TRUE(reply.has_value());
        return reply.value_or(nullptr);
    }

    std::string probe_timecode(const std::string& path) {
        auto report = backend->call("import_movies", {{"paths", {path}}});
        if (!report || !report->contains("result") || report->at("result").at("files").empty()) return "<none>";
        return report->at("result").at("files").at(0).value("timecode", nlohmann::json(nullptr)).dump();
    }

    static inline std::unique_ptr<TempDir> movies_;
    ResourcesDir resources = ResourcesDir::with_real_engine();
    FakeOpeners fakes;
    TempDir dir{"velmora-interop"};
    std::unique_ptr<Backend> backend;
    nlohmann::json last_imported;  // the records of the last import
};

TEST_F(ProcessingInterop, BatchLevelRefusalsOnTheWire) {
    const auto ids = import({copy_movie("a.mov")});
    ASSERT_EQ(ids.size(), 1u);
    struct Case {
        const char* label;
        nlohmann::json args;
        std::string reply;
    };
    const std::string& id = ids[0];
    // clang-format off
    const std::vector<Case> cases = {
        {"empty list", {{"ids", nlohmann::json::array()}, {"timecodes", nlohmann::json::object()}},
         R"({"id":ID,"result":{"cancelled":false,"results":[]}})"},
        {"unknown id", {{"ids", {"1-2-3"}}, {"timecodes", {{"1-2-3", "01:00:00:00"}}}},
         R"({"error":"Import files before processing.","id":ID})"},
        {"duplicate id", {{"ids", {id, id}}, {"timecodes", {{id, "01:00:00:00"}}}},
         R"({"error":"Invalid file list or timecode settings.","id":ID})"},
        {"missing timecode", {{"ids", {id}}, {"timecodes", nlohmann::json::object()}},
         R"({"error":"Invalid file list or timecode settings.","id":ID})"},
        {"ids missing", {{"timecodes", nlohmann::json::object()}},
         R"({"error":"invalid type: null, expected a sequence","id":ID})"},
    };
    // clang-format on
    for (const Case& c : cases) {
        const auto reply = backend->call("process_movies", c.args);
        ASSERT_TRUE(reply.has_value()) << c.label;
        std::string expected = c.reply;
        expected.replace(expected.find("ID"), 2, reply->at("id").dump());
        EXPECT_EQ(reply->dump(), expected) << c.label;
    }
    EXPECT_TRUE(backend->events().empty());
    EXPECT_EQ(list_folder(dir.path()), std::vector<std::string>{"a.mov"});
}

TEST_F(ProcessingInterop, DefaultNameEventsAndASecondBatchSkippedOrNumbered) {
    const std::string source = copy_movie("card/clip.mov");
    const auto before = file_digest(source);
    const auto ids = import({dir.join("card")});
    ASSERT_EQ(ids.size(), 1u);

    const auto reply = process(ids, "10:00:00:00", {{"copy", true}});
    const std::string output = dir.join("card/Velmora Output/clip_TC.mov");
    ASSERT_EQ(reply.at("result").dump(), R"({"cancelled":false,"results":[{"backup":null,"id":")" + ids[0] +
                                             R"(","output":")" + output +
                                             R"(","progress":1,"state":"done","timecode":"10:00:00:00"}]})");

    // start 0, the engine's fractions, 1.0, then the record.
    std::vector<nlohmann::json> events;
    for (const auto& message : backend->events()) {
        EXPECT_EQ(message.at("event"), "progress");
        events.push_back(message.at("payload"));
    }
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events.front().dump(),
              R"({"id":")" + ids[0] + R"(","index":0,"progress":0,"state":"processing","total":1})");
    for (std::size_t i = 1; i + 2 < events.size(); ++i) {
        EXPECT_TRUE(events[i].at("progress").is_number_float()) << events[i].dump();
        EXPECT_GT(events[i].at("progress").get<double>(), 0.0);
        EXPECT_LE(events[i].at("progress").get<double>(), 1.0);
        EXPECT_GE(events[i].at("progress").get<double>(), events[i - 1].at("progress").get<double>());
    }
    EXPECT_EQ(events[events.size() - 2].dump(),
              R"({"id":")" + ids[0] + R"(","index":0,"progress":1.0,"state":"processing","total":1})");
    EXPECT_EQ(events.back().at("state"), "done");
    EXPECT_EQ(events.back().at("output"), output);

    EXPECT_EQ(file_digest(source), before);
    EXPECT_EQ(list_folder(dir.join("card/Velmora Output")), std::vector<std::string>{"clip_TC.mov"});
    EXPECT_EQ(probe_timecode(output), "\"10:00:00:00\"");

    // A second batch over the same card: the default skips what is there.
    const auto published = file_digest(output);
    const auto again = process(ids, "11:00:00:00", {{"copy", true}});
    EXPECT_EQ(again.at("result").at("results").dump(),
              R"([{"id":")" + ids[0] + R"(","message":"Skipped: the output already exists.","output":")" + output +
                  R"(","progress":0,"state":"skipped"}])");
    EXPECT_EQ(file_digest(output), published);
    EXPECT_EQ(list_folder(dir.join("card/Velmora Output")), std::vector<std::string>{"clip_TC.mov"});

    for (const char* expected : {"clip_TC 2.mov", "clip_TC 3.mov"}) {
        const auto numbered = process(ids, "12:00:00:00", {{"copy", true}, {"existing", "number"}});
        const auto& record = numbered.at("result").at("results").at(0);
        ASSERT_EQ(record.at("state"), "done") << record.dump();
        EXPECT_EQ(record.at("output"), dir.join("card/Velmora Output/") + expected);
        EXPECT_EQ(probe_timecode(record.at("output")), "\"12:00:00:00\"");
    }
    EXPECT_EQ(file_digest(output), published);
    EXPECT_EQ(list_folder(dir.join("card/Velmora Output")),
              (std::vector<std::string>{"clip_TC 2.mov", "clip_TC 3.mov", "clip_TC.mov"}));

    const auto exists = backend->call(
        "outputs_exist", {{"paths", {output, dir.join("card/Velmora Output/clip_TC 4.mov"), dir.join("card"), ""}}});
    ASSERT_TRUE(exists.has_value());
    EXPECT_EQ(exists->at("result").dump(), R"({"exists":[true,false,true,false]})");
    const auto refused = backend->call("outputs_exist", {{"paths", "x"}});
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->value("error", ""), "invalid type: string \"x\", expected a sequence");

    // Free when the page previews the batch, taken by the time it runs.
    const std::string late = dir.join("card/Velmora Output/clip-late.mov");
    const auto previewed = backend->call("outputs_exist", {{"paths", {late}}});
    ASSERT_TRUE(previewed.has_value());
    EXPECT_EQ(previewed->at("result").dump(), R"({"exists":[false]})");
    testing::write_file(late, "made meanwhile");
    const auto taken = process(ids, "13:00:00:00", {{"copy", true}, {"suffix", "-late"}});
    EXPECT_EQ(taken.at("result").at("results").dump(),
              R"([{"id":")" + ids[0] + R"(","message":"Skipped: the output already exists.","output":")" + late +
                  R"(","progress":0,"state":"skipped"}])");
    EXPECT_EQ(testing::read_file(late), "made meanwhile");
}

// A shoot day: two cards with the same layout and file names, and a phone
// clip given directly, through one batch below one destination.
TEST_F(ProcessingInterop, TwoCardsWithTheSameNamesThroughOneBatch) {
    copy_movie("A001/DCIM/100GOPRO/GX010001.MP4");
    copy_movie("A002/DCIM/100GOPRO/GX010001.MP4");
    const std::string phone = copy_movie("phone/IMG_0001.MOV");
    const std::string day = dir.join("day");
    struct Case {
        const char* label;
        nlohmann::json options;
        std::vector<std::string> outputs;  // "skipped: MESSAGE" where skipped
    };
    const std::string same = "skipped: Skipped: another movie of this batch has the same output.";
    // clang-format off
    const std::vector<Case> cases = {
        {"cards kept apart", {{"retain", true}},
         {day + "/A001/DCIM/100GOPRO/GX010001_TC.MP4", day + "/A002/DCIM/100GOPRO/GX010001_TC.MP4",
          day + "/IMG_0001_TC.MOV"}},
        {"flat, skip", {{"retain", false}, {"suffix", ""}},
         {day + "/GX010001.MP4", same, day + "/IMG_0001.MOV"}},
        {"flat, number", {{"retain", false}, {"suffix", "-x"}, {"existing", "number"}},
         {day + "/GX010001-x.MP4", day + "/GX010001-x 2.MP4", day + "/IMG_0001-x.MOV"}},
    };
    // clang-format on
    const auto ids = import({dir.join("A001"), dir.join("A002"), phone});
    ASSERT_EQ(ids.size(), 3u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        nlohmann::json options = c.options;
        options["copy"] = true;
        options["destination"] = day;
        const auto reply = process(ids, "01:00:00:00", options);
        const auto& results = reply.at("result").at("results");
        ASSERT_EQ(results.size(), c.outputs.size()) << reply.dump();
        for (std::size_t i = 0; i < results.size(); ++i) {
            if (c.outputs[i].starts_with("skipped: ")) {
                EXPECT_EQ(results[i].at("state"), "skipped") << results[i].dump();
                EXPECT_EQ(results[i].at("message"), c.outputs[i].substr(9));
                continue;
            }
            ASSERT_EQ(results[i].at("state"), "done") << results[i].dump();
            EXPECT_EQ(results[i].at("output"), c.outputs[i]);
            EXPECT_EQ(probe_timecode(c.outputs[i]), "\"01:00:00:00\"");
        }
    }
}

TEST_F(ProcessingInterop, PrefixNumberingAndABadPrefix) {
    copy_movie("in/c.mov");
    copy_movie("in/b.mov");
    copy_movie("in/a.mp4");
    const auto ids = import({dir.join("in/c.mov"), dir.join("in/b.mov"), dir.join("in/a.mp4")});
    ASSERT_EQ(ids.size(), 3u);
    const auto reply =
        process(ids, "01:00:00:00", {{"copy", true}, {"rename", true}, {"prefix", "Day1 "}, {"number", true}});
    for (const auto& record : reply.at("result").at("results")) EXPECT_EQ(record.at("state"), "done") << record.dump();
    EXPECT_EQ(list_folder(dir.join("in/Velmora Output")),
              (std::vector<std::string>{"Day1a_003.mp4", "Day1b_002.mov", "Day1c_001.mov"}));

    const auto bad = process(ids, "01:00:00:00", {{"copy", true}, {"rename", true}, {"prefix", "Day:1"}});
    for (const auto& record : bad.at("result").at("results")) {
        EXPECT_EQ(record.at("error"), "Use a filename prefix without special characters (up to 100 characters).");
    }
    EXPECT_EQ(list_folder(dir.join("in/Velmora Output")).size(), 3u);
}

TEST_F(ProcessingInterop, OutputWouldOverwriteTheSource) {
    copy_movie("a.mov");
    const auto ids = import({dir.join("a.mov")});
    ASSERT_EQ(ids.size(), 1u);
    const auto reply =
        process(ids, "01:00:00:00", {{"copy", true}, {"rename", true}, {"prefix", ""}, {"destination", dir.path()}});
    EXPECT_EQ(reply.at("result").at("results").at(0).at("error"), "Output would overwrite the source.");
    const auto empty_suffix =
        process(ids, "01:00:00:00", {{"copy", true}, {"suffix", ""}, {"destination", dir.path()}});
    EXPECT_EQ(empty_suffix.at("result").at("results").at(0).at("error"),
              "An empty suffix needs an output folder other than the movie's own folder.");
    EXPECT_EQ(list_folder(dir.path()), std::vector<std::string>{"a.mov"});
}

TEST_F(ProcessingInterop, InPlaceWithBackupAndReveal) {
    const std::string source = copy_movie("clip.mov");
    const auto original = file_digest(source);
    const auto ids = import({source});
    ASSERT_EQ(ids.size(), 1u);
    const auto reply = process(ids, "00:59:59:24", {{"copy", false}});
    const auto& record = reply.at("result").at("results").at(0);
    ASSERT_EQ(record.at("state"), "done") << record.dump();
    EXPECT_EQ(record.at("output"), source);
    const std::string backup = record.at("backup");
    EXPECT_EQ(backup.rfind(source + ".velmora-backup-", 0), 0u);
    EXPECT_EQ(file_digest(backup), original);
    EXPECT_EQ(probe_timecode(source), "\"00:59:59:24\"");
    EXPECT_EQ(list_folder(dir.path()).size(), 2u) << "no temporary file left";

    struct Case {
        const char* label;
        nlohmann::json args;
        std::string reply;  // without the id
    };
    const std::vector<Case> cases = {
        {"the published path", {{"file", source}}, R"("result":null)"},
        {"the backup", {{"file", backup}}, R"("error":"Unknown output file")"},
        {"no file", nlohmann::json::object(), R"("error":"Missing output file")"},
        {"a number", {{"file", 7}}, R"("error":"Missing output file")"},
    };
    for (const Case& c : cases) {
        const auto answer = backend->call("reveal", c.args);
        ASSERT_TRUE(answer.has_value()) << c.label;
        EXPECT_NE(answer->dump().find(c.reply), std::string::npos) << c.label << ": " << answer->dump();
    }
    const auto runs = fakes.wait_for_lines(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_NE(runs[0].arguments.find("ShowItems|['file://" + source + "']|"), std::string::npos) << runs[0].arguments;
    EXPECT_TRUE(testing::wait_until_gone(runs[0].pid, 5s)) << "the opener was left a zombie";
    // The opener has printed on its standard output and ended: the next line
    // the backend writes must still be the reply.
    const auto stray = backend->read_message(0ms);
    EXPECT_FALSE(stray.has_value()) << "unexpected output: " << stray->dump();
    const auto idle = backend->call("busy");
    ASSERT_TRUE(idle.has_value());
    EXPECT_EQ(idle->at("result"), false);
}

struct timespec date_of(const std::string& path, bool access = false) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return access ? status.st_atim : status.st_mtim;
}

void expect_same(const struct timespec& got, const struct timespec& expected, const std::string& what) {
    EXPECT_EQ(got.tv_sec, expected.tv_sec) << what;
    EXPECT_EQ(got.tv_nsec, expected.tv_nsec) << what;
}

// One movie through everything this adds: dates kept on both kinds of
// output, our own files passed over on import, restore, and a saved report.
TEST_F(ProcessingInterop, DatesRestoreAndReportEndToEnd) {
    const std::string source = copy_movie("day/A,001 \"x\".mov");
    const struct timespec set[2] = {{1583020900, 111111111}, {1583020800, 987654321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), set, 0), 0);
    const auto original = file_digest(source);
    const auto ids = import({dir.join("day")});
    ASSERT_EQ(ids.size(), 1u);
    const nlohmann::json record_as_imported = last_imported.at(0);
    // The import's probe may have moved the access time; the batch takes it from here.
    const struct timespec accessed = date_of(source, true);

    const auto copied = process(ids, "00:59:59:24", {{"copy", true}});
    const auto& made = copied.at("result").at("results").at(0);
    ASSERT_EQ(made.at("state"), "done") << made.dump();
    const std::string output = made.at("output");
    expect_same(date_of(output), set[1], "new file, modification");
    expect_same(date_of(output, true), accessed, "new file, access");

    const auto stamped = process(ids, "10:00:00:00", {{"copy", false}});
    const auto& record = stamped.at("result").at("results").at(0);
    ASSERT_EQ(record.at("state"), "done") << record.dump();
    const std::string backup = record.at("backup");
    expect_same(date_of(source), set[1], "in place, modification");
    expect_same(date_of(source, true), accessed, "in place, access");
    expect_same(date_of(backup), set[1], "the original is not touched");
    const auto stamped_digest = file_digest(source);

    // The folder again: the movie and the new file, no word about the backup.
    EXPECT_EQ(import({dir.join("day")}).size(), 2u);
    EXPECT_EQ(probe_timecode(source), "\"10:00:00:00\"");

    // The original's record comes back with it.
    const auto restored = backend->call("restore", {{"id", ids[0]}});
    ASSERT_TRUE(restored.has_value());
    EXPECT_EQ(restored->at("result"),
              (nlohmann::json{{"backup", backup}, {"id", ids[0]}, {"path", source}, {"record", record_as_imported}}))
        << restored->dump();
    EXPECT_EQ(file_digest(source), original);
    EXPECT_EQ(file_digest(backup), stamped_digest);
    const auto again = backend->call("restore", {{"id", ids[0]}});
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->value("error", ""), "This movie has no backup to restore. Nothing was changed.");
    // The original is back as imported: the same id may be stamped again.
    EXPECT_EQ(process(ids, "01:00:00:00", {{"copy", false}}).at("result").at("results").at(0).at("state"), "done");

    const std::string report = dir.join("Velmora report 2026-12-08 11-05.csv");
    const std::string text = "Source path,State\r\n\"" + std::string("/day/A,001 \"\"x\"\".mov") +
                             "\",done\r\n"
                             "/day/\xC3\xA9t\xC3\xA9.mov,restored\r\n";
    const auto saved = backend->call("save_report", {{"path", report}, {"text", text}});
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->dump().find("error"), std::string::npos) << saved->dump();
    EXPECT_EQ(testing::read_file(report), text);
    const auto refused = backend->call("save_report", {{"path", report}, {"text", "other"}});
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->value("error", ""), "File exists (os error 17)");
    const auto replaced = backend->call("save_report", {{"path", report}, {"text", "other"}, {"replace", true}});
    ASSERT_TRUE(replaced.has_value());
    EXPECT_EQ(testing::read_file(report), "other");
}

std::uint64_t big_endian(const std::string& bytes, std::size_t at, std::size_t count) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i) value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

// Where the top-level `moov` of a movie's bytes starts; npos when none does.
std::size_t movie_atom_offset(const std::string& bytes) {
    for (std::size_t at = 0; at + 8 <= bytes.size();) {
        if (bytes.compare(at + 4, 4, "moov") == 0) return at;
        std::uint64_t size = big_endian(bytes, at, 4);
        if (size == 1) size = big_endian(bytes, at + 8, 8);
        if (size < 8) break;
        at += size;
    }
    return std::string::npos;
}

// A stamp without a copy: the original's bytes but `free` for its `moov`
// type, then a 12-byte `mdat` and a `moov` that ends the file.
void expect_stamped_from(const std::string& stamped, const std::string& original, const std::string& what) {
    const std::size_t moov = movie_atom_offset(original);
    ASSERT_NE(moov, std::string::npos) << what;
    ASSERT_GT(stamped.size(), original.size() + 20) << what;
    std::string expected_head = original;
    expected_head.replace(moov + 4, 4, "free");
    EXPECT_TRUE(stamped.compare(0, original.size(), expected_head) == 0) << what;
    EXPECT_EQ(big_endian(stamped, original.size(), 4), 12u) << what;
    EXPECT_EQ(stamped.substr(original.size() + 4, 4), "mdat") << what;
    const std::size_t tail = original.size() + 12;
    EXPECT_EQ(stamped.substr(tail + 4, 4), "moov") << what;
    EXPECT_EQ(big_endian(stamped, tail, 4), stamped.size() - tail) << what;
}

// The third mode end to end: two movies stamped where they lie, restored
// byte for byte, recognised after a relaunch, and a changed one left alone.
TEST_F(ProcessingInterop, AppendWithoutACopyThenRestoreAndARelaunch) {
    const std::vector<std::string> sources = {copy_movie("card/A.mov"), copy_movie("card/B.mov")};
    const struct timespec set[2] = {{1583020900, 111111111}, {1583020800, 987654321}};
    std::vector<std::string> originals;
    for (const std::string& source : sources) {
        ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), set, 0), 0);
        originals.push_back(testing::read_file(source).value_or(""));
    }
    const auto ids = import({dir.join("card")});
    ASSERT_EQ(ids.size(), 2u);
    const nlohmann::json imported = last_imported;
    const struct timespec accessed = date_of(sources[0], true);

    Wire wire(*backend);
    wire.send(1, "process_movies",
              {{"ids", ids},
               {"timecodes", {{ids[0], "10:00:00:00"}, {ids[1], "11:00:00:00"}}},
               {"options", {{"copy", false}, {"append", true}, {"suffix", ""}}}});
    const auto reply = wire.reply(1);
    ASSERT_TRUE(reply.contains("result")) << reply.dump();
    EXPECT_EQ(reply.at("result").at("cancelled"), false);
    // Before this test reads the files itself.
    expect_same(date_of(sources[0], true), accessed, "access kept");
    const std::vector<std::string> timecodes = {"10:00:00:00", "11:00:00:00"};
    for (std::size_t i = 0; i < 2; ++i) {
        const nlohmann::json done{{"appended", true},        {"backup", nullptr}, {"id", ids[i]},
                                  {"output", sources[i]},    {"progress", 1},     {"state", "done"},
                                  {"timecode", timecodes[i]}};
        EXPECT_EQ(reply.at("result").at("results").at(i), done);
        nlohmann::json last = done;
        last["index"] = i;
        last["total"] = 2;
        std::vector<nlohmann::json> events;
        for (const auto& event : wire.events()) {
            if (event.at("id") == ids[i]) events.push_back(event);
        }
        const auto step = [&](double progress) {
            return nlohmann::json{
                {"id", ids[i]}, {"index", i}, {"progress", progress}, {"state", "processing"}, {"total", 2}};
        };
        EXPECT_EQ(events, (std::vector<nlohmann::json>{step(0), step(1), last}));
        const std::string stamped = testing::read_file(sources[i]).value_or("");
        expect_stamped_from(stamped, originals[i], sources[i]);
        expect_same(date_of(sources[i]), set[1], "modification kept");
    }
    EXPECT_EQ(list_folder(dir.join("card")).size(), 2u) << "no backup, no temporary";

    // The store holds the stamped file's record: the movie itself as import reads it.
    const auto again = import({dir.join("card")});
    EXPECT_EQ(again, ids);
    EXPECT_EQ(last_imported.at(0).value("appended", false), true);
    EXPECT_EQ(last_imported.at(0).at("timecode"), "10:00:00:00");
    EXPECT_EQ(last_imported.at(0).at("size"), testing::read_file(sources[0]).value_or("").size());

    const auto restored = backend->call("restore", {{"id", ids[0]}});
    ASSERT_TRUE(restored.has_value());
    EXPECT_EQ(restored->at("result"),
              (nlohmann::json{{"backup", nullptr}, {"id", ids[0]}, {"path", sources[0]}, {"record", imported.at(0)}}))
        << restored->dump();
    EXPECT_EQ(testing::read_file(sources[0]), originals[0]);
    expect_same(date_of(sources[0]), set[1], "restored, modification");
    EXPECT_EQ(error_of("restore", {{"id", ids[0]}}), "This movie has no backup to restore. Nothing was changed.");

    // After a relaunch the import alone says the movie was stamped in place.
    restart_backend();
    const auto relaunched = import({dir.join("card")});
    ASSERT_EQ(relaunched.size(), 2u);
    EXPECT_EQ(last_imported.at(0).contains("appended"), false) << last_imported.at(0).dump();
    EXPECT_EQ(last_imported.at(1).value("appended", false), true) << last_imported.at(1).dump();
    const auto second = backend->call("restore", {{"id", relaunched[1]}});
    ASSERT_TRUE(second.has_value() && second->contains("result")) << (second ? second->dump() : "");
    EXPECT_EQ(second->at("result").at("backup"), nullptr);
    EXPECT_EQ(second->at("result").at("record").contains("appended"), false);
    EXPECT_EQ(testing::read_file(sources[1]), originals[1]);

    // Stamped again, then touched: the stamp stays as it is.
    const auto restamped = process({relaunched[0]}, "12:00:00:00", {{"copy", false}, {"append", true}});
    ASSERT_EQ(restamped.at("result").at("results").at(0).at("state"), "done") << restamped.dump();
    const std::string before = testing::read_file(sources[0]).value_or("");
    const struct timespec touched[2] = {{1600000000, 0}, {1600000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, sources[0].c_str(), touched, 0), 0);
    EXPECT_EQ(error_of("restore", {{"id", relaunched[0]}}),
              "The stamped movie changed since the import: " + sources[0] + ". Nothing was changed.");
    EXPECT_EQ(testing::read_file(sources[0]), before);
}

TEST_F(ProcessingInterop, RevealForgetsEarlierRunsAndNoticesNeedNoPage) {
    const auto ids = import({copy_movie("clip.mov")});
    ASSERT_EQ(ids.size(), 1u);
    const auto reply = process(ids, "01:00:00:00", {{"copy", true}});
    const std::string output = reply.at("result").at("results").at(0).at("output");
    const auto shown = backend->call("reveal", {{"file", output}});
    ASSERT_TRUE(shown.has_value());
    EXPECT_TRUE(shown->contains("result") && shown->at("result").is_null()) << shown->dump();

    BackendOptions options;
    options.resources = resources.path();
    options.environment = fakes.environment();
    backend = std::make_unique<Backend>(options);  // the earlier process is killed
    const auto after_restart = backend->call("reveal", {{"file", output}});
    ASSERT_TRUE(after_restart.has_value());
    EXPECT_EQ(after_restart->at("error"), "Unknown output file");

    ASSERT_TRUE(backend->send_line(R"({"id":"no args","command":"reveal"})"));
    const auto without_args = backend->read_reply("no args");
    ASSERT_TRUE(without_args.has_value());
    EXPECT_EQ(without_args->dump(), R"({"error":"Missing output file","id":"no args"})");

    ASSERT_FALSE(path_exists(resources.path() + "/notices/index.html"));
    const auto notices = backend->call("third_party_notices");
    ASSERT_TRUE(notices.has_value());
    EXPECT_TRUE(notices->contains("result") && notices->at("result").is_null()) << notices->dump();
    // Openers are not waited for, so the two may log in either order.
    const auto runs = fakes.wait_for_lines(2);
    ASSERT_EQ(runs.size(), 2u) << "one reveal and the notices, nothing for the refusals";
    std::vector<std::string> programs;
    programs.reserve(runs.size());
    for (const auto& run : runs) programs.push_back(run.arguments.substr(0, run.arguments.find('|')));
    std::ranges::sort(programs);
    EXPECT_EQ(programs, (std::vector<std::string>{"gdbus", "xdg-open"}));
    const auto notices_run =
        std::ranges::find_if(runs, [](const auto& run) { return run.arguments.starts_with("xdg-open|"); });
    ASSERT_NE(notices_run, runs.end());
    EXPECT_EQ(notices_run->arguments, "xdg-open|" + resources.path() + "/notices/index.html");
}

TEST_F(ProcessingInterop, SourceTouchedAfterImport) {
    const std::string source = copy_movie("a.mov");
    const auto ids = import({source});
    ASSERT_EQ(ids.size(), 1u);
    testing::set_modified(source, 1000000000);
    const auto reply = process(ids, "01:00:00:00", {{"copy", true}});
    EXPECT_EQ(reply.at("result").at("results").at(0).at("error"),
              "Source changed since import. Import it again. No output was published.");
    EXPECT_FALSE(path_exists(dir.join("Velmora Output/a_TC.mov")));
}

TEST_F(ProcessingInterop, WrittenReportsThatDoNotMatchAreNotPublished) {
    // The engine answers the verifying probe with one stream changed.
    struct Case {
        const char* label;
        std::string sed;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"a second timecode track",
         R"(s/]}$/,{"index":9,"trackId":9,"type":"data","codec":"timecode","tag":"tmcd","attachedPicture":false}]}/)",
         "Output timecode verification failed. Source has been preserved."},
        {"the audio stream missing", R"(s/,{"index":1,[^}]*}//)",
         "Output stream verification failed. Source has been preserved."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string script = "#!/bin/sh\ncase \"$1:$2\" in\nprobe:*/.velmora-*) '" + testing::engine_program() +
                                   "' probe \"$2\" | sed '" + c.sed + "' ;;\n*) exec '" + testing::engine_program() +
                                   "' \"$@\" ;;\nesac\n";
        ResourcesDir wrapped = ResourcesDir::with_engine_script(script);
        BackendOptions options;
        options.resources = wrapped.path();
        Backend other(options);
        std::filesystem::remove_all(dir.path() + "/x");
        const std::string source = copy_movie("x/a.mov");
        const auto before = file_digest(source);
        const auto imported = other.call("import_movies", {{"paths", {source}}});
        ASSERT_TRUE(imported.has_value());
        const std::string id = imported->at("result").at("files").at(0).at("id");
        const auto reply =
            other.call("process_movies",
                       {{"ids", {id}}, {"timecodes", {{id, "01:00:00:00"}}}, {"options", {{"copy", true}}}}, 60s);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->at("result").at("results").at(0).at("error"), c.message);
        EXPECT_TRUE(list_folder(dir.join("x/Velmora Output")).empty());
        EXPECT_EQ(file_digest(source), before);
    }
}

// Source names of 220 and 250 bytes (one of two-byte characters) go through
// a whole batch: their temporary names are cut to fit, their outputs are not.
// In place, their backup names are cut too, and both can be restored.
TEST_F(ProcessingInterop, LongNamesThroughAWholeBatch) {
    std::string accented;
    for (int i = 0; i < 123; ++i) accented += "\xc3\xa9";
    const std::vector<std::string> stems = {std::string(216, 'a'), accented};
    std::vector<std::string> sources;
    sources.reserve(stems.size());
    for (const auto& stem : stems) sources.push_back(copy_movie("long/" + stem + ".mov"));
    EXPECT_EQ(std::filesystem::path(sources[0]).filename().string().size(), 220u);
    EXPECT_EQ(std::filesystem::path(sources[1]).filename().string().size(), 250u);
    const auto original = file_digest(sources[0]);
    const auto ids = import({dir.join("long")});
    ASSERT_EQ(ids.size(), 2u);
    const nlohmann::json records_as_imported = last_imported;
    const auto reply = process(ids, "01:00:00:00", {{"copy", true}});
    for (std::size_t i = 0; i < stems.size(); ++i) {
        const auto& record = reply.at("result").at("results").at(i);
        EXPECT_EQ(record.at("state"), "done") << record.dump();
        EXPECT_EQ(record.value("output", ""), dir.join("long/Velmora Output/" + stems[i] + "_TC.mov"));
    }
    std::vector<std::string> expected = {stems[0] + "_TC.mov", stems[1] + "_TC.mov"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(list_folder(dir.join("long/Velmora Output")), expected);

    const auto in_place = process(ids, "02:00:00:00", {{"copy", false}});
    std::vector<std::string> backups;
    for (std::size_t i = 0; i < stems.size(); ++i) {
        const auto& record = in_place.at("result").at("results").at(i);
        ASSERT_EQ(record.at("state"), "done") << record.dump();
        EXPECT_EQ(record.at("output"), sources[i]);
        const std::string backup = record.at("backup");
        EXPECT_EQ(std::filesystem::path(backup).parent_path(), dir.join("long"));
        const std::string name(std::filesystem::path(backup).filename().string());
        // Cut to the limit, at most one two-byte character short of it.
        EXPECT_GE(name.size(), 254u) << name;
        EXPECT_LE(name.size(), 255u) << name;
        EXPECT_TRUE(is_valid_utf8(name));
        const std::size_t mark = name.find(".velmora-backup-");
        ASSERT_NE(mark, std::string::npos) << name;
        EXPECT_TRUE((stems[i] + ".mov").starts_with(name.substr(0, mark))) << name;
        EXPECT_EQ(file_digest(backup), original);
        EXPECT_EQ(probe_timecode(sources[i]), "\"02:00:00:00\"");
        backups.push_back(backup);
    }
    // Stamped in place, the movies are probed again and keep their ids; the
    // backups beside them are passed over, the outputs come first.
    const auto again = import({dir.join("long")});
    ASSERT_EQ(again.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(again.begin() + 2, again.end()), ids);
    EXPECT_EQ(import(sources), ids);
    for (std::size_t i = 0; i < stems.size(); ++i) {
        const auto restored = backend->call("restore", {{"id", ids[i]}});
        ASSERT_TRUE(restored.has_value());
        EXPECT_EQ(
            restored->at("result"),
            (nlohmann::json{
                {"backup", backups[i]}, {"id", ids[i]}, {"path", sources[i]}, {"record", records_as_imported.at(i)}}))
            << restored->dump();
        EXPECT_EQ(file_digest(sources[i]), original);
    }
}

void flip_byte(const std::string& path, std::uint64_t offset) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(file.is_open()) << path;
    file.seekg(static_cast<std::streamoff>(offset));
    const char byte = static_cast<char>(file.get() ^ 0x20);
    file.seekp(static_cast<std::streamoff>(offset));
    file.put(byte);
    ASSERT_TRUE(file.good()) << path;
}

std::uint64_t size_of(const std::string& path) { return std::filesystem::file_size(path); }

// The backend killed while an in-place batch holds its second movie; a new
// one finds the first movie's original beside it and restores it.
TEST_F(ProcessingInterop, InPlaceBatchKilledThenRestoredAfterARelaunch) {
    const std::string engine = testing::engine_program();
    const std::string script =
        "#!/bin/sh\nhere=$(dirname \"$0\")\ncase \"$1\" in\n"
        "write) if [ -e \"$here/wrote\" ]; then echo $$ > \"$here/held.pid\"; exec sleep 60; fi; "
        "touch \"$here/wrote\"; exec '" +
        engine + "' \"$@\" ;;\n*) exec '" + engine + "' \"$@\" ;;\nesac\n";
    ResourcesDir held_engine = ResourcesDir::with_engine_script(script);
    std::vector<std::string> sources;
    for (const char* name : {"a.mov", "b.mov", "c.mov"}) sources.push_back(copy_movie(std::string("card/") + name));
    const auto original = file_digest(movies_->join("small.mov"));  // the copy kept before the batch
    // The first movie as the killed backend imported it.
    nlohmann::json first_report;
    {
        BackendOptions options;
        options.resources = held_engine.path();
        Backend doomed(options);
        const auto imported = doomed.call("import_movies", {{"paths", {dir.join("card")}}});
        ASSERT_TRUE(imported.has_value());
        std::vector<std::string> ids;
        for (const auto& file : imported->at("result").at("files")) ids.push_back(file.at("id"));
        ASSERT_EQ(ids.size(), 3u);
        first_report = imported->at("result").at("files").at(0);
        nlohmann::json timecodes;
        for (const auto& id : ids) timecodes[id] = "01:00:00:00";
        Wire wire(doomed);
        wire.send(1, "process_movies", {{"ids", ids}, {"timecodes", timecodes}, {"options", {{"copy", false}}}});
        ASSERT_TRUE(wire.wait_for_event([](const nlohmann::json& e) { return e.at("state") == "done"; }));
        for (int i = 0; i < 600 && !path_exists(held_engine.bin_path() + "/held.pid"); ++i)
            std::this_thread::sleep_for(20ms);
        ASSERT_TRUE(path_exists(held_engine.bin_path() + "/held.pid")) << "the second write never started";
    }  // SIGKILL
    const auto held = testing::read_file(held_engine.bin_path() + "/held.pid");
    ::kill(static_cast<pid_t>(std::stol(held.value_or("0"))), SIGKILL);

    const std::vector<std::string> names = list_folder(dir.join("card"));
    const auto backup_name =
        std::ranges::find_if(names, [](const auto& n) { return n.starts_with("a.mov.velmora-backup-"); });
    ASSERT_NE(backup_name, names.end()) << "the first movie was not published in place";
    const std::string backup = dir.join("card/" + *backup_name);
    const auto stamped = file_digest(sources[0]);
    EXPECT_NE(stamped, original);
    EXPECT_EQ(file_digest(backup), original);

    restart_backend();
    const auto ids = import({dir.join("card")});
    ASSERT_EQ(ids.size(), 3u) << "a backup or a temporary was imported";
    const nlohmann::json listed = {{{"original", true}, {"path", backup}, {"size", size_of(backup)}}};
    EXPECT_EQ(last_imported.at(0).value("backups", nlohmann::json()), listed) << last_imported.at(0).dump();
    EXPECT_FALSE(last_imported.at(1).contains("backups")) << last_imported.at(1).dump();
    EXPECT_FALSE(last_imported.at(2).contains("backups")) << last_imported.at(2).dump();
    EXPECT_EQ(file_digest(sources[1]), original) << "the interrupted movie";
    EXPECT_EQ(file_digest(sources[2]), original);

    EXPECT_EQ(error_of("restore", {{"id", ids[1]}}), "This movie has no backup to restore. Nothing was changed.");
    testing::set_modified(sources[0], 1000000000);
    EXPECT_EQ(error_of("restore", {{"id", ids[0]}}),
              "The stamped movie changed since the import: " + sources[0] + ". Nothing was changed.");
    EXPECT_EQ(import({dir.join("card")}), ids);
    const nlohmann::json stamped_record = last_imported.at(0);

    const auto restored = backend->call("restore", {{"id", ids[0]}});
    ASSERT_TRUE(restored.has_value() && restored->contains("result")) << (restored ? restored->dump() : "");
    const nlohmann::json& result = restored->at("result");
    EXPECT_EQ(result.at("backup"), backup);
    EXPECT_EQ(result.at("id"), ids[0]);
    EXPECT_EQ(result.at("path"), sources[0]);
    EXPECT_EQ(file_digest(sources[0]), original);
    EXPECT_EQ(file_digest(backup), stamped);
    // Read again as import reads it: the original's own report, how the
    // movie was given, and the stamped movie now under the backup's name.
    nlohmann::json record = result.at("record");
    EXPECT_EQ(record.at("timecode"), nullptr);
    EXPECT_EQ(record.at("size"), size_of(sources[0]));
    for (const char* key : {"id", "name", "relativeDir", "card", "path"}) {
        EXPECT_EQ(record.at(key), stamped_record.at(key)) << key;
    }
    for (const char* key : {"rate", "duration", "streams", "modified", "size", "created"}) {
        EXPECT_EQ(record.at(key), first_report.at(key)) << key;
    }
    EXPECT_EQ(record.at("backups"), (nlohmann::json{{{"original", false},
                                                     {"path", backup},
                                                     {"reason", "The movie is not this backup with a timecode added."},
                                                     {"size", size_of(backup)}}}));
    EXPECT_EQ(error_of("restore", {{"id", ids[0]}}),
              "The movie is not this backup with a timecode added. Nothing was changed.");
    EXPECT_EQ(file_digest(sources[0]), original);
    // The restored record is the store's: the movie can be stamped again.
    EXPECT_EQ(process({ids[0]}, "02:00:00:00", {{"copy", true}}).at("result").at("results").at(0).at("state"), "done");
}

// Backups deleted only where the full check passes: one with a byte changed
// in its media (the import's quick check cannot see it), one with a
// different moov, and one that is the original.
TEST_F(ProcessingInterop, RemoveBackupsDeletesOnlyVerifiedOriginals) {
    const std::vector<std::string> sources = {copy_movie("day/a.mov", "medium.mov"), copy_movie("day/b.mov"),
                                              copy_movie("day/c.mov")};
    const auto ids = import({dir.join("day")});
    ASSERT_EQ(ids.size(), 3u);
    const auto reply = process(ids, "01:00:00:00", {{"copy", false}});
    std::vector<std::string> backups;
    for (const auto& record : reply.at("result").at("results")) {
        ASSERT_EQ(record.at("state"), "done") << record.dump();
        backups.push_back(record.at("backup"));
    }
    ASSERT_GT(size_of(backups[0]), 3u << 20) << "the middle must lie beyond the quick check's reach";
    flip_byte(backups[0], size_of(backups[0]) / 2);
    flip_byte(backups[1], size_of(backups[1]) - 1);  // ffmpeg writes the moov last
    const std::string differ = "The movie's bytes differ from the backup's.";

    EXPECT_EQ(import({dir.join("day")}), ids);
    EXPECT_EQ(last_imported.at(0).at("backups"),
              (nlohmann::json{{{"original", true}, {"path", backups[0]}, {"size", size_of(backups[0])}}}));
    EXPECT_EQ(last_imported.at(1).at("backups"),
              (nlohmann::json{
                  {{"original", false}, {"path", backups[1]}, {"reason", differ}, {"size", size_of(backups[1])}}}));
    const std::uint64_t kept_size = size_of(backups[2]);

    const auto removed = backend->call("remove_backups", {{"ids", {ids[0], "1-2-3", ids[1], ids[2]}}}, 60s);
    ASSERT_TRUE(removed.has_value());
    EXPECT_EQ(removed->at("result"),
              (nlohmann::json{{"kept",
                               {{{"id", ids[0]}, {"path", backups[0]}, {"reason", differ}},
                                {{"id", ids[1]}, {"path", backups[1]}, {"reason", differ}}}},
                              {"removed", {{{"id", ids[2]}, {"path", backups[2]}, {"size", kept_size}}}}}))
        << removed->dump();
    EXPECT_EQ(list_folder(dir.join("day")),
              (std::vector<std::string>{"a.mov", std::filesystem::path(backups[0]).filename(), "b.mov",
                                        std::filesystem::path(backups[1]).filename(), "c.mov"}));
    // Neither the record nor this process's memory offers the deleted one.
    EXPECT_EQ(error_of("restore", {{"id", ids[2]}}), "This movie has no backup to restore. Nothing was changed.");
    const auto again = backend->call("remove_backups", {{"ids", {ids[2]}}});
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->at("result").dump(), R"({"kept":[],"removed":[]})");
    EXPECT_EQ(error_of("remove_backups", nlohmann::json::object()), "invalid type: null, expected a sequence");

    // After a relaunch the changed media passes the import's look but not
    // the check before restoring.
    const auto stamped = file_digest(sources[0]);
    restart_backend();
    const auto relaunched = import({dir.join("day")});
    ASSERT_EQ(relaunched.size(), 3u);
    EXPECT_EQ(last_imported.at(0).at("backups").at(0).at("original"), true);
    EXPECT_EQ(error_of("restore", {{"id", relaunched[0]}}), differ + " Nothing was changed.");
    EXPECT_EQ(error_of("restore", {{"id", relaunched[1]}}), differ + " Nothing was changed.");
    EXPECT_EQ(file_digest(sources[0]), stamped);
    EXPECT_TRUE(path_exists(backups[0]));
}

// The output folder renamed and replaced by a link to another folder while a
// movie is verified: the output lands beside its temporary file in the moved
// folder, and nothing reaches the link's target.
TEST_F(ProcessingInterop, OutputFolderMovedAwayMidMovie) {
    const std::string script =
        "#!/bin/sh\nhere=$(dirname \"$0\")\ncase \"$1:$2\" in\n"
        "probe:*/.velmora-*) touch \"$here/verifying\"; i=0; "
        "while [ ! -e \"$here/release\" ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i + 1)); done; exec '" +
        testing::engine_program() + "' \"$@\" ;;\n*) exec '" + testing::engine_program() + "' \"$@\" ;;\nesac\n";
    ResourcesDir wrapped = ResourcesDir::with_engine_script(script);
    BackendOptions options;
    options.resources = wrapped.path();
    Backend other(options);
    const std::string source = copy_movie("card/clip.mov");
    TempDir elsewhere{"velmora-elsewhere"};
    const auto imported = other.call("import_movies", {{"paths", {source}}});
    ASSERT_TRUE(imported.has_value());
    const std::string id = imported->at("result").at("files").at(0).at("id");
    ASSERT_TRUE(
        other.send({{"id", 9},
                    {"command", "process_movies"},
                    {"args", {{"ids", {id}}, {"timecodes", {{id, "01:00:00:00"}}}, {"options", {{"copy", true}}}}}}));
    for (int i = 0; i < 600 && !testing::path_exists(wrapped.bin_path() + "/verifying"); ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(testing::path_exists(wrapped.bin_path() + "/verifying"));
    std::filesystem::rename(dir.join("card/Velmora Output"), dir.join("card/moved"));
    std::filesystem::create_directory_symlink(elsewhere.path(), dir.join("card/Velmora Output"));
    testing::write_file(wrapped.bin_path() + "/release", "");

    std::optional<nlohmann::json> reply;
    while (!reply) {
        auto message = other.read_message(60s);
        ASSERT_TRUE(message.has_value()) << "no reply";
        if (message->contains("id")) reply = message;
    }
    EXPECT_EQ(reply->at("result").at("results").at(0).at("state"), "done") << reply->dump();
    EXPECT_EQ(list_folder(dir.join("card/moved")), std::vector<std::string>{"clip_TC.mov"});
    EXPECT_TRUE(list_folder(elsewhere.path()).empty());
}

// A write long enough to act during it: refusals meanwhile, then a cancel.
TEST_F(ProcessingInterop, CancelDuringALargeWrite) {
    const std::string large = dir.join("big/large.mov");
    testing::make_large_movie(large, 3);
    copy_movie("big/small.mov");
    const auto before = file_digest(large);
    const auto ids = import({large, dir.join("big/small.mov")});
    ASSERT_EQ(ids.size(), 2u);

    Wire wire(*backend);
    wire.send(100, "process_movies",
              {{"ids", ids},
               {"timecodes", {{ids[0], "01:00:00:00"}, {ids[1], "01:00:00:00"}}},
               {"options", {{"copy", true}}}});
    ASSERT_TRUE(wire.wait_for_event([](const nlohmann::json& e) {
        return e.at("progress").is_number_float() && e.at("progress").get<double>() > 0.0;
    })) << "no engine progress";
    wire.send(101, "busy");
    wire.send(102, "process_movies", {{"ids", ids}, {"timecodes", {{ids[0], "01:00:00:00"}, {ids[1], "01:00:00:00"}}}});
    wire.send(103, "import_movies", {{"paths", {dir.join("big/small.mov")}}});
    EXPECT_EQ(wire.reply(101).dump(), R"({"id":101,"result":true})");
    EXPECT_EQ(wire.reply(102).dump(), R"({"error":"A batch is already running.","id":102})");
    EXPECT_EQ(wire.reply(103).dump(), R"({"error":"Wait for the current batch to finish.","id":103})");
    wire.send(110, "remove_backups", {{"ids", ids}});
    wire.send(111, "restore", {{"id", ids[1]}});
    EXPECT_EQ(wire.reply(110).dump(), R"({"error":"Wait for the current batch to finish.","id":110})");
    EXPECT_EQ(wire.reply(111).dump(), R"({"error":"Wait for the current batch to finish.","id":111})");
    wire.send(104, "cancel");
    EXPECT_EQ(wire.reply(104).dump(), R"({"id":104,"result":null})");

    const auto reply = wire.reply(100);
    EXPECT_EQ(reply.dump(), R"({"id":100,"result":{"cancelled":true,"results":[{"error":"Cancelled.","id":")" + ids[0] +
                                R"(","progress":0,"state":"error"}]}})");
    for (const auto& event : wire.events()) EXPECT_EQ(event.at("id"), ids[0]) << "an event for a later movie";
    EXPECT_TRUE(list_folder(dir.join("big/Velmora Output")).empty()) << "the temporary file is left";
    EXPECT_EQ(file_digest(large), before);
    wire.send(105, "busy");
    EXPECT_EQ(wire.reply(105).dump(), R"({"id":105,"result":false})");
    std::filesystem::remove_all(dir.join("big"));
}

}  // namespace
}  // namespace velmora
