#include "backend_client.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace velmora {
namespace {

class FakeLink : public BackendLink {
public:
    bool alive = true;
    std::optional<std::string> write_error;
    std::vector<std::string> written;

    bool running() const override { return alive; }
    Status write(std::string_view bytes) override {
        if (write_error) return fail(*write_error);
        written.emplace_back(bytes);
        return {};
    }
};

// Records every completion call so that a test can check "exactly once".
struct Outcomes {
    std::vector<Result<Json>> calls;
    Completion sink() {
        return [this](Result<Json> outcome) { calls.push_back(std::move(outcome)); };
    }
};

TEST(LineSplitter, CutsLinesAcrossReads) {
    struct Case {
        std::vector<std::string> reads;
        std::vector<std::string> lines;
        std::size_t left;
    };
    const std::vector<Case> cases = {
        {{"{\"id\":1}\n{\"id\":2}\n"}, {"{\"id\":1}", "{\"id\":2}"}, 0},
        {{"{\"id\"", ":1}\n"}, {"{\"id\":1}"}, 0},
        {{"a\nb", "c\n", "d"}, {"a", "bc"}, 1},
        {{"\n\n"}, {"", ""}, 0},
        {{"no line feed yet"}, {}, 16},
        {{"x\r\n"}, {"x\r"}, 0},
    };
    for (const auto& c : cases) {
        LineSplitter splitter;
        std::vector<std::string> lines;
        for (const auto& read : c.reads) {
            for (auto& line : splitter.feed(read)) lines.push_back(line);
        }
        EXPECT_EQ(lines, c.lines) << c.reads.front();
        EXPECT_EQ(splitter.pending_bytes(), c.left) << c.reads.front();
    }
}

TEST(ParseBackendLine, KeepsObjectsOnly) {
    EXPECT_TRUE(parse_backend_line("{\"id\":1,\"result\":null}"));
    EXPECT_TRUE(parse_backend_line(" {}\r"));
    for (const char* dropped : {"", "[1,2]", "42", "\"text\"", "{\"id\":1", "not json", "{} {}"}) {
        EXPECT_FALSE(parse_backend_line(dropped)) << dropped;
    }
}

TEST(BackendClient, NumbersRequestsFromOneEvenWhenSerializationFails) {
    FakeLink link;
    BackendClient client(link);
    Outcomes outcomes;
    client.request("load_settings", outcomes.sink());
    client.request("save_settings", Json{{"value", "\xff"}}, outcomes.sink());  // not UTF-8: cannot be written
    client.request("busy", outcomes.sink());

    ASSERT_EQ(link.written.size(), 2u);
    EXPECT_EQ(parse_json(link.written[0]).value(),
              (Json{{"id", 1}, {"command", "load_settings"}, {"args", Json::object()}}));
    EXPECT_EQ(parse_json(link.written[1]).value().at("id"), 3);
    EXPECT_EQ(link.written[0].back(), '\n');
    EXPECT_EQ(link.written[0].find(' '), std::string::npos) << "requests are compact";
    ASSERT_EQ(outcomes.calls.size(), 1u);
    EXPECT_FALSE(outcomes.calls[0].has_value());
    EXPECT_EQ(client.pending(), 2u);
}

TEST(BackendClient, RepliesCompleteTheirOwnRequestOnce) {
    struct Case {
        const char* reply;
        std::optional<Json> result;  // nothing: an error is expected
        std::string error;
    };
    const std::vector<Case> cases = {
        {R"({"id":1,"result":{"a":1}})", Json{{"a", 1}}, ""},
        {R"({"id":1})", Json(), ""},
        {R"({"id":1,"result":null})", Json(), ""},
        {R"({"error":"Unknown native command","id":1})", std::nullopt, "Unknown native command"},
        {R"({"error":7,"id":1,"result":[1]})", Json::array({1}), ""},
        {R"({"error":7,"id":1})", Json(), ""},
    };
    for (const auto& c : cases) {
        FakeLink link;
        BackendClient client(link);
        Outcomes outcomes;
        client.request("load_settings", outcomes.sink());
        client.dispatch(parse_json(c.reply).value());
        client.dispatch(parse_json(c.reply).value());  // a second reply to the same number is ignored
        ASSERT_EQ(outcomes.calls.size(), 1u) << c.reply;
        if (c.result) {
            ASSERT_TRUE(outcomes.calls[0].has_value()) << c.reply;
            EXPECT_EQ(*outcomes.calls[0], *c.result) << c.reply;
        } else {
            ASSERT_FALSE(outcomes.calls[0].has_value()) << c.reply;
            EXPECT_EQ(outcomes.calls[0].error(), c.error);
        }
    }
}

TEST(BackendClient, RepliesArriveInAnyOrder) {
    FakeLink link;
    BackendClient client(link);
    std::vector<std::string> order;
    client.request("import_movies", [&](Result<Json> r) { order.push_back("import " + r->dump()); });
    client.request("cancel", [&](Result<Json> r) { order.push_back("cancel " + r->dump()); });
    client.dispatch(parse_json(R"({"id":2,"result":null})").value());
    client.dispatch(parse_json(R"({"id":1,"result":{"files":[]}})").value());
    EXPECT_EQ(order, (std::vector<std::string>{"cancel null", "import {\"files\":[]}"}));
}

TEST(BackendClient, EventsGoToTheHandlerAndNeverCompleteARequest) {
    FakeLink link;
    BackendClient client(link);
    Outcomes outcomes;
    std::vector<std::pair<std::string, Json>> events;
    client.set_on_event([&](const std::string& name, const Json& payload) { events.emplace_back(name, payload); });
    client.request("a", outcomes.sink());
    client.request("b", outcomes.sink());
    client.request("c", outcomes.sink());

    client.dispatch(parse_json(R"({"event":"progress","id":3,"payload":{"index":0}})").value());
    client.dispatch(parse_json(R"({"event":"progress","id":3})").value());
    client.dispatch(parse_json(R"({"event":5,"id":3,"result":"done"})").value());  // not a text event: a reply

    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], (std::pair<std::string, Json>{"progress", Json{{"index", 0}}}));
    EXPECT_EQ(events[1], (std::pair<std::string, Json>{"progress", Json()}));
    ASSERT_EQ(outcomes.calls.size(), 1u);
    EXPECT_EQ(*outcomes.calls[0], "done");
    EXPECT_EQ(client.pending(), 2u);
}

