#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json_text.h"

namespace velmora {

// The member of every page message that carries the launch's trust token.
inline constexpr std::string_view kTokenKey = "token";
inline constexpr std::string_view kMessageHandlerName = "velmora";
inline constexpr std::string_view kAboutScript = "document.getElementById('help').click()";

// A fresh random token, made once per launch: only the injected script, which
// runs in the top frame alone, knows it.
std::string make_trust_token();

// The page API injected at document start into the top frame:
// window.__VELMORA_NATIVE__ (invoke, listen) and window.__VELMORA_EVENT__.
std::string injected_script(std::string_view token);

// "window.__VELMORA_EVENT__?.(...[name,payload])", or nothing when the pair
// cannot be written as JSON (for example text that is not UTF-8).
std::optional<std::string> emit_script(std::string_view name, const Json& payload);

}  // namespace velmora
