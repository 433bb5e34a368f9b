#include "page_script.h"

namespace velmora {

namespace {

std::string with_handler_name(std::string script) {
    constexpr std::string_view marker = "@HANDLER@";
    for (auto at = script.find(marker); at != std::string::npos; at = script.find(marker, at)) {
        script.replace(at, marker.size(), kMessageHandlerName);
    }
    return script;
}

}  // namespace

std::string click_script(std::string_view button_id) {
    return "document.getElementById('" + std::string(button_id) + "').click()";
}

std::string focus_edge_script(bool forward) {
    return std::string("window.VelmoraKeyboard?.focusEdge(") + (forward ? "true" : "false") + ")";
}

std::string focus_back_script() { return "window.VelmoraKeyboard?.focusBack()"; }

std::string injected_script() {
    std::string script = R"JS((() => {
  const handlers = window.webkit && window.webkit.messageHandlers;
  const channel = handlers && handlers.@HANDLER@;
  const listeners = new Map();
  const native = Object.freeze({
    invoke(command, args = {}) {
      const target = channel || window.webkit.messageHandlers.@HANDLER@;
      return target.postMessage({ command, args });
    },
    listen(name, callback) {
      let callbacks = listeners.get(name);
      if (!callbacks) {
        callbacks = new Set();
        listeners.set(name, callbacks);
      }
      callbacks.add(callback);
      return Promise.resolve(() => { callbacks.delete(callback); });
    },
  });
  Object.defineProperty(window, "__VELMORA_NATIVE__", { value: native, writable: false, configurable: false });
  window.__VELMORA_EVENT__ = (name, payload) => {
    const callbacks = listeners.get(name);
    if (!callbacks) return;
    // Every listener hears the event; the first failure is thrown after.
    let failed = false;
    let failure;
    for (const callback of [...callbacks]) {
      try {
        callback({ payload });
      } catch (error) {
        if (!failed) [failed, failure] = [true, error];
      }
    }
    if (failed) throw failure;
  };
})();
)JS";
    return with_handler_name(std::move(script));
}

std::string frame_guard_script() {
    // Runs before the frame's own scripts. The original postMessage stays in
    // this closure, and both the prototype's and the handler's own property
    // are fixed, so code in the frame has no route to send a command.
    std::string script = R"JS((() => {
  if (window.top === window) return;
  const handlers = window.webkit && window.webkit.messageHandlers;
  const handler = handlers && handlers.@HANDLER@;
  if (!handler) return;
  const prototype = Object.getPrototypeOf(handler);
  const post = prototype.postMessage;
  const guarded = function postMessage(body) {
    return post.call(this, this === handler ? { frame: "sub" } : body);
  };
  const fixed = { value: guarded, writable: false, configurable: false };
  Object.defineProperty(prototype, "postMessage", fixed);
  Object.defineProperty(handler, "postMessage", fixed);
})();
)JS";
    return with_handler_name(std::move(script));
}

std::optional<std::string> emit_script(std::string_view name, const Json& payload) {
    auto pair = compact_json(Json::array({std::string(name), payload}));
    if (!pair) return std::nullopt;
    return "window.__VELMORA_EVENT__?.(..." + *pair + ")";
}

}  // namespace velmora
