#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json_text.h"
#include "result.h"
#include "service_process.h"

namespace velmora {

inline constexpr std::string_view kBackendUnavailable = "The native backend is unavailable.";
inline constexpr std::string_view kBackendStopped = "The native backend stopped. Reopen Velmora before continuing.";

// A reply's result (JSON null when the backend sent none) or its error text.
using Completion = std::function<void(Result<Json>)>;
using EventHandler = std::function<void(const std::string& name, const Json& payload)>;

// One line of the backend's output as a message, or nothing when it is not a
// JSON object (such lines are dropped without notice).
std::optional<Json> parse_backend_line(std::string_view line);

// The request line for the wire: compact JSON and one line feed.
Result<std::string> request_line(std::int64_t id, std::string_view command, const Json& args);

// The pipe to the running service, as the client sees it.
class BackendLink {
public:
    virtual ~BackendLink() = default;
    virtual bool running() const = 0;
    virtual Status write(std::string_view bytes) = 0;
};

// Numbers requests, pairs replies with their completions and hands events to
// one handler. Main thread only: no lock guards the sequence or the map.
class BackendClient {
public:
    explicit BackendClient(BackendLink& link) : link_(link) {}

    void request(std::string_view command, const Json& args, Completion completion);
    void request(std::string_view command, Completion completion) {
        request(command, Json::object(), std::move(completion));
    }
    void set_on_event(EventHandler handler) { on_event_ = std::move(handler); }
    bool running() const { return link_.running(); }

    // One parsed message from the reader, in the order the service wrote it.
    void dispatch(const Json& message);
    // The child has ended and every line it wrote has been dispatched.
    void backend_stopped();

    std::int64_t sequence() const { return sequence_; }
    std::size_t pending() const { return callbacks_.size(); }

private:
    BackendLink& link_;
    std::int64_t sequence_ = 0;
    std::map<std::int64_t, Completion> callbacks_;
    EventHandler on_event_;
};

}  // namespace velmora
