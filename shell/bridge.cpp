#include "bridge.h"

#include <array>

#include "names.h"

namespace velmora {

namespace {

constexpr std::string_view kUntrustedRequest = "Untrusted native request";
constexpr std::string_view kUnavailableCommand = "Unknown or unavailable native command";
constexpr std::string_view kProcessingRunning = "Processing is already running";
constexpr std::string_view kNothingToCopy = "Nothing to copy";

// The backend's commands the page may send through the bridge.
constexpr std::array kBackendCommands = {
    backend_command::kLoadSettings,      backend_command::kSaveSettings, backend_command::kImportMovies,
    backend_command::kProcessMovies,     backend_command::kCancel,       backend_command::kReveal,
    backend_command::kThirdPartyNotices, backend_command::kRestore,      backend_command::kOutputsExist,
    backend_command::kRemoveBackups,
};

constexpr const char* kDefaultReportName = "Velmora report.csv";

// A suggestion is only a name: no folder part, nothing the chooser would
// read differently.
bool plain_file_name(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string string_arg(const Json& args, const char* key) {
    auto found = args.find(key);
    return found != args.end() && found->is_string() ? found->get<std::string>() : std::string();
}

Json paths_payload(const std::vector<std::string>& paths) { return Json{{"paths", paths}}; }

}  // namespace

ChooserSpec chooser_for(std::string_view command, const Json& args) {
    if (command == "destination") return {ChooserKind::destination, true, false, false, "Choose output folder", {}};
    auto kind = args.find("kind");
    if (kind != args.end() && *kind == "folder") {
        return {ChooserKind::folder, true, false, false, "Choose movie folder", {}};
    }
    return {ChooserKind::movies, false, true, true, "Choose movies", {"mov", "mp4", "m4v"}};
}

Json chooser_answer(ChooserKind kind, const std::vector<std::string>& paths) {
    if (kind != ChooserKind::destination) return Json(paths);
    return paths.empty() ? Json() : Json(paths.front());
}

SaveSpec save_chooser_for(const Json& args) {
    std::string folder = string_arg(args, "folder");
    if (!folder.starts_with('/') || folder.find('\0') != std::string::npos) folder.clear();
    std::string name = string_arg(args, "name");
    if (!plain_file_name(name)) name = kDefaultReportName;
    return {"Save report", std::move(folder), std::move(name)};
}

bool is_backend_command(std::string_view command) {
    for (auto known : kBackendCommands) {
        if (command == known) return true;
    }
    return false;
}

Bridge::Bridge(BridgeState& state, BridgeHost& host, std::string ui_folder, PathResolver resolve)
    : state_(state), host_(host), ui_folder_(std::move(ui_folder)), resolve_(std::move(resolve)) {}

bool Bridge::trusted(const MessageOrigin& origin, const Json& body) const {
    if (!origin.from_application_view || !origin.page_url) return false;
    if (!file_url_inside(*origin.page_url, ui_folder_, resolve_)) return false;
    // A sub-frame's message arrives without "command" (see frame_guard_script).
    if (!body.is_object()) return false;
    auto command = body.find("command");
    return command != body.end() && command->is_string();
}

void Bridge::handle_message(const MessageOrigin& origin, const Json& body, Completion answer) {
    if (!trusted(origin, body)) {
        answer(fail(std::string(kUntrustedRequest)));
        return;
    }
    const auto command = body.at("command").get<std::string>();
    auto found = body.find("args");
    const Json args = found != body.end() && found->is_object() ? *found : Json::object();

    if (command == "ui_ready") {
        state_.ready = true;
        if (!state_.pending_files.empty()) {
            auto files = std::exchange(state_.pending_files, {});
            host_.emit(page_event::kDragDrop, paths_payload(files));
        }
        answer(Json());
        return;
    }
    if (command == "pick" || command == "destination") {
        auto recipe = chooser_for(command, args);
        host_.choose(recipe, [kind = recipe.kind, answer = std::move(answer)](const std::vector<std::string>& paths) {
            answer(chooser_answer(kind, paths));
        });
        return;
    }
    if (command == "copy_text") {
        auto text = args.find("text");
        if (text == args.end() || !text->is_string()) return answer(fail(std::string(kNothingToCopy)));
        host_.copy_text(text->get<std::string>());
        answer(Json());
        return;
    }
    if (command == backend_command::kSaveReport && !state_.quitting) {
        save_report(args, std::move(answer));
        return;
    }
    if (!is_backend_command(command) || state_.quitting) {
        answer(fail(std::string(kUnavailableCommand)));
        return;
    }
    if (command == backend_command::kProcessMovies) {
        if (state_.processing) {
            answer(fail(std::string(kProcessingRunning)));
            return;
        }
        state_.processing = true;
    }
    forward(command, args, std::move(answer));
}

void Bridge::forward(const std::string& command, const Json& args, Completion answer) {
    const bool batch = command == backend_command::kProcessMovies;
    host_.forward(command, args, [this, batch, answer = std::move(answer)](Result<Json> reply) {
        if (batch) state_.processing = false;
        answer(std::move(reply));
        if (batch) host_.batch_ended();
    });
}

// The chooser first, then the backend writes the page's text; the page
// learns the path, or null when the chooser was cancelled.
void Bridge::save_report(const Json& args, Completion answer) {
    host_.choose_save(save_chooser_for(args), [this, text = args.value("text", Json()),
                                               answer = std::move(answer)](std::optional<SaveChoice> choice) {
        if (!choice) return answer(Json());
        if (state_.quitting) return answer(fail(std::string(kUnavailableCommand)));
        Json request{{"path", choice->path}, {"replace", choice->replace}, {"text", text}};
        host_.forward(std::string(backend_command::kSaveReport), request,
                      [path = choice->path, answer](Result<Json> reply) {
                          if (!reply) return answer(std::move(reply));
                          answer(Json(path));
                      });
    });
}

void Bridge::files_opened(const std::vector<std::string>& paths) {
    if (state_.ready) {
        host_.emit(page_event::kDragDrop, paths_payload(paths));
        return;
    }
    state_.pending_files.insert(state_.pending_files.end(), paths.begin(), paths.end());
}

}  // namespace velmora
