#include "opener.h"

#include <cerrno>
#include <chrono>
#include <exception>
#include <thread>

#include <sys/wait.h>

#include "child_process.h"
#include "platform.h"
#include "published_outputs.h"

namespace velmora {
namespace {

// Standard input and output are the null device: the backend's standard
// output carries the protocol, and an opener that printed to it would
// corrupt a reply. Standard error stays the backend's. The desktop program
// may outlive the backend: it holds none of the backend's pipes or files.
Result<pid_t> spawn_opener(const OpenerCommand& command) {
    TRY(const UniqueFd null_device, open_null_device());
    SpawnOptions options;
    options.streams = {null_device.get(), null_device.get(), ChildStreams::kInherit};
    options.own_process_group = false;
    options.search_path = true;
    return spawn_child(command.program, command.arguments, options);
}

// Blocks until the child has ended; true when it exited with status 0.
bool reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Waits for the opener off the request thread, so the reply is not delayed
// and no zombie is left behind; an opener that failed gives way to the
// plan's fallback, which is reaped the same way.
void reap_in_background(pid_t pid, std::optional<OpenerCommand> fallback) {
    try {
        std::thread([pid, fallback = std::move(fallback)] {
            if (reap(pid) || !fallback) return;
            if (auto second = spawn_opener(*fallback)) reap(*second);
        }).detach();
    } catch (const std::exception&) {
        // Without a thread the child stays unreaped until the backend ends;
        // waiting here would hold up the reply.
    }
}

Status start_opener(const OpenerPlan& plan) {
    auto started = spawn_opener(plan.first);
    if (started) {
        reap_in_background(*started, plan.fallback);
        return {};
    }
    if (!plan.fallback) return fail(started.error());
    TRY(auto fallback, spawn_opener(*plan.fallback));
    reap_in_background(fallback, std::nullopt);
    return {};
}

// How long "reveal" waits for each opener's exit status. A file manager that
// xdg-open starts in the foreground may keep it running; that counts as an answer.
constexpr auto kAnswerWait = std::chrono::seconds(5);

enum class Outcome { succeeded, failed, still_running };

Outcome await_opener(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + kAnswerWait;
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Outcome::succeeded : Outcome::failed;
        if (ended < 0 && errno != EINTR) return Outcome::failed;
        if (std::chrono::steady_clock::now() >= deadline) {
            reap_in_background(pid, std::nullopt);
            return Outcome::still_running;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

Outcome run_opener(const OpenerCommand& command) {
    auto started = spawn_opener(command);
    return started ? await_opener(*started) : Outcome::failed;
}

// The plan's commands in turn until one answers: the page is told when none
// did, from their exit statuses, so that it can show the path instead.
Status show_answered(const OpenerPlan& plan) {
    if (run_opener(plan.first) != Outcome::failed) return {};
    if (plan.fallback && run_opener(*plan.fallback) != Outcome::failed) return {};
    return fail("No file manager answered");
}

}  // namespace

Result<nlohmann::json> reveal(ServiceState& state, const nlohmann::json& args) {
    if (!args.is_object()) return fail("Missing output file");
    const auto file = args.find("file");
    if (file == args.end() || !file->is_string()) return fail("Missing output file");
    const std::string path = file->get<std::string>();
    if (!is_published_output(state, path)) return fail("Unknown output file");
    TRY_VOID(show_answered(reveal_in_file_manager(path)));
    return nullptr;
}

Result<nlohmann::json> third_party_notices(ServiceState& state) {
    std::string page = state.resources_dir;
    if (!page.empty() && !page.ends_with('/')) page += '/';
    page += "notices/index.html";
    TRY_VOID(start_opener(open_with_default_application(page)));
    return nullptr;
}

}  // namespace velmora
