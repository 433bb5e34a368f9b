#include "bridge.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "page_script.h"

namespace velmora {
namespace {

constexpr const char* kUi = "/app/resources/ui";
constexpr const char* kPage = "file:///app/resources/ui/index.html";

// Paths resolve to themselves, except the links listed here.
PathResolver fake_resolver(std::map<std::string, std::string> links = {}) {
    return [links = std::move(links)](const std::string& path) -> std::optional<std::string> {
        if (auto link = links.find(path); link != links.end()) return link->second;
        return path;
    };
}

struct FakeHost : BridgeHost {
    struct Forwarded {
        std::string command;
        Json args;
        Completion done;
    };
    std::vector<Forwarded> forwarded;
    std::vector<std::pair<ChooserSpec, std::function<void(std::vector<std::string>)>>> choosers;
    std::vector<std::pair<std::string, Json>> emitted;
    std::vector<std::pair<SaveSpec, std::function<void(std::optional<SaveChoice>)>>> saves;

    void forward(const std::string& command, const Json& args, Completion done) override {
        forwarded.push_back({command, args, std::move(done)});
    }
    void choose(const ChooserSpec& recipe, std::function<void(std::vector<std::string>)> done) override {
        choosers.emplace_back(recipe, std::move(done));
    }
    void choose_save(const SaveSpec& recipe, std::function<void(std::optional<SaveChoice>)> done) override {
        saves.emplace_back(recipe, std::move(done));
    }
    void emit(std::string_view name, const Json& payload) override { emitted.emplace_back(std::string(name), payload); }
    std::vector<std::string> copied;
    void copy_text(const std::string& text) override { copied.push_back(text); }
    std::function<void()> on_batch_ended;
    void batch_ended() override {
        if (on_batch_ended) on_batch_ended();
    }
};

struct Answers {
    std::vector<Result<Json>> calls;
    Completion sink() {
        return [this](Result<Json> outcome) { calls.push_back(std::move(outcome)); };
    }
};

Json message(const std::string& command, Json args = Json::object()) {
    return Json{{"command", command}, {"args", std::move(args)}};
}

MessageOrigin page_origin() { return {true, std::string(kPage)}; }

class BridgeTest : public ::testing::Test {
protected:
    BridgeState state;
    FakeHost host;
    Bridge bridge{state, host, kUi, fake_resolver({{"/app/resources/ui/escape.html", "/etc/passwd"}})};
    Answers answers;

