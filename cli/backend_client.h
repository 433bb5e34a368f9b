#pragma once

// The backend as the command line talks to it: started from the resources
// folder as the shell starts it, one request at a time, its replies matched
// by id and its events handed to the caller while it waits. Ctrl+C asks the
// running batch to cancel; a second one stops the backend.

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "descriptor.h"
#include "result.h"
#include "service_process.h"

namespace velmora::cli {

using Json = nlohmann::json;
using EventHandler = std::function<void(const std::string& name, const Json& payload)>;

class BackendClient {
public:
    // `home`, when given, replaces HOME for the backend (where it keeps its settings).
    static Result<BackendClient> start(const std::string& resources, const std::optional<std::string>& home);

    BackendClient(BackendClient&& other) noexcept;
    BackendClient& operator=(BackendClient&&) = delete;
    BackendClient(const BackendClient&) = delete;
    BackendClient& operator=(const BackendClient&) = delete;
    // Ends the backend's input and waits for it; kills it when it was interrupted twice.
    ~BackendClient();

    // The reply's result, or its error text.
    Result<Json> call(std::string_view command, const Json& args, const EventHandler& on_event = {});

    // True once Ctrl+C was pressed during a call.
    bool interrupted() const { return interrupts_ > 0; }

private:
    explicit BackendClient(ServicePipes pipes) : pipes_(std::move(pipes)) {}

    Status send(std::string_view command, const Json& args, std::int64_t id);
    // The next message, or nothing when an interrupt came first.
    Result<std::optional<Json>> next_message();
    Status on_interrupt();

    ServicePipes pipes_;
    LineSplitter splitter_;
    std::vector<std::string> pending_;
    std::int64_t next_id_ = 1;
    int interrupts_ = 0;
};

// From now on SIGINT is noted, not fatal; BackendClient::call reacts to it.
Status catch_interrupts();

}  // namespace velmora::cli
