// Import through the real program and the real engine, on movies made by ffmpeg.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "peers.h"
#include "support/backend_harness.h"

namespace velmora::testing {
namespace {

using nlohmann::json;

// Output and exit status of a shell command line (test fixtures only).
std::pair<std::string, int> run_command(const std::string& command) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return {"", -1};
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe.get())) output.append(buffer, n);
    int status = ::pclose(pipe.release());
    return {output, status};
}

// Movies made once per test program: generation is the slow part.
class GeneratedMovies {
public:
    static GeneratedMovies& get() {
        static GeneratedMovies movies;
        return movies;
    }
    bool ready() const { return ready_; }
    std::string plain() const { return dir_.join("plain.mov"); }
    std::string dated() const { return dir_.join("dated.mp4"); }
    std::string epoch() const { return dir_.join("epoch.mov"); }

private:
    GeneratedMovies() {
        const std::string make =
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=25:duration=0.2 -c:v libx264 "
            "-preset ultrafast -pix_fmt yuv420p ";
        ready_ = run_command(make + "'" + plain() + "' 2>&1").second == 0 &&
                 run_command(make + "-metadata creation_time=2024-03-09T14:05:00Z '" + dated() + "' 2>&1").second == 0;
        if (ready_) ready_ = write_epoch_copy();
    }

    // The plain movie with its mvhd creation time set to the Unix epoch
    // (2,082,844,800 seconds after 1904), which ffmpeg will not write.
    bool write_epoch_copy() {
        std::string bytes = read_file(plain()).value_or("");
        std::size_t at = bytes.find("mvhd");
        if (at == std::string::npos || at + 12 > bytes.size() || bytes[at + 4] != 0) return false;
        const unsigned char unix_epoch[4] = {0x7C, 0x25, 0xB0, 0x80};
        for (int i = 0; i < 4; ++i) bytes[at + 8 + i] = static_cast<char>(unix_epoch[i]);
        write_file(epoch(), bytes);
        return true;
    }

    TempDir dir_{"velmora-movies"};
    bool ready_ = false;
};

class ImportInteropTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (engine_program().empty()) GTEST_SKIP() << "the engine is not part of this build";
        VELMORA_REQUIRE_PROGRAMS("ffmpeg");
        if (!GeneratedMovies::get().ready()) GTEST_SKIP() << "ffmpeg could not make the test movies";
        resources_ = std::make_unique<ResourcesDir>(ResourcesDir::with_real_engine());
        BackendOptions options;
        options.resources = resources_->path();
        backend_ = std::make_unique<Backend>(options);
    }

    std::string place(const std::string& source, const std::string& relative) {
        std::string path = scratch_.join(relative);
        write_file(path, read_file(source).value_or(""));
        return path;
    }

    json import(const json& paths, bool recursive) {
        auto reply = backend_->call("import_movies", {{"paths", paths}, {"recursive", recursive}});
        EXPECT_TRUE(reply && reply->contains("result")) << (reply ? reply->dump() : "no reply");
        return reply ? reply->value("result", json()) : json();
    }

    // What the engine itself says about a file: its report, or its message.
    static std::pair<json, std::string> engine_view(const std::string& path) {
        auto [report, status] = run_command("'" + engine_program() + "' probe '" + path + "' 2>/dev/null");
        if (status == 0) return {json::parse(report), ""};
        auto [message, ignored] = run_command("'" + engine_program() + "' probe '" + path + "' 2>&1 >/dev/null");
        while (!message.empty() && message.back() == '\n') message.pop_back();
        return {nullptr, message};
    }

    TempDir scratch_{"velmora-import-interop"};
    std::unique_ptr<ResourcesDir> resources_;
    std::unique_ptr<Backend> backend_;
};

TEST_F(ImportInteropTest, FolderOfRealMovies) {
    const auto& movies = GeneratedMovies::get();
    for (const char* name : {"drop/b.mov", "drop/A.MOV", "drop/a.mp4", "drop/A/B/deep.mov"})
        place(movies.plain(), name);
    write_file(scratch_.join("drop/garbage.mov"), "this is not a movie at all");
    write_file(scratch_.join("drop/notes.txt"), "text");

    const json result = import({scratch_.join("drop")}, true);
    const json& files = result["files"];
    ASSERT_EQ(files.size(), 4u) << result.dump();
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"deep.mov", "A/B"}, {"A.MOV", ""}, {"a.mp4", ""}, {"b.mov", ""}};
    const json report = engine_view(movies.plain()).first;
    ASSERT_TRUE(report.is_object());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].first);
        EXPECT_EQ(files[i]["name"], expected[i].first);
        EXPECT_EQ(files[i]["relativeDir"], expected[i].second);
        EXPECT_EQ(files[i]["size"], std::filesystem::file_size(movies.plain()));
        for (const auto& [key, value] : report.items()) EXPECT_EQ(files[i][key], value) << key;
        EXPECT_EQ(files[i]["creationOrigin"], "File creation date");
    }

    const std::string refusal = engine_view(scratch_.join("drop/garbage.mov")).second;
    ASSERT_FALSE(refusal.empty());
    EXPECT_EQ(result["errors"], json({{{"message", refusal}, {"name", "garbage.mov"}},
                                      {{"message", "Supported formats: MOV, MP4, M4V."}, {"name", "notes.txt"}}}));
}

TEST_F(ImportInteropTest, CreationTimeFromTheMovieItself) {
    const auto& movies = GeneratedMovies::get();
    const json result = import({place(movies.epoch(), "epoch.mov"), place(movies.dated(), "dated.mp4")}, false);
    ASSERT_EQ(result["files"].size(), 2u) << result.dump();
    EXPECT_EQ(result["files"][0]["createdUnix"], 0);
    EXPECT_EQ(result["files"][0]["created"], "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(result["files"][0]["creationOrigin"], "Media metadata");
    EXPECT_EQ(result["files"][1]["createdUnix"], 1709993100);
    EXPECT_EQ(result["files"][1]["created"], "2024-03-09T14:05:00.000Z");
    EXPECT_EQ(result["files"][1]["creationOrigin"], "Media metadata");
}

}  // namespace
}  // namespace velmora::testing
