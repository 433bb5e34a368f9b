// The request loop, driven through the real program's pipes.

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/backend_harness.h"

namespace velmora::testing {
namespace {

using nlohmann::json;

// Sends lines, then expects the run to end with status 1 and this error line.
struct FatalLineCase {
    const char* name;
    std::string line;
    std::string stderr_prefix;
};

void PrintTo(const FatalLineCase& c, std::ostream* out) { *out << c.name; }

class FatalLine : public ::testing::TestWithParam<FatalLineCase> {};

TEST_P(FatalLine, EndsTheRunWithoutAReply) {
    Backend backend;
    ASSERT_TRUE(backend.send_raw(GetParam().line));
    const auto status = backend.wait_exit();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(status->exited);
    EXPECT_EQ(status->code, 1);
    EXPECT_EQ(backend.read_line(std::chrono::milliseconds(200)), std::nullopt);
    const std::string text = backend.stderr_text();
    EXPECT_EQ(text.rfind(GetParam().stderr_prefix, 0), 0u) << text;
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Requests, FatalLine,
    ::testing::Values(FatalLineCase{"empty_line", "\n", "Error: "}, FatalLineCase{"crlf_only", "\r\n", "Error: "},
                      FatalLineCase{"not_json", "hello\n", "Error: "},
                      FatalLineCase{"trailing_text", "{\"command\":\"busy\"} x\n", "Error: "},
                      FatalLineCase{"numeric_command", "{\"id\":1,\"command\":5}\n", "Error: Missing command\n"},
                      FatalLineCase{"no_command", "{\"id\":1}\n", "Error: Missing command\n"},
                      FatalLineCase{"array_request", "[\"busy\"]\n", "Error: Missing command\n"},
                      FatalLineCase{"not_utf8", "{\"id\":1,\"command\":\"busy\",\"x\":\"\xff\"}\n",
                                    "Error: stream did not contain valid UTF-8\n"},
                      FatalLineCase{"overlong_utf8", "{\"command\":\"\xc0\xaf\"}\n",
                                    "Error: stream did not contain valid UTF-8\n"},
                      FatalLineCase{"deep_nesting", std::string(100000, '[') + "\n",
                                    "Error: recursion limit exceeded at line 1 column 513\n"},
                      FatalLineCase{"number_overflow", "{\"id\":1e400,\"command\":\"busy\"}\n",
                                    "Error: number overflow parsing '1e400' at line 1 column 11\n"},
                      FatalLineCase{"nul_byte", std::string("{\"command\":\"busy\"}\0\n", 20),
                                    "Error: syntax error - invalid character U+0000 at line 1 column 19\n"},
                      FatalLineCase{"byte_order_mark", "\xef\xbb\xbf{\"id\":1,\"command\":\"busy\"}\n", "Error: "},
                      FatalLineCase{"lone_surrogate_escape", "{\"command\":\"\\ud800\"}\n", "Error: "},
                      FatalLineCase{"unterminated_string", "{\"command\":\"busy\n",
                                    "Error: syntax error while parsing value - invalid string: missing closing quote; "
                                    "last read: '\"busy' at line 1 column 16\n"}),
    [](const auto& case_info) { return case_info.param.name; });

TEST(Startup, FailsWithoutResourcesArgument) {
    BackendOptions options;
    options.arguments = std::vector<std::string>{};
    Backend backend(options);
    const auto status = backend.wait_exit();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->code, 1);
    EXPECT_EQ(backend.stderr_text(), "Error: Missing resources\n");
}

TEST(Startup, FailsWithoutHome) {
    BackendOptions options;
    options.unset_home = true;
    Backend backend(options);
    const auto status = backend.wait_exit();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->code, 1);
    EXPECT_EQ(backend.stderr_text(), "Error: Application data directory is unavailable\n");
}

TEST(Startup, MissingResourcesWinsOverMissingHome) {
    BackendOptions options;
    options.arguments = std::vector<std::string>{};
    options.unset_home = true;
    Backend backend(options);
    ASSERT_TRUE(backend.wait_exit());
    EXPECT_EQ(backend.stderr_text(), "Error: Missing resources\n");
}

TEST(Startup, ExtraArgumentsAreIgnoredAndNothingNeedsToExist) {
    BackendOptions options;
    options.arguments = std::vector<std::string>{"/nonexistent/resources", "--verbose", "more"};
    Backend backend(options);
    const auto reply = backend.call("busy");
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, json::parse(R"({"id":1,"result":false})"));
}

