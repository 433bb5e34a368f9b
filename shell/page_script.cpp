#include "page_script.h"

#include <array>
#include <random>

namespace velmora {

std::string make_trust_token() {
    std::random_device source;
    std::array<unsigned, 4> words{};
    for (auto& word : words) word = source();
    std::string token;
    constexpr char digits[] = "0123456789abcdef";
    for (auto word : words) {
        for (int shift = 28; shift >= 0; shift -= 4) token.push_back(digits[(word >> shift) & 0xFu]);
    }
    return token;
}

std::string injected_script(std::string_view token) {
    // The token lives in this closure only: page code can call invoke but
    // cannot read it, and frames never get this script.
    std::string script = R"JS((() => {
  const token = "@TOKEN@";
  const handlers = window.webkit && window.webkit.messageHandlers;
  const channel = handlers && handlers.@HANDLER@;
  const listeners = new Map();
  const native = Object.freeze({
    invoke(command, args = {}) {
      const target = channel || window.webkit.messageHandlers.@HANDLER@;
      return target.postMessage({ command, args, @KEY@: token });
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
    for (const callback of [...callbacks]) callback({ payload });
  };
})();
)JS";
    auto replace = [&script](std::string_view marker, std::string_view value) {
        for (auto at = script.find(marker); at != std::string::npos; at = script.find(marker, at + value.size())) {
            script.replace(at, marker.size(), value);
        }
    };
    replace("@TOKEN@", token);
    replace("@HANDLER@", kMessageHandlerName);
    replace("@KEY@", kTokenKey);
    return script;
}

std::optional<std::string> emit_script(std::string_view name, const Json& payload) {
    auto pair = compact_json(Json::array({std::string(name), payload}));
    if (!pair) return std::nullopt;
    return "window.__VELMORA_EVENT__?.(..." + *pair + ")";
}

}  // namespace velmora
