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
    // Asks the backend to cancel the running batch.
    virtual void send_cancel() = 0;
    // Ends the application after an answer of `later`.
    virtual void terminate() = 0;
};

// Never while a batch runs; otherwise only after the backend has been asked
// to shut down, and that only once.
QuitAnswer request_quit(BridgeState& state, QuitHost& host);

// The user answered "Stop and Quit": the batch is cancelled and the quit
// waits for its answer (`cancel` here means "not yet"); without a batch the
// quit goes on at once.
QuitAnswer stop_and_quit(BridgeState& state, QuitHost& host);

// The batch has answered: a quit that waited for it goes on now.
QuitAnswer batch_answered(BridgeState& state, QuitHost& host);

}  // namespace velmora