TEST(Replies, AreCompactWithSortedKeysAndEchoTheId) {
    Backend backend;
    ASSERT_TRUE(backend.send_line(R"({"id":"abc","command":"busy"})"));
    EXPECT_EQ(backend.read_line(), R"({"id":"abc","result":false})");
    ASSERT_TRUE(backend.send_line(R"({"command":"busy"})"));
    EXPECT_EQ(backend.read_line(), R"({"id":null,"result":false})");
    ASSERT_TRUE(backend.send_line(R"({"command":"nope","id":{"b":[1,2.5],"a":true}})"));
    EXPECT_EQ(backend.read_line(), R"({"error":"Unknown native command","id":{"a":true,"b":[1,2.5]}})");
}

TEST(Replies, NumericIdsComeBackInTheirShortestForm) {
    Backend backend;
    const std::pair<const char*, const char*> ids[] = {
        {"5.522183333333333", "5.522183333333333"},
        {"[1e16,0.00001,1.5e-7,2.0,1e2]", "[1e16,0.00001,1.5e-7,2.0,100.0]"},
        {"18446744073709551615", "18446744073709551615"},
        {"-9223372036854775808", "-9223372036854775808"},
    };
    for (const auto& [sent, echoed] : ids) {
        ASSERT_TRUE(backend.send_line(std::string(R"({"command":"busy","id":)") + sent + "}"));
        EXPECT_EQ(backend.read_line(), std::string(R"({"id":)") + echoed + R"(,"result":false})") << sent;
    }
}

TEST(Replies, CrLfEndingIsAcceptedLikeLf) {
    Backend backend;
    ASSERT_TRUE(backend.send_raw("{\"id\":7,\"command\":\"busy\"}\r\n"));
    EXPECT_EQ(backend.read_line(), R"({"id":7,"result":false})");
    ASSERT_TRUE(backend.send_raw(" \t{\"id\":8,\"command\":\"busy\"} \r\n"));
    EXPECT_EQ(backend.read_line(), R"({"id":8,"result":false})");
}

TEST(Replies, LastLineWithoutLineFeedIsStillServed) {
    Backend backend;
    ASSERT_TRUE(backend.send_raw("{\"id\":1,\"command\":\"shutdown\"}"));
    backend.close_stdin();
    EXPECT_EQ(backend.read_line(), R"({"id":1,"result":null})");
    const auto status = backend.wait_exit();
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->success());
}

struct CommandErrorCase {
    const char* name;
    json request_args;  // null: no "args" member at all
    const char* command;
    const char* error;
};

void PrintTo(const CommandErrorCase& c, std::ostream* out) { *out << c.name; }

class CommandError : public ::testing::TestWithParam<CommandErrorCase> {};

TEST_P(CommandError, IsAnErrorReplyAndServingGoesOn) {
    Backend backend;
    json request = {{"id", 1}, {"command", GetParam().command}};
    if (!GetParam().request_args.is_null()) request["args"] = GetParam().request_args;
    ASSERT_TRUE(backend.send(request));
    const auto reply = backend.read_reply(1);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, (json{{"id", 1}, {"error", GetParam().error}}));
    const auto after = backend.call("busy");
    ASSERT_TRUE(after);
    EXPECT_EQ((*after)["result"], false);
}

INSTANTIATE_TEST_SUITE_P(
    Dispatch, CommandError,
    ::testing::Values(
        CommandErrorCase{"wrong_case", json::object(), "Load_settings", "Unknown native command"},
        CommandErrorCase{"upper_case_busy", json::object(), "BUSY", "Unknown native command"},
        CommandErrorCase{"empty_command", json::object(), "", "Unknown native command"},
        CommandErrorCase{"trailing_space", json::object(), "busy ", "Unknown native command"},
        CommandErrorCase{"import_without_args", nullptr, "import_movies", "invalid type: null, expected a sequence"},
        CommandErrorCase{"import_args_not_object", json::array({"paths"}), "import_movies",
                         "invalid type: null, expected a sequence"},
        CommandErrorCase{"import_string_paths", json{{"paths", "x"}}, "import_movies",
                         "invalid type: string \"x\", expected a sequence"},
        CommandErrorCase{"import_numeric_path", json{{"paths", json::array({"a", 5})}}, "import_movies",
                         "invalid type: integer `5`, expected a string"},
        CommandErrorCase{"process_without_args", nullptr, "process_movies", "invalid type: null, expected a sequence"},
        CommandErrorCase{"process_string_ids", json{{"ids", "abc"}, {"timecodes", json::object()}}, "process_movies",
                         "invalid type: string \"abc\", expected a sequence"},
        CommandErrorCase{"process_without_timecodes", json{{"ids", json::array()}}, "process_movies",
                         "invalid type: null, expected a map"},
        CommandErrorCase{"process_timecodes_array", json{{"ids", json::array()}, {"timecodes", json::array()}},
                         "process_movies", "invalid type: sequence, expected a map"},
        CommandErrorCase{"process_timecode_number", json{{"ids", json::array({"a"})}, {"timecodes", json{{"a", 1.5}}}},
                         "process_movies", "invalid type: floating point `1.5`, expected a string"},
        CommandErrorCase{"process_ids_checked_first", json{{"ids", true}, {"timecodes", 3}}, "process_movies",
                         "invalid type: boolean `true`, expected a sequence"},
        CommandErrorCase{"process_reels_array",
                         json{{"ids", json::array()}, {"timecodes", json::object()}, {"reels", json::array()}},
                         "process_movies", "invalid type: sequence, expected a map"},
        CommandErrorCase{"process_reels_null",
                         json{{"ids", json::array()}, {"timecodes", json::object()}, {"reels", nullptr}},
                         "process_movies", "invalid type: null, expected a map"},
        CommandErrorCase{
            "process_reel_number",
            json{{"ids", json::array({"a"})}, {"timecodes", json{{"a", "01:00:00:00"}}}, {"reels", json{{"a", 7}}}},
            "process_movies", "invalid type: integer `7`, expected a string"},
        CommandErrorCase{"process_timecodes_checked_before_reels",
                         json{{"ids", json::array()}, {"timecodes", 3}, {"reels", true}}, "process_movies",
                         "invalid type: integer `3`, expected a map"}),
    [](const auto& case_info) { return case_info.param.name; });

