#include "commands.h"

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "backend_client.h"
#include "batch_plan.h"
#include "paths.h"
#include "probe_table.h"
#include "progress_line.h"
#include "report_csv.h"

namespace velmora::cli {

namespace {

void print_line(std::FILE* stream, const std::string& text) {
    std::fputs((text + "\n").c_str(), stream);
    std::fflush(stream);
}

std::string compact(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

// A scratch HOME for --defaults: a backend started there finds no saved
// settings and answers the defaults. Removed with everything in it.
class ScratchHome {
public:
    ScratchHome() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-defaults-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchHome() {
        std::error_code ignored;
        if (path_) std::filesystem::remove_all(*path_, ignored);
    }
    ScratchHome(const ScratchHome&) = delete;
    ScratchHome& operator=(const ScratchHome&) = delete;
    const std::optional<std::string>& path() const { return path_; }

private:
    std::optional<std::string> path_;
};

// Paths as given, made absolute: the backend's working folder is ours, but
// the names it answers are compared with what the user typed.
Json absolute_paths(const std::vector<std::string>& paths) {
    Json out = Json::array();
    for (const auto& path : paths) {
        std::error_code error;
        const auto absolute = std::filesystem::absolute(path, error);
        out.push_back(error ? path : absolute.string());
    }
    return out;
}

bool flag_in(const Json& settings, const char* key) {
    const auto member = settings.find(key);
    return member != settings.end() && member->is_boolean() && member->get<bool>();
}

// Refused paths of an import, each on standard error; true when there were any.
bool report_import_errors(const Json& imported, bool json) {
    const auto errors = imported.value("errors", Json::array());
    for (const auto& error : errors) {
        const auto name = text_member(error, "name");
        const auto message = text_member(error, "message");
        if (json)
            print_line(stdout, compact({{"name", name}, {"error", message}, {"state", "refused"}}));
        else
            print_line(stderr, name + ": " + message);
    }
    return !errors.empty();
}

struct Session {
    ScratchHome scratch;
    std::optional<BackendClient> backend;
    Json settings;
};

// The backend started, the settings read (saved or default) and this run's changes applied.
Result<Session*> open_session(Session& session, const Arguments& arguments, const std::string& resources) {
    std::optional<std::string> home;
    if (arguments.defaults) {
        if (!session.scratch.path()) return fail("cannot make a temporary folder");
        home = session.scratch.path();
    }
    TRY(auto backend, BackendClient::start(resources, home));
    session.backend.emplace(std::move(backend));
    TRY(session.settings, session.backend->call("load_settings", Json::object()));
    session.settings.update(arguments.changes);
    return &session;
}

Result<Json> import(Session& session, const Arguments& arguments) {
    return session.backend->call("import_movies", {{"paths", absolute_paths(arguments.paths)},
                                                   {"recursive", flag_in(session.settings, "recursive")}});
}

int finish(Result<int> status, Session& session) {
    if (session.backend && session.backend->interrupted()) return kExitInterrupted;
    if (status) return *status;
    print_line(stderr, "velmora: " + status.error());
    return kExitFailed;
}

// --- probe

Result<int> probe(Session& session, const Arguments& arguments) {
    TRY(const auto imported, import(session, arguments));
    const bool refused = report_import_errors(imported, arguments.json);
    const auto files = imported.value("files", Json::array());
    if (arguments.json) {
        for (const auto& record : files) print_line(stdout, compact(record));
    } else if (!files.empty()) {
        std::fputs(probe_table(files).c_str(), stdout);
    }
    return refused ? kExitFailed : kExitDone;
}

// --- stamp

void print_plan(const std::vector<PlannedMovie>& movies, const Json& settings, bool json) {
    std::size_t position = 0;
    for (const auto& movie : movies) {
        const auto path = text_member(movie.record, "path");
        Json line = {{"path", path}, {"start", movie.start ? Json(*movie.start) : Json()}};
        if (movie.reel) line["reel"] = *movie.reel;
        if (!movie.start) {
            line["error"] = movie.problem;
        } else if (auto output = planned_output(movie, settings, position++)) {
            line["output"] = *output;
        } else {
            line["error"] = output.error();
        }
        if (json)
            print_line(stdout, compact(line));
        else if (line.contains("output"))
            print_line(stdout, path + "\t" + *movie.start + "\t" + text_member(line, "output"));
        else
            print_line(stdout, path + "\t-\t" + text_member(line, "error"));
    }
}

void print_result(const Json& result, const std::string& path, const std::string& start, bool json) {
    if (json) {
        Json line = result;
        line["path"] = path;
        print_line(stdout, compact(line));
        return;
    }
    const auto state = text_member(result, "state");
    if (state == "done")
        print_line(stdout, "done\t" + path + "\t" + start + "\t" + text_member(result, "output"));
    else if (state == "skipped")
        print_line(stdout, "skipped\t" + path + "\t" + text_member(result, "message"));
    else
        print_line(stdout, "failed\t" + path + "\t" + text_member(result, "error"));
}

// The progress line while a batch runs, on standard error; cleared at the end.
class ProgressShown {
public:
    ProgressShown(std::vector<std::uint64_t> sizes, bool shown)
        : line_(std::move(sizes)), shown_(shown), terminal_(::isatty(STDERR_FILENO) == 1) {}
    ~ProgressShown() {
        if (shown_ && terminal_ && drawn_) std::fputs("\r\x1b[K", stderr);
    }
    ProgressShown(const ProgressShown&) = delete;
    ProgressShown& operator=(const ProgressShown&) = delete;

    void on_event(const std::string& name, const Json& payload) {
        if (name != "progress" || !shown_) return;
        line_.update(payload);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started_;
        const auto text = line_.text(elapsed.count());
        if (text == last_) return;
        last_ = text;
        drawn_ = true;
        std::fputs(terminal_ ? ("\r" + text + "\x1b[K").c_str() : (text + "\n").c_str(), stderr);
        std::fflush(stderr);
    }

private:
    ProgressLine line_;
    bool shown_;
    bool terminal_;
    bool drawn_ = false;
    std::string last_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

Result<Json> run_batch(Session& session, const std::vector<PlannedMovie>& movies, const Arguments& arguments) {
    std::vector<std::uint64_t> sizes;
    for (const auto& movie : movies) {
        if (movie.start) sizes.push_back(size_member(movie.record));
    }
    ProgressShown progress(std::move(sizes), arguments.progress || ::isatty(STDERR_FILENO) == 1);
    return session.backend->call(
        "process_movies", batch_request(movies, session.settings),
        [&](const std::string& name, const Json& payload) { progress.on_event(name, payload); });
}

// Each movie's outcome printed; the exit status they add up to.
int report_results(const std::vector<PlannedMovie>& movies, const Json& outcome, bool json) {
    int status = kExitDone;
    const auto results = outcome.value("results", Json::array());
    for (const auto& movie : movies) {
        const auto id = text_member(movie.record, "id");
        const auto path = text_member(movie.record, "path");
        if (!movie.start) {
            print_result({{"id", id}, {"state", "error"}, {"error", movie.problem}}, path, "", json);
            status = kExitFailed;
            continue;
        }
        for (const auto& result : results) {
            if (text_member(result, "id") != id) continue;
            print_result(result, path, *movie.start, json);
            const auto state = text_member(result, "state");
            if (state != "done" && state != "skipped") status = kExitFailed;
        }
    }
    return status;
}

Result<int> stamp(Session& session, const Arguments& arguments) {
    TRY(const auto imported, import(session, arguments));
    const bool refused = report_import_errors(imported, arguments.json);
    if (session.backend->interrupted()) return kExitInterrupted;
    const auto movies = plan_batch(imported.value("files", Json::array()), session.settings);
    if (arguments.dry_run) {
        print_plan(movies, session.settings, arguments.json);
        const bool all_start =
            std::all_of(movies.begin(), movies.end(), [](const auto& m) { return m.start.has_value(); });
        return refused || !all_start ? kExitFailed : kExitDone;
    }
    Json outcome = {{"cancelled", false}, {"results", Json::array()}};
    const bool any = std::any_of(movies.begin(), movies.end(), [](const auto& m) { return m.start.has_value(); });
    if (any) {
        TRY(outcome, run_batch(session, movies, arguments));
    }
    int status = report_results(movies, outcome, arguments.json);
    if (arguments.report) {
        const auto text = report_csv(movies, imported.value("errors", Json::array()), outcome, session.settings);
        if (auto saved = session.backend->call(
                "save_report", {{"path", absolute_paths({*arguments.report})[0]}, {"text", text}, {"replace", true}});
            !saved) {
            print_line(stderr, "velmora: " + saved.error());
            status = kExitFailed;
        }
    }
    if (outcome.value("cancelled", false)) return kExitInterrupted;
    return refused ? kExitFailed : status;
}

// --- restore

bool has_something_to_restore(const Json& record) {
    if (flag_in(record, "appended")) return true;
    for (const auto& backup : record.value("backups", Json::array())) {
        if (flag_in(backup, "original")) return true;
    }
    return false;
}

Result<int> restore(Session& session, const Arguments& arguments) {
    TRY(const auto imported, import(session, arguments));
    int status = report_import_errors(imported, false) ? kExitFailed : kExitDone;
    for (const auto& record : imported.value("files", Json::array())) {
        const auto path = text_member(record, "path");
        // Found in a folder, a movie without a stamp is not what was meant.
        const bool given_directly = !record.contains("card") || record["card"].is_null();
        if (!given_directly && !has_something_to_restore(record)) continue;
        auto restored = session.backend->call("restore", {{"id", text_member(record, "id")}});
        if (restored) {
            print_line(stdout, "restored\t" + path);
        } else {
            print_line(stdout, "failed\t" + path + "\t" + restored.error());
            status = kExitFailed;
        }
    }
    return status;
}

}  // namespace

int run_probe(const Arguments& arguments, const std::string& resources) {
    Session session;
    auto opened = open_session(session, arguments, resources);
    return finish(opened ? probe(session, arguments) : Result<int>(fail(opened.error())), session);
}

int run_stamp(const Arguments& arguments, const std::string& resources) {
    Session session;
    auto opened = open_session(session, arguments, resources);
    return finish(opened ? stamp(session, arguments) : Result<int>(fail(opened.error())), session);
}

int run_restore(const Arguments& arguments, const std::string& resources) {
    Session session;
    auto opened = open_session(session, arguments, resources);
    return finish(opened ? restore(session, arguments) : Result<int>(fail(opened.error())), session);
}

int run_window(const Arguments& arguments, const std::string& resources) {
    const std::string installed = join_path(parent_folder(resources), "Velmora");
    const std::string built = join_path(parent_folder(resources), "shell/Velmora");
    const std::string shell = ::access(installed.c_str(), X_OK) == 0 ? installed : built;
    std::vector<std::string> words = {shell};
    for (const auto& path : absolute_paths(arguments.paths)) words.push_back(path.get<std::string>());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    ::execv(shell.c_str(), argv.data());
    print_line(stderr, "velmora: cannot start the window (" + installed + " or " + built + ")");
    return kExitFailed;
}

}  // namespace velmora::cli
