#pragma once

#include <functional>

#include "backend_client.h"
#include "bridge.h"

namespace velmora {

enum class QuitAnswer { cancel, now, later };

// What the quitting steps need from the application.
class QuitHost {
public:
    virtual ~QuitHost() = default;
    virtual void emit(std::string_view name, const Json& payload) = 0;
    virtual bool backend_running() const = 0;
    virtual void send_shutdown(Completion done) = 0;
    // Ends the application after an answer of `later`.
    virtual void terminate() = 0;
};

// Never while a batch runs; otherwise only after the backend has been asked
// to shut down, and that only once.
QuitAnswer request_quit(BridgeState& state, QuitHost& host);

}  // namespace velmora