TEST(Cancel, AnswersNullAndBusyStaysFalse) {
    Backend backend;
    const auto cancelled = backend.call("cancel");
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(*cancelled, json::parse(R"({"id":1,"result":null})"));
    const auto busy = backend.call("busy");
    ASSERT_TRUE(busy);
    EXPECT_EQ(*busy, json::parse(R"({"id":2,"result":false})"));
}

TEST(Shutdown, RepliesWithTheIdAndExitsWithoutReadingFurther) {
    Backend backend;
    ASSERT_TRUE(backend.send_line(R"({"id":"bye","command":"shutdown","args":5})"
                                  "\n"
                                  R"({"id":2,"command":"busy"})"));
    EXPECT_EQ(backend.read_line(), R"({"id":"bye","result":null})");
    const auto status = backend.wait_exit();
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->success());
    EXPECT_EQ(backend.read_line(std::chrono::milliseconds(200)), std::nullopt);
    EXPECT_EQ(backend.stderr_text(), "");
}

TEST(EndOfInput, ExitsWithStatusZero) {
    Backend backend;
    backend.close_stdin();
    const auto status = backend.wait_exit();
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->success());
    EXPECT_EQ(backend.stderr_text(), "");
}

TEST(HugeLine, IsParsedAndItsIdEchoed) {
    Backend backend;
    const std::string big(8 << 20, 'x');
    ASSERT_TRUE(backend.send({{"id", big}, {"command", "busy"}}));
    const auto line = backend.read_line(std::chrono::milliseconds(30000));
    ASSERT_TRUE(line);
    EXPECT_EQ(*line, "{\"id\":\"" + big + "\",\"result\":false}");
}

TEST(Nesting, AtTheLimitIsAcceptedAsAnId) {
    Backend backend;
    const std::string id = std::string(511, '[') + std::string(511, ']');
    ASSERT_TRUE(backend.send_line("{\"command\":\"busy\",\"id\":" + id + "}"));
    EXPECT_EQ(backend.read_line(), "{\"id\":" + id + ",\"result\":false}");
}

TEST(BrokenOutput, RequestsAreStillServed) {
    Backend backend;
    backend.close_stdout();
    ASSERT_TRUE(backend.send_line(R"({"id":1,"command":"busy"})"));
    ASSERT_TRUE(backend.send_line(R"({"id":2,"command":"save_settings","args":{"value":{"mode":"drop"}}})"));
    ASSERT_TRUE(backend.send_line(R"({"id":3,"command":"shutdown"})"));
    const auto status = backend.wait_exit();
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->exited) << "killed by signal " << status->signal;
    EXPECT_EQ(status->code, 0);
    const auto stored = read_file(backend.data_dir() + "/settings.json");
    ASSERT_TRUE(stored);
    EXPECT_EQ(json::parse(*stored)["mode"], "drop");
}

TEST(BlockedOutput, DoesNotKeepTheServiceAliveAtEndOfInput) {
    Backend backend;
    // Nobody reads the replies: the pipe fills and the writers block; the
    // reader must still see the end of its input and leave.
    for (int i = 0; i < 400; ++i) ASSERT_TRUE(backend.send_line(R"({"id":1,"command":"load_settings"})"));
    backend.close_stdin();
    const auto status = backend.wait_exit(std::chrono::milliseconds(20000));
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->success());
}

}  // namespace
}  // namespace velmora::testing
