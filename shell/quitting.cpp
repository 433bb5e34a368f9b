#include "quitting.h"

#include "names.h"

namespace velmora {

QuitAnswer request_quit(BridgeState& state, QuitHost& host) {
    if (state.processing) {
        host.emit(page_event::kCloseBlocked, Json());
        return QuitAnswer::cancel;
    }
    if (!host.backend_running()) return QuitAnswer::now;
    if (state.quitting) return QuitAnswer::later;
    state.quitting = true;
    host.send_shutdown([&host](Result<Json>) { host.terminate(); });
    return QuitAnswer::later;
}

QuitAnswer stop_and_quit(BridgeState& state, QuitHost& host) {
    if (!state.processing) return request_quit(state, host);
    if (!state.quit_after_batch) {
        state.quit_after_batch = true;
        host.send_cancel();
    }
    return QuitAnswer::cancel;
}

QuitAnswer batch_answered(BridgeState& state, QuitHost& host) {
    if (!state.quit_after_batch) return QuitAnswer::cancel;
    state.quit_after_batch = false;
    return request_quit(state, host);
}

}  // namespace velmora
