#include "quitting.h"

namespace velmora {

QuitAnswer request_quit(BridgeState& state, QuitHost& host) {
    if (state.processing) {
        host.emit(kCloseBlocked, Json());
        return QuitAnswer::cancel;
    }
    if (!host.backend_running()) return QuitAnswer::now;
    if (state.quitting) return QuitAnswer::later;
    state.quitting = true;
    host.send_shutdown([&host](Result<Json>) { host.terminate(); });
    return QuitAnswer::later;
}

}  // namespace velmora