TEST(BackendClient, IgnoresMessagesThatAreNeitherEventNorKnownReply) {
    FakeLink link;
    BackendClient client(link);
    Outcomes outcomes;
    int events = 0;
    client.set_on_event([&](const std::string&, const Json&) { ++events; });
    client.request("a", outcomes.sink());
    for (const char* text : {R"({})", R"({"id":"1","result":1})", R"({"id":1.5,"result":1})", R"({"id":9,"result":1})",
                             R"({"result":1})"}) {
        client.dispatch(parse_json(text).value());
    }
    EXPECT_TRUE(outcomes.calls.empty());
    EXPECT_EQ(events, 0);
    EXPECT_EQ(client.pending(), 1u);
}

TEST(BackendClient, FailedWriteBecomesTheCompletionsError) {
    FakeLink link;
    link.write_error = "Broken pipe (os error 32)";
    BackendClient client(link);
    Outcomes outcomes;
    client.request("load_settings", outcomes.sink());
    ASSERT_EQ(outcomes.calls.size(), 1u);
    EXPECT_EQ(outcomes.calls[0].error(), "Broken pipe (os error 32)");
    EXPECT_EQ(client.pending(), 0u);
    EXPECT_EQ(client.sequence(), 1);
}

TEST(BackendClient, StoppedBackendFailsPendingThenRefusesAtOnce) {
    FakeLink link;
    BackendClient client(link);
    Outcomes outcomes;
    client.request("import_movies", outcomes.sink());
    client.request("process_movies", outcomes.sink());
    link.alive = false;
    client.backend_stopped();
    ASSERT_EQ(outcomes.calls.size(), 2u);
    for (const auto& call : outcomes.calls) EXPECT_EQ(call.error(), kBackendStopped);

    client.request("load_settings", outcomes.sink());
    ASSERT_EQ(outcomes.calls.size(), 3u);
    EXPECT_EQ(outcomes.calls[2].error(), "The native backend is unavailable.");
    EXPECT_EQ(link.written.size(), 2u) << "nothing is written to a stopped backend";
    EXPECT_EQ(client.sequence(), 2) << "a refused request consumes no number";
}

TEST(BackendClient, CompletionMaySendTheNextRequest) {
    FakeLink link;
    BackendClient client(link);
    Outcomes outcomes;
    client.request("a", [&](Result<Json>) { client.request("b", outcomes.sink()); });
    client.dispatch(parse_json(R"({"id":1,"result":null})").value());
    ASSERT_EQ(link.written.size(), 2u);
    EXPECT_EQ(parse_json(link.written[1]).value().at("id"), 2);
    client.dispatch(parse_json(R"({"id":2,"result":true})").value());
    ASSERT_EQ(outcomes.calls.size(), 1u);
    EXPECT_EQ(*outcomes.calls[0], true);
}

}  // namespace
}  // namespace velmora