    void send(const Json& body, const MessageOrigin& origin = page_origin()) {
        bridge.handle_message(origin, body, answers.sink());
    }
};

TEST_F(BridgeTest, RefusesUntrustedMessages) {
    struct Case {
        const char* what;
        MessageOrigin origin;
        Json body;
    };
    const std::vector<Case> cases = {
        {"another view", {false, std::string(kPage)}, message("load_settings")},
        {"a view without a page", {true, std::nullopt}, message("load_settings")},
        {"a web page", {true, std::string("https://example.com/index.html")}, message("load_settings")},
        {"a file outside ui",
         {true, std::string("file:///app/resources/notices/index.html")},
         message("load_settings")},
        {"a folder that only starts alike",
         {true, std::string("file:///app/resources/ui2/index.html")},
         message("load_settings")},
        {"the ui folder itself", {true, std::string("file:///app/resources/ui")}, message("load_settings")},
        {"a link leading out of ui",
         {true, std::string("file:///app/resources/ui/escape.html")},
         message("load_settings")},
        {"a sub-frame (its guard strips the command)", page_origin(), Json{{"frame", "sub"}}},
        {"a command that is not text", page_origin(), Json{{"command", 3}}},
        {"a command that is null", page_origin(), Json{{"command", nullptr}, {"args", Json::object()}}},
        {"no command", page_origin(), Json::object()},
        {"a body that is a list", page_origin(), Json::array({"load_settings"})},
        {"a body that is text", page_origin(), Json("load_settings")},
    };
    for (const auto& c : cases) {
        answers.calls.clear();
        send(c.body, c.origin);
        ASSERT_EQ(answers.calls.size(), 1u) << c.what;
        EXPECT_EQ(answers.calls[0].error(), "Untrusted native request") << c.what;
    }
    EXPECT_TRUE(host.forwarded.empty());
    EXPECT_FALSE(state.ready);
}

TEST_F(BridgeTest, TheBodyIsExactlyWhatInvokePosts) {
    // {command, args} and nothing else: the page may post it by itself too.
    send(Json{{"command", "load_settings"}, {"args", Json::object()}});
    send(Json{{"command", "busy"}});
    ASSERT_EQ(host.forwarded.size(), 1u);
    EXPECT_EQ(host.forwarded[0].command, "load_settings");
    ASSERT_EQ(answers.calls.size(), 1u);
    EXPECT_EQ(answers.calls[0].error(), "Unknown or unavailable native command");
}

TEST_F(BridgeTest, AcceptsPagesAnywhereInsideUi) {
    for (const char* url : {"file:///app/resources/ui/index.html", "file:///app/resources/ui/sub/page.html?x=1#top",
                            "file://localhost/app/resources/ui/a%20b.html"}) {
        answers.calls.clear();
        send(message("ui_ready"), {true, std::string(url)});
        ASSERT_EQ(answers.calls.size(), 1u) << url;
        EXPECT_TRUE(answers.calls[0].has_value()) << url;
    }
}

TEST_F(BridgeTest, AllowListAndArguments) {
    struct Case {
        Json body;
        std::optional<Json> forwarded_args;  // nothing: refused
    };
    Json list_args = message("import_movies");
    list_args["args"] = Json::array({1, 2});
    Json no_args = message("load_settings");
    no_args.erase("args");
    const std::vector<Case> cases = {
        {message("load_settings"), Json::object()},
        {message("save_settings", {{"value", {{"start", "01:00:00:00"}}}}),
         Json{{"value", {{"start", "01:00:00:00"}}}}},
        {list_args, Json::object()},
        {no_args, Json::object()},
        {message("cancel"), Json::object()},
        {message("reveal", {{"file", "/x.mov"}}), Json{{"file", "/x.mov"}}},
        {message("third_party_notices"), Json::object()},
        {message("restore", {{"id", "4242-1-0"}}), Json{{"id", "4242-1-0"}}},
        {message("outputs_exist", {{"paths", {"/o/a_TC.mov"}}}), Json{{"paths", {"/o/a_TC.mov"}}}},
        {message("remove_backups", {{"ids", {"4242-1-0"}}}), Json{{"ids", {"4242-1-0"}}}},
        {message("busy"), std::nullopt},
        {message("shutdown"), std::nullopt},
        {message("Load_settings"), std::nullopt},
        {message(""), std::nullopt},
    };
    for (const auto& c : cases) {
        host.forwarded.clear();
        answers.calls.clear();
        send(c.body);
        if (c.forwarded_args) {
            ASSERT_EQ(host.forwarded.size(), 1u) << c.body.dump();
            EXPECT_EQ(host.forwarded[0].command, c.body.at("command").get<std::string>());
            EXPECT_EQ(host.forwarded[0].args, *c.forwarded_args);
            EXPECT_TRUE(answers.calls.empty()) << "answered only when the backend replies";
        } else {
            EXPECT_TRUE(host.forwarded.empty()) << c.body.dump();
            ASSERT_EQ(answers.calls.size(), 1u);
            EXPECT_EQ(answers.calls[0].error(), "Unknown or unavailable native command");
        }
    }
}

TEST_F(BridgeTest, PassesTheBackendsAnswerThroughUnchanged) {
    send(message("load_settings"));
    send(message("import_movies", {{"paths", Json::array()}}));
    host.forwarded[1].done(fail("Wait for the current batch to finish."));
    host.forwarded[0].done(Json{{"start", "00:00:00:00"}});
    ASSERT_EQ(answers.calls.size(), 2u);
    EXPECT_EQ(answers.calls[0].error(), "Wait for the current batch to finish.");
    EXPECT_EQ(*answers.calls[1], (Json{{"start", "00:00:00:00"}}));
}

TEST_F(BridgeTest, OneBatchAtATime) {
    // The page has its answer before the shell goes on with a waiting quit.
    std::vector<std::size_t> answered_when_ended;
    host.on_batch_ended = [&] { answered_when_ended.push_back(answers.calls.size()); };
    send(message("process_movies", {{"ids", {"a"}}}));
    EXPECT_TRUE(state.processing);
    send(message("process_movies", {{"ids", {"b"}}}));
    ASSERT_EQ(host.forwarded.size(), 1u);
    ASSERT_EQ(answers.calls.size(), 1u);
    EXPECT_EQ(answers.calls[0].error(), "Processing is already running");

    send(message("cancel"));  // still allowed while a batch runs
    ASSERT_EQ(host.forwarded.size(), 2u);

    host.forwarded[0].done(fail("The native backend stopped. Reopen Velmora before continuing."));
    EXPECT_FALSE(state.processing) << "an error reply ends the batch too";
    ASSERT_EQ(answers.calls.size(), 2u);
    EXPECT_EQ(answers.calls[1].error(), "The native backend stopped. Reopen Velmora before continuing.");

    send(message("process_movies", {{"ids", {"c"}}}));
    ASSERT_EQ(host.forwarded.size(), 3u);
    EXPECT_TRUE(state.processing);
    host.forwarded[2].done(Json::array());
    EXPECT_FALSE(state.processing);
    host.forwarded[1].done(Json());  // the cancel's reply is no batch's end
    EXPECT_EQ(answered_when_ended, (std::vector<std::size_t>{2, 3}));
}

TEST_F(BridgeTest, QuittingRefusesBackendCommandsButNotTheShellsOwn) {
    state.quitting = true;
    for (const char* command : {"load_settings", "process_movies", "cancel", "restore", "save_report"}) {
        answers.calls.clear();
        send(message(command));
        ASSERT_EQ(answers.calls.size(), 1u);
        EXPECT_EQ(answers.calls[0].error(), "Unknown or unavailable native command") << command;
    }
    EXPECT_FALSE(state.processing);
    answers.calls.clear();
    send(message("ui_ready"));
    send(message("destination"));
    EXPECT_EQ(answers.calls.size(), 1u);
    EXPECT_EQ(host.choosers.size(), 1u);
    EXPECT_TRUE(host.forwarded.empty());
}

TEST_F(BridgeTest, CopyTextGoesToTheClipboardAlsoWhileQuitting) {
    struct Case {
        Json args;
        bool quitting;
        std::optional<std::string> copied;  // nothing: refused with "Nothing to copy"
    };
    const std::vector<Case> cases = {
        {{{"text", "/movies/Velmora Output/clip_TC.mov"}}, false, "/movies/Velmora Output/clip_TC.mov"},
        {{{"text", ""}}, false, ""},
        {{{"text", "/é/\"q\".mov"}}, true, "/é/\"q\".mov"},
        {Json::object(), false, std::nullopt},
        {{{"text", 5}}, false, std::nullopt},
        {{{"text", nullptr}}, false, std::nullopt},
    };
    for (const auto& c : cases) {
        state.quitting = c.quitting;
        host.copied.clear();
        answers.calls.clear();
        send(message("copy_text", c.args));
        ASSERT_EQ(answers.calls.size(), 1u) << c.args.dump();
        if (c.copied) {
            EXPECT_EQ(host.copied, std::vector<std::string>{*c.copied});
            ASSERT_TRUE(answers.calls[0].has_value()) << c.args.dump();
            EXPECT_TRUE(answers.calls[0]->is_null());
        } else {
            EXPECT_TRUE(host.copied.empty()) << c.args.dump();
            EXPECT_EQ(answers.calls[0].error(), "Nothing to copy");
        }
        EXPECT_TRUE(host.forwarded.empty());
    }
}

TEST_F(BridgeTest, ReadinessDeliversHeldFilesOnce) {
    bridge.files_opened({"/m/a.mov"});
    bridge.files_opened({"/m/b.mp4", "/m/c.m4v"});
    EXPECT_TRUE(host.emitted.empty());
    send(message("ui_ready"));
    send(message("ui_ready"));
    ASSERT_EQ(host.emitted.size(), 1u);
    EXPECT_EQ(host.emitted[0].first, "native://drag-drop");
    EXPECT_EQ(host.emitted[0].second, (Json{{"paths", {"/m/a.mov", "/m/b.mp4", "/m/c.m4v"}}}));
    ASSERT_EQ(answers.calls.size(), 2u);
    EXPECT_EQ(*answers.calls[0], Json());
    EXPECT_EQ(*answers.calls[1], Json());
    EXPECT_TRUE(state.pending_files.empty());

    bridge.files_opened({"/m/d.mov"});
    ASSERT_EQ(host.emitted.size(), 2u);
    EXPECT_EQ(host.emitted[1].second, (Json{{"paths", {"/m/d.mov"}}}));
}

TEST_F(BridgeTest, ChoosersAndTheirAnswers) {
    struct Case {
        Json body;
        ChooserKind kind;
        bool directories, files, multiple;
        const char* title;
        std::vector<std::string> extensions;
        std::vector<std::string> chosen;
        Json answer;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {message("destination"), ChooserKind::destination, true, false, false, "Choose output folder", {}, {"/out", "/x"},
         "/out"},
        {message("destination"), ChooserKind::destination, true, false, false, "Choose output folder", {}, {}, Json()},
        {message("pick", {{"kind", "folder"}}), ChooserKind::folder, true, false, false, "Choose movie folder", {},
         {"/movies"}, Json::array({"/movies"})},
        {message("pick", {{"kind", "Folder"}}), ChooserKind::movies, false, true, true, "Choose movies",
         {"mov", "mp4", "m4v"}, {"/b.mov", "/a.mp4"}, Json::array({"/b.mov", "/a.mp4"})},
        {message("pick"), ChooserKind::movies, false, true, true, "Choose movies", {"mov", "mp4", "m4v"}, {},
         Json::array()},
    };
    // clang-format on
    for (const auto& c : cases) {
        host.choosers.clear();
        answers.calls.clear();
        send(c.body);
        ASSERT_EQ(host.choosers.size(), 1u) << c.body.dump();
        const auto& recipe = host.choosers[0].first;
        EXPECT_EQ(recipe.kind, c.kind);
        EXPECT_EQ(recipe.directories, c.directories);
        EXPECT_EQ(recipe.files, c.files);
        EXPECT_EQ(recipe.multiple, c.multiple);
        EXPECT_EQ(recipe.title, c.title);
        EXPECT_EQ(recipe.extensions, c.extensions);
        EXPECT_TRUE(answers.calls.empty()) << "answered when the chooser closes";
        host.choosers[0].second(c.chosen);
        ASSERT_EQ(answers.calls.size(), 1u);
        EXPECT_EQ(*answers.calls[0], c.answer) << c.body.dump();
    }
}

TEST_F(BridgeTest, SaveReportAsksWhereThenTheBackendWrites) {
    struct Case {
        const char* what;
        Json args;
        std::string folder, name;          // what the chooser suggests
        std::optional<SaveChoice> choice;  // nothing: cancelled
        std::optional<Json> backend_args;  // nothing: the backend is not asked
    };
    const std::string text = "Source path\r\n";
    // clang-format off
    const std::vector<Case> cases = {
        {"suggestions taken", {{"text", text}, {"folder", "/media/day1"}, {"name", "Velmora report 2026-12-08 11-05.csv"}},
         "/media/day1", "Velmora report 2026-12-08 11-05.csv", SaveChoice{"/media/day1/r.csv", false},
         Json{{"path", "/media/day1/r.csv"}, {"replace", false}, {"text", text}}},
        {"overwrite confirmed", {{"text", text}}, "", "Velmora report.csv", SaveChoice{"/media/r.csv", true},
         Json{{"path", "/media/r.csv"}, {"replace", true}, {"text", text}}},
        {"a name with a folder part and a relative folder are not suggested",
         {{"text", text}, {"folder", "media"}, {"name", "../x.csv"}}, "", "Velmora report.csv", std::nullopt,
         std::nullopt},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        host.saves.clear();
        host.forwarded.clear();
        answers.calls.clear();
        send(message("save_report", c.args));
        ASSERT_EQ(host.saves.size(), 1u);
        EXPECT_EQ(host.saves[0].first.title, "Save report");
        EXPECT_EQ(host.saves[0].first.folder, c.folder);
        EXPECT_EQ(host.saves[0].first.name, c.name);
        EXPECT_TRUE(answers.calls.empty());
        host.saves[0].second(c.choice);
        if (!c.backend_args) {
            EXPECT_TRUE(host.forwarded.empty());
            ASSERT_EQ(answers.calls.size(), 1u);
            EXPECT_EQ(*answers.calls[0], Json()) << "cancelled: null";
            continue;
        }
        ASSERT_EQ(host.forwarded.size(), 1u);
        EXPECT_EQ(host.forwarded[0].command, "save_report");
        EXPECT_EQ(host.forwarded[0].args, *c.backend_args);
        EXPECT_TRUE(answers.calls.empty()) << "answered when the backend has written";
        host.forwarded[0].done(Json());
        ASSERT_EQ(answers.calls.size(), 1u);
        EXPECT_EQ(*answers.calls[0], Json(c.choice->path));
    }

    // The backend's refusal reaches the page unchanged; quitting while the
    // chooser is open asks the backend nothing.
    host.saves.clear();
    host.forwarded.clear();
    answers.calls.clear();
    send(message("save_report", {{"text", text}}));
    send(message("save_report", {{"text", text}}));
    host.saves[0].second(SaveChoice{"/r.csv", false});
    host.forwarded[0].done(fail("File exists (os error 17)"));
    state.quitting = true;
    host.saves[1].second(SaveChoice{"/r.csv", false});
    EXPECT_EQ(host.forwarded.size(), 1u);
    ASSERT_EQ(answers.calls.size(), 2u);
    EXPECT_EQ(answers.calls[0].error(), "File exists (os error 17)");
    EXPECT_EQ(answers.calls[1].error(), "Unknown or unavailable native command");
}

}  // namespace
}  // namespace velmora
