#pragma once

// The pieces of JSON text the engine's report and the backend's wire both
// write by hand: string literals and shortest floating-point numbers.

#include <string>
#include <string_view>

namespace velmora {

// How control characters other than tab, line feed and carriage return are
// escaped. The engine's report has always spelt backspace and form feed as
// \u0008 and \u000c; the backend's wire as \b and \f. Both are JSON.
enum class ControlEscapes { kAllAsUnicode, kShortBackspaceAndFormFeed };

// The two-character escape of a quote, a backslash, a tab, a line feed or a
// carriage return; empty for every other byte.
std::string_view short_escape(char c);

// Appends `text` (valid UTF-8; repair it first where it may not be) as a
// JSON string literal, quotes included; other bytes pass unchanged.
void append_json_string(std::string& out, std::string_view text,
                        ControlEscapes escapes = ControlEscapes::kAllAsUnicode);
// The same, as a value.
std::string json_string(std::string_view text, ControlEscapes escapes = ControlEscapes::kAllAsUnicode);

// The shortest digits that read back as the same double, always laid out
// positionally and padded with zeros, never with a point of their own:
// 10.01, 10, 0.5, 1000000000000000000000. For finite numbers only.
std::string positional_decimal(double number);

// The shortest digits that read back as the same double, positionally for
// 16 integer digits or fewer and for up to four zeros after the point, with
// ".0" on whole numbers; otherwise digits, "e" and the exponent without sign
// or padding (1e16, 1.5e-7). Not finite: "null". The layout the shell's JSON
// reader and the engine's reports share.
void append_json_number(std::string& out, double number);

}  // namespace velmora
