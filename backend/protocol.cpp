#include "protocol.h"

#include <cerrno>
#include <exception>
#include <mutex>
#include <string_view>
#include <utility>

#include <unistd.h>

#include "backups.h"
#include "existing_outputs.h"
#include "file_system.h"
#include "import.h"
#include "json_text.h"
#include "names.h"
#include "opener.h"
#include "output_lines.h"
#include "processing.h"
#include "report_file.h"
#include "request_reader.h"
#include "restore.h"
#include "settings.h"
#include "worker_thread.h"

namespace velmora {

namespace {

nlohmann::json reply_for(const nlohmann::json& id, Result<nlohmann::json> outcome) {
    nlohmann::json reply = nlohmann::json::object();
    reply["id"] = id;
    if (outcome) {
        reply["result"] = std::move(*outcome);
    } else {
        reply["error"] = std::move(outcome).error();
    }
    return reply;
}

// One request on its own thread: dispatch, then write the reply.
void run_request(ServiceState& state, const std::string& command, const nlohmann::json& request,
                 const nlohmann::json& id) {
    const nlohmann::json args = member_or_null(request, "args");
    Result<nlohmann::json> outcome;
    try {
        outcome = dispatch_command(state, command, args);
    } catch (const std::exception& error) {
        // A handler fault must still answer, or the shell's request would hang.
        outcome = fail(std::string("Unexpected failure: ") + error.what());
    } catch (...) {
        outcome = fail("Unexpected failure.");
    }
    emit_message(reply_for(id, std::move(outcome)));
}

// Joins and drops every finished worker; the last entry fills a freed slot.
void sweep_finished(std::vector<WorkerThread>& running) {
    for (std::size_t slot = 0; slot < running.size();) {
        if (!running[slot].finished()) {
            ++slot;
            continue;
        }
        WorkerThread done = std::move(running[slot]);
        if (slot + 1 != running.size()) running[slot] = std::move(running.back());
        running.pop_back();
        done.join();
    }
}

Result<nlohmann::json> import_command(ServiceState& state, const nlohmann::json& args) {
    TRY(auto paths, decode_string_array(member_or_null(args, "paths")));
    return import_movies(state, paths, args);
}

// "reels" may be absent (no reels); given, it must be a map like "timecodes".
Result<std::map<std::string, std::string>> optional_reels(const nlohmann::json& args) {
    if (!args.contains("reels")) return std::map<std::string, std::string>();
    return decode_string_map(args.at("reels"));
}

Result<nlohmann::json> process_command(ServiceState& state, const nlohmann::json& args) {
    TRY(auto ids, decode_string_array(member_or_null(args, "ids")));
    TRY(auto timecodes, decode_string_map(member_or_null(args, "timecodes")));
    TRY(auto reels, optional_reels(args));
    return process_movies(state, ids, MovieRequests{std::move(timecodes), std::move(reels)},
                          member_or_null(args, "options"));
}

}  // namespace

Result<std::shared_ptr<ServiceState>> start_service(const std::vector<std::string>& arguments, const char* home) {
    if (arguments.empty()) return fail("Missing resources");
    auto state = std::make_shared<ServiceState>();
    state->resources_dir = arguments.front();
    state->engine_path = join_path(state->resources_dir, "bin/velmora-engine");
    if (home == nullptr) return fail("Application data directory is unavailable");
    state->data_dir = data_folder(home);
    state->settings = read_stored_settings(state->data_dir);
    return state;
}

Status serve_requests(const std::shared_ptr<ServiceState>& state) {
    RequestReader reader(STDIN_FILENO);
    std::vector<WorkerThread> running;
    for (;;) {
        TRY(const std::optional<std::string> text, reader.next_line());
        if (!text) return {};

        TRY(auto request, parse_json(*text));
        nlohmann::json id = member_or_null(request, "id");
        const nlohmann::json command = member_or_null(request, "command");
        if (!command.is_string()) return fail("Missing command");

        if (command.get_ref<const std::string&>() == backend_command::kShutdown) {
            for (WorkerThread& worker : running) worker.join();
            emit_message(reply_for(id, nlohmann::json()));
            return {};
        }

        TRY(auto worker, WorkerThread::start([state, name = command.get<std::string>(), whole = std::move(request),
                                              id = std::move(id)] { run_request(*state, name, whole, id); },
                                             kRequestStackBytes));
        running.push_back(std::move(worker));
        sweep_finished(running);
    }
}

Result<nlohmann::json> dispatch_command(ServiceState& state, const std::string& command, const nlohmann::json& args) {
    if (command == backend_command::kLoadSettings) return load_settings(state);
    if (command == backend_command::kSaveSettings) return save_settings(state, member_or_null(args, "value"));
    if (command == backend_command::kImportMovies) return import_command(state, args);
    if (command == backend_command::kProcessMovies) return process_command(state, args);
    if (command == backend_command::kCancel) {
        state.cancel.store(true);
        return nlohmann::json();
    }
    if (command == backend_command::kBusy) return nlohmann::json(state.busy.load());
    if (command == backend_command::kReveal) return reveal(state, args);
    if (command == backend_command::kThirdPartyNotices) return third_party_notices(state);
    if (command == backend_command::kRestore) return restore_original(state, args);
    if (command == backend_command::kSaveReport) return save_report(args);
    if (command == backend_command::kOutputsExist) return outputs_exist(args);
    if (command == backend_command::kRemoveBackups) return remove_backups(state, args);
    return fail("Unknown native command");
}

}  // namespace velmora
