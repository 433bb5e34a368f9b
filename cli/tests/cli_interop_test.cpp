// The command line against the real backend and engine, on movies ffmpeg makes.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "peers.h"

namespace velmora::cli {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Args = std::vector<std::string>;

std::string read_text(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool run_quietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// A movie of `seconds` at `rate`, its header's creation time `created` (ISO 8601) when given.
void make_movie(const fs::path& path, const std::string& rate, const std::string& created = "",
                const std::string& size = "128x96", const std::string& codec = "mjpeg", int seconds = 1) {
    fs::create_directories(path.parent_path());
    std::string command = "ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=" + size + ":rate=" + rate + " -t " +
                          std::to_string(seconds) + " -c:v " + codec;
    if (codec == "rawvideo") command += " -pix_fmt uyvy422";
    if (!created.empty()) command += " -metadata creation_time=" + created;
    ASSERT_TRUE(run_quietly(command + " '" + path.string() + "'")) << command;
}

std::string ffprobe_timecode(const fs::path& path) {
    const auto out = fs::path(path.string() + ".probe");
    std::system(("ffprobe -v error -show_entries stream_tags=timecode -of default=nw=1:nk=1 '" + path.string() +
                 "' > '" + out.string() + "'")
                    .c_str());
    const auto lines = lines_of(read_text(out));
    fs::remove(out);
    return lines.empty() ? "" : lines.front();
}

class Folder {
public:
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "velmora-cli-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~Folder() { fs::remove_all(path_); }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// `velmora ARGS` with HOME in `home`, its output in files beside it.
class Velmora {
public:
    Velmora(const fs::path& home, const Args& args) : home_(home) {
        fs::create_directories(home);
        pid_ = ::fork();
        if (pid_ != 0) return;
        ::setenv("HOME", home.c_str(), 1);
        const int out = ::open((home / "out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open((home / "err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char*> argv = {const_cast<char*>(VELMORA_CLI)};
        for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(VELMORA_CLI, argv.data());
        ::_exit(127);
    }
    Outcome wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_text(home_ / "out.txt"),
                read_text(home_ / "err.txt")};
    }
    pid_t pid() const { return pid_; }
    std::string err_so_far() const { return read_text(home_ / "err.txt"); }

private:
    fs::path home_;
    pid_t pid_ = -1;
};

Outcome velmora(const fs::path& home, const Args& args) { return Velmora(home, args).wait(); }

std::vector<fs::path> files_below(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// The shared table's creation starts in UTC that a movie header can carry
// (whole seconds): the dry run must print the start the page derives.
TEST(Cli, DryRunPrintsThePagesStartsAndWritesNothing) {
    VELMORA_REQUIRE_PROGRAMS("ffmpeg", "ffprobe");
    std::ifstream in(VELMORA_TEST_DATA "/timecode_cases.json");
    const auto table = Json::parse(in).at("derivation").at("starts");
    Folder folder;
    std::vector<std::pair<Json, fs::path>> chosen;
    for (const auto& c : table) {
        const auto& settings = c.at("settings");
        const auto& given = c.at("movie").value("created", Json());
        const auto created = given.is_string() ? given.get<std::string>() : std::string();
        if (settings.value("source", "") != "creation" || settings.value("timezone", "") != "utc" ||
            !created.starts_with("20") || !created.ends_with(".000Z") || !c.contains("timecode") ||
            c.at("movie").contains("recordedUnix")) {
            continue;
        }
        const auto movie = folder.path() / "card" / ("M" + std::to_string(chosen.size()) + ".mov");
        make_movie(movie, c.at("movie").at("rate"), created);
        chosen.emplace_back(c, movie);
    }
    ASSERT_GE(chosen.size(), 3u);
    const auto before = files_below(folder.path() / "card");
    for (const auto& [c, movie] : chosen) {
        SCOPED_TRACE(c.at("label").get<std::string>());
        const std::map<std::string, std::string> drop = {{"auto", "auto"}, {"drop", "on"}, {"non-drop", "off"}};
        const auto result =
            velmora(folder.path() / "home", {"stamp", "--dry-run", "--json", "--start", "creation", "--zone", "utc",
                                             "--drop-frame", drop.at(c.at("settings").value("mode", "auto")), movie});
        EXPECT_EQ(result.status, 0) << result.err;
        const auto line = Json::parse(result.out);
        EXPECT_EQ(line.at("start"), c.at("timecode"));
        EXPECT_EQ(line.at("output"),
                  (movie.parent_path() / "Velmora Output" / (movie.stem().string() + "_TC.mov")).string());
    }
    EXPECT_EQ(files_below(folder.path() / "card"), before);
}

TEST(Cli, StampsAFolderThenSkipsWhatExists) {
    VELMORA_REQUIRE_PROGRAMS("ffmpeg", "ffprobe");
    Folder folder;
    const auto card = folder.path() / "card";
    make_movie(card / "A.mov", "25", "2024-03-09T14:05:07Z");
    make_movie(card / "DCIM" / "B.mov", "30000/1001", "2024-03-09T23:59:59Z");
    const auto out = folder.path() / "out";
    const Args args = {"stamp",    "--json", "--start",          "creation",    "--zone", "utc",
                       "--output", out,      "--keep-structure", "--reel-from", "folder", card};
    const auto first = velmora(folder.path() / "home", args);
    ASSERT_EQ(first.status, 0) << first.err;
    const std::map<std::string, std::string> expected = {{"card/A_TC.mov", "14:05:07:00"},
                                                         {"card/DCIM/B_TC.mov", "23:59:59;00"}};
    for (const auto& line : lines_of(first.out)) {
        const auto result = Json::parse(line);
        EXPECT_EQ(result.at("state"), "done");
        const auto relative = fs::path(result.at("output").get<std::string>()).lexically_relative(out).string();
        ASSERT_TRUE(expected.contains(relative)) << relative;
        EXPECT_EQ(result.at("timecode"), expected.at(relative));
        EXPECT_EQ(ffprobe_timecode(out / relative), expected.at(relative));
    }
    EXPECT_EQ(lines_of(first.out).size(), 2u);

    const auto second = velmora(folder.path() / "home", args);
    EXPECT_EQ(second.status, 0) << second.err;
    for (const auto& line : lines_of(second.out)) {
        EXPECT_EQ(Json::parse(line).at("message"), "Skipped: the output already exists.");
    }
    EXPECT_EQ(files_below(out).size(), 2u);
}

TEST(Cli, ExitStatusSaysWhatHappened) {
    VELMORA_REQUIRE_PROGRAMS("ffmpeg", "ffprobe");
    Folder folder;
    make_movie(folder.path() / "A.mov", "25");
    std::ofstream(folder.path() / "notes.mov") << "not a movie";
    const auto a = (folder.path() / "A.mov").string();
    struct Case {
        Args args;
        int status;
        std::string first_error_line;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {{"stamp", "--dry-run", "--start", "01:00:00:00", a}, 0, ""},
        {{"stamp", "--dry-run", a}, 1, ""},  // the default embedded start, and the movie carries none
        {{"probe", a}, 0, ""},
        {{"stamp", "--dry-run", (folder.path() / "notes.mov").string()}, 1, "notes.mov: "},
        {{"stamp", "--dry-run", "--start", "10:00:00:25", a}, 1, ""},
        {{"stamp", "--start", "noon", a}, 2, "velmora: --start takes embedded, creation, modification or HH:MM:SS:FF"},
        {{"stamp"}, 2, "velmora: missing PATH"},
        {{"--version"}, 0, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        const auto result = velmora(folder.path() / "home", c.args);
        EXPECT_EQ(result.status, c.status) << result.err;
        const auto errors = lines_of(result.err);
        if (c.status == 2) {
            EXPECT_EQ(errors.at(1), "Usage: velmora probe [--json] PATH...");
        }
        if (!c.first_error_line.empty()) {
            EXPECT_TRUE(errors.at(0).starts_with(c.first_error_line)) << result.err;
        }
    }
}

TEST(Cli, CtrlCCancelsTheBatchAndLeavesNothing) {
    VELMORA_REQUIRE_PROGRAMS("ffmpeg", "ffprobe");
    Folder folder;
    const auto movie = folder.path() / "big" / "L.mov";
    make_movie(movie, "25", "", "1920x1080", "rawvideo", 3);
    const auto out = folder.path() / "out";
    Velmora run(folder.path() / "home", {"stamp", "--progress", "--start", "01:00:00:00", "--output", out, movie});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (run.err_so_far().find("Movie 1 of 1") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(run.pid(), SIGINT);
    const auto result = run.wait();
    EXPECT_EQ(result.status, 130) << result.err;
    EXPECT_EQ(fs::exists(out) ? files_below(out).size() : 0u, 0u);
}

}  // namespace
}  // namespace velmora::cli
