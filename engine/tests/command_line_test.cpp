#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include "result.h"
#include "support/movie_builder.h"
#include "support/program_run.h"

namespace velmora {
namespace {

using testing::run_program;

const std::string kUsage =
    "Usage: velmora-engine probe INPUT | write INPUT OUTPUT HH:MM:SS:FF | stamp INPUT HH:MM:SS:FF | unstamp INPUT | "
    "--version\n";
const std::string kNoInput = "No such file or directory (os error 2)\n";
const std::string kInvalidReel = "Invalid reel name\n";

// A write of a missing input with the given reel: an accepted reel reaches the input.
std::vector<std::string> write_with_reel(std::string reel, std::string timecode = "00:00:00:00") {
    return {"write", "/nonexistent/in.mov", "/nonexistent/out.mov", std::move(timecode), std::move(reel)};
}

// ---- The refusal table the page takes its hints from ----

using nlohmann::json;
namespace fs = std::filesystem;

const json& refusal_table() {
    static const json table = json::parse(std::ifstream(VELMORA_TEST_DATA "/refusals.json"));
    return table;
}

// The table's own wording for a message: its entry, or the pattern whose
// "{system text}" stands for the operating system's words.
bool table_holds(const std::string& message) {
    constexpr std::string_view kSystemText = "{system text}";
    for (const json& entry : refusal_table().at("refusals")) {
        if (entry.contains("message") && entry["message"] == message) return true;
        if (!entry.contains("pattern")) continue;
        const auto pattern = entry["pattern"].get<std::string>();
        const std::size_t at = pattern.find(kSystemText);
        const std::string head = pattern.substr(0, at);
        const std::string tail = pattern.substr(at + kSystemText.size());
        if (message.size() > head.size() + tail.size() && message.starts_with(head) && message.ends_with(tail))
            return true;
    }
    return false;
}

std::string file_text(const fs::path& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// The double-quoted literals of C++ source, comments skipped and adjacent
// literals joined as the compiler joins them.
std::vector<std::string> string_literals(std::string_view code) {
    std::vector<std::string> literals;
    bool joining = false;
    for (std::size_t at = 0; at < code.size(); ++at) {
        const char c = code[at];
        if (code.substr(at, 2) == "//") {
            at = code.find('\n', at);
            if (at == std::string_view::npos) break;
        } else if (code.substr(at, 2) == "/*") {
            at = code.find("*/", at);
            if (at == std::string_view::npos) break;
            ++at;
        } else if (c == '\'' && at > 0 && std::isxdigit(static_cast<unsigned char>(code[at - 1]))) {
            continue;  // a digit separator
        } else if (c == '\'') {
            at = code.find('\'', at + (code[at + 1] == '\\' ? 3 : 2));
            joining = false;
        } else if (c == '"') {
            std::string text;
            for (++at; at < code.size() && code[at] != '"'; ++at) text += code[at] == '\\' ? code[++at] : code[at];
            if (joining)
                literals.back() += text;
            else
                literals.push_back(text);
            joining = true;
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            joining = false;
        }
    }
    return literals;
}

// Words with a space between them, as every refusal has; the version line
// goes to standard output and is no refusal.
bool looks_like_a_message(const std::string& text) {
    const std::size_t space = text.find(' ');
    return !text.empty() && std::isalpha(static_cast<unsigned char>(text[0])) && space != std::string::npos &&
           space + 1 < text.size() && text[space + 1] != ' ' && !text.starts_with("velmora-engine ");
}

// The engine's own files, and those of the common library it reaches
// through its includes: everything whose messages the engine can print.
std::vector<fs::path> engine_sources() {
    const fs::path root = VELMORA_SOURCE_DIR;
    std::vector<fs::path> files;
    std::set<std::string> seen_common;
    for (const auto& entry : fs::directory_iterator(root / "engine")) {
        const std::string ext = entry.path().extension();
        if (ext == ".cpp" || ext == ".h") files.push_back(entry.path());
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::istringstream lines(file_text(files[i]));
        for (std::string line; std::getline(lines, line);) {
            if (!line.starts_with("#include \"")) continue;
            const fs::path header = root / "common" / line.substr(10, line.rfind('"') - 10);
            if (!fs::exists(header) || !seen_common.insert(header.stem()).second) continue;
            files.push_back(header);
            if (fs::path code = fs::path(header).replace_extension(".cpp"); fs::exists(code)) files.push_back(code);
        }
    }
    return files;
}

std::set<std::string> messages_in(const std::vector<fs::path>& files) {
    std::set<std::string> messages;
    for (const fs::path& file : files) {
        for (std::string& text : string_literals(file_text(file))) {
            if (looks_like_a_message(text)) messages.insert(std::move(text));
        }
    }
    return messages;
}

TEST(RefusalTable, EveryMessageTheEngineCanPrintIsAnEntry) {
    const std::vector<fs::path> files = engine_sources();
    std::set<std::string> folders;
    for (const fs::path& file : files) folders.insert(file.parent_path().filename());
    ASSERT_EQ(folders, (std::set<std::string>{"common", "engine"}));
    const std::set<std::string> messages = messages_in(files);
    EXPECT_GE(messages.size(), 70u);
    for (const std::string& message : messages) {
        // A folder name the engine knows of, never printed.
        if (message == "Library/Application Support") continue;
        EXPECT_TRUE(table_holds(message)) << message;
    }
    // Failures of the system carry its own words and the error's number.
    for (const int error : {1, 2, 5, 13, 17, 28, 30}) EXPECT_TRUE(table_holds(system_error_text(error))) << error;
    EXPECT_FALSE(table_holds(system_error_text(EINVAL)));
}

TEST(RefusalTable, EveryEntryStandsInTheSourcesItComesFrom) {
    const fs::path root = VELMORA_SOURCE_DIR;
    const auto in_folder = [&](const std::string& folder) {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(root / folder)) {
            if (entry.path().extension() == ".cpp" || entry.path().extension() == ".h") files.push_back(entry.path());
        }
        return files;
    };
    const std::map<std::string, std::set<std::string>> sources{
        {"engine", messages_in(engine_sources())},
        {"backend", messages_in(in_folder("backend"))},
    };
    std::set<std::string> seen;
    for (const json& entry : refusal_table().at("refusals")) {
        const std::string from = entry.at("from");
        const std::string text = entry.contains("message") ? entry["message"] : entry.at("pattern");
        SCOPED_TRACE(text);
        EXPECT_TRUE(seen.insert(text).second) << "listed twice";
        EXPECT_TRUE(refusal_table().at("hints").contains(entry.at("hint").get<std::string>()));
        if (!entry.contains("message")) continue;
        if (from == "page") {
            // The page's own sources are checked by its tests.
            continue;
        }
        ASSERT_TRUE(sources.contains(from)) << from;
        EXPECT_TRUE(sources.at(from).contains(text)) << "not in " << from;
    }
}

struct CommandCase {
    const char* name;
    std::vector<std::string> args;  // after the program name
    int status;
    std::string out;  // exact, or "*version*"
    std::string err;
};

TEST(CommandLine, UsageVersionAndArity) {
    // clang-format off
    const CommandCase cases[] = {
        {"no_arguments", {}, 1, "", kUsage},
        {"version", {"--version"}, 0, "*version*", ""},
        {"version_with_more", {"--version", "probe", "x"}, 0, "*version*", ""},
        {"version_prefix_only", {"--versio"}, 1, "", kUsage},
        {"version_longer", {"--version2"}, 1, "", kUsage},
        {"probe_without_path", {"probe"}, 1, "", kUsage},
        {"probe_two_paths", {"probe", "a.mov", "b.mov"}, 1, "", kUsage},
        {"write_two_arguments", {"write", "a.mov", "b.mov"}, 1, "", kUsage},
        {"write_five_arguments", {"write", "a.mov", "b.mov", "00:00:00:00", "A001", "x"}, 1, "", kUsage},
        {"upper_case_word", {"PROBE", "a.mov"}, 1, "", kUsage},
        {"unknown_word", {"help"}, 1, "", kUsage},
        {"empty_word", {""}, 1, "", kUsage},
        {"first_argument_not_utf8", {"probe\xff", "a.mov"}, 1, "", kUsage},
        {"missing_file", {"probe", "/nonexistent/velmora.mov"}, 1, "", "No such file or directory (os error 2)\n"},
        {"write_timecode_not_utf8", {"write", "/nonexistent/in.mov", "/nonexistent/out.mov", "00:00:00:0\xff"}, 1, "",
         "Invalid timecode string\n"},
        // The optional fourth argument of write: the reel, 1 to 32 bytes of UTF-8 without control characters.
        {"reel_one_byte", write_with_reel("A"), 1, "", kNoInput},
        {"reel_32_bytes", write_with_reel(std::string(32, 'R')), 1, "", kNoInput},
        {"reel_32_bytes_of_two_byte_letters", write_with_reel("\xc3\xa9" + std::string(30, 'R')), 1, "", kNoInput},
        {"reel_33_bytes", write_with_reel(std::string(33, 'R')), 1, "", kInvalidReel},
        {"reel_empty", write_with_reel(""), 1, "", kInvalidReel},
        {"reel_with_a_tab", write_with_reel("A001\tC003"), 1, "", kInvalidReel},
        {"reel_with_delete", write_with_reel("A001\x7f"), 1, "", kInvalidReel},
        {"reel_with_a_c1_control", write_with_reel("A001\xc2\x85"), 1, "", kInvalidReel},
        {"reel_not_utf8", write_with_reel("A001\xff"), 1, "", kInvalidReel},
        {"timecode_checked_before_reel", write_with_reel("", "\xff"), 1, "", "Invalid timecode string\n"},
        // stamp INPUT TIMECODE [REEL] checks as write does; unstamp takes one path.
        {"stamp_without_timecode", {"stamp", "a.mov"}, 1, "", kUsage},
        {"stamp_four_arguments", {"stamp", "a.mov", "00:00:00:00", "A001", "x"}, 1, "", kUsage},
        {"stamp_missing_file", {"stamp", "/nonexistent/in.mov", "00:00:00:00", "A001"}, 1, "", kNoInput},
        {"stamp_timecode_not_utf8", {"stamp", "/nonexistent/in.mov", "00:00:00:0\xff"}, 1, "",
         "Invalid timecode string\n"},
        {"stamp_reel_33_bytes", {"stamp", "/nonexistent/in.mov", "00:00:00:00", std::string(33, 'R')}, 1, "",
         kInvalidReel},
        {"stamp_timecode_checked_before_reel", {"stamp", "/nonexistent/in.mov", "\xff", ""}, 1, "",
         "Invalid timecode string\n"},
        {"unstamp_without_path", {"unstamp"}, 1, "", kUsage},
        {"unstamp_two_paths", {"unstamp", "a.mov", "b.mov"}, 1, "", kUsage},
        {"unstamp_missing_file", {"unstamp", "/nonexistent/in.mov"}, 1, "", kNoInput},
    };
    // clang-format on
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> argv{VELMORA_ENGINE};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const auto result = run_program(argv);
        EXPECT_EQ(result.status, c.status);
        if (c.out == "*version*") {
            EXPECT_TRUE(result.out.starts_with("velmora-engine 0.5.0 (")) << result.out;
            EXPECT_TRUE(result.out.ends_with(")\n")) << result.out;
            EXPECT_EQ(result.out.find('\n'), result.out.size() - 1);
        } else {
            EXPECT_EQ(result.out, c.out);
        }
        EXPECT_EQ(result.err, c.err);
        if (!c.err.empty()) {
            EXPECT_TRUE(table_holds(c.err.substr(0, c.err.size() - 1))) << c.err;
        }
    }
}

TEST(CommandLine, ProbePrintsOneReportLine) {
    testing::MovieSpec recipe;
    testing::TempFile file(testing::build_movie_bytes(recipe));
    const auto result = run_program({VELMORA_ENGINE, "probe", file.path()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              "{\"engine\":\"velmora-native\",\"rate\":\"30000/1001\",\"duration\":0.33366666666666667,"
              "\"timecode\":null,\"createdUnix\":null,\"width\":320,\"height\":240,\"codec\":\"h264\","
              "\"videoIndex\":0,\"streams\":[{\"index\":0,\"trackId\":1,\"type\":\"video\",\"codec\":\"h264\","
              "\"tag\":\"avc1\",\"attachedPicture\":false}]}\n");
}

TEST(CommandLine, RefusedProbePrintsOnlyTheMessage) {
    testing::MovieSpec recipe;
    recipe.tracks[0] = testing::video_track("avc1", 100, 1);
    testing::TempFile file(testing::build_movie_bytes(recipe));
    const auto result = run_program({VELMORA_ENGINE, "probe", file.path()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Unsupported frame rate\n");
}

// A FIFO nobody writes to must not hold the probe in open().
TEST(CommandLine, ProbeOfAFifoIsRefusedAtOnce) {
    testing::TempDir dir;
    const std::string fifo = dir.file("FIFO.mov");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto result = run_program({VELMORA_ENGINE, "probe", fifo});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Input is not a regular file\n");
}

TEST(CommandLine, ProbeTakesRawBytePaths) {
    testing::TempDir dir;
    const std::string path = dir.file("\xff\xfe movie.mov");
    testing::write_file(path, testing::build_movie_bytes({}));
    const auto result = run_program({VELMORA_ENGINE, "probe", path});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out.starts_with("{\"engine\":\"velmora-native\""));
}

TEST(CommandLine, InvalidTimecodeOrReelTouchesNoFile) {
    struct Case {
        std::vector<std::string> text;  // the timecode, then the reel if any
        std::string err;
    };
    const Case cases[] = {
        {{"\xc3(:00:00:00"}, "Invalid timecode string\n"},
        {{"00:00:00:00", "A001\nC003"}, kInvalidReel},
    };
    for (const Case& c : cases)
        for (const bool stamp : {false, true}) {
            SCOPED_TRACE(c.err + (stamp ? " stamp" : " write"));
            testing::TempDir dir;
            const std::string input = dir.file("in.mov");
            const std::string output = dir.file("out.mov");
            const Bytes movie = testing::build_movie_bytes({});
            testing::write_file(input, movie);
            std::vector<std::string> argv{VELMORA_ENGINE, "write", input, output};
            if (stamp) argv = {VELMORA_ENGINE, "stamp", input};
            argv.insert(argv.end(), c.text.begin(), c.text.end());
            const auto result = run_program(argv);
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.err, c.err);
            EXPECT_EQ(result.out, "");
            struct stat status {};
            EXPECT_NE(::stat(output.c_str(), &status), 0);
            EXPECT_EQ(testing::read_file(input), movie);
        }
}

}  // namespace
}  // namespace velmora
