#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json_text.h"

namespace velmora {

inline constexpr std::string_view kMessageHandlerName = "velmora";

// The primary menu's items press the page's own buttons, so a menu item and
// the button behave alike (a disabled button ignores the click).
std::string click_script(std::string_view button_id);

// Focus coming into the page from the header bar lands on its first
// (forward) or last element, as the page's keyboard.js finds them.
std::string focus_edge_script(bool forward);
// F6 coming back from the header bar: the element the page last had focused.
std::string focus_back_script();

// The page API injected at document start into the top frame:
// window.__VELMORA_NATIVE__ (invoke, listen) and window.__VELMORA_EVENT__.
std::string injected_script();

// Injected at document start into every frame; does nothing in the top one.
// WebKitGTK does not tell which frame posted a script message, so inside a
// sub-frame the "velmora" handler sends every message without its command,
// and the bridge refuses it as untrusted.
std::string frame_guard_script();

// "window.__VELMORA_EVENT__?.(...[name,payload])", or nothing when the pair
// cannot be written as JSON (for example text that is not UTF-8).
std::optional<std::string> emit_script(std::string_view name, const Json& payload);

}  // namespace velmora
