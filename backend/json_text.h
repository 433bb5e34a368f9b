#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "result.h"

namespace velmora {

// Deeper nesting than this is refused before the parser recurses into it.
inline constexpr std::size_t kMaxJsonDepth = 512;

// One JSON value, optionally surrounded by white space (a byte order mark
// is no white space). Failures read
// "<description> at line L column C" (line from 1; column = bytes of that line
// up to and including the offending one, or the line's length at the end).
Result<nlohmann::json> parse_json(std::string_view text);

// No spaces, keys in ascending byte order, floating-point numbers in their
// shortest form (5.522183333333333, 100.0, 1e16, 0.00001, 1.5e-7); never
// throws (bad UTF-8 inside a string is replaced by U+FFFD).
std::string to_compact_json(const nlohmann::json& value);
// Two-space indentation, no trailing newline.
std::string to_pretty_json(const nlohmann::json& value);

// The kind of a value as a type-mismatch message names it: null,
// boolean `true`, integer `5`, floating point `1.5`, string "x", sequence, map.
std::string describe_json_value(const nlohmann::json& value);
// "invalid type: <found>, expected <expected>".
std::string invalid_type_message(const nlohmann::json& found, std::string_view expected);

// Typed decoding; a value of another shape (null included) fails with the
// type-mismatch message of the first offending value.
Result<std::string> decode_string(const nlohmann::json& value);
Result<std::vector<std::string>> decode_string_array(const nlohmann::json& value);
Result<std::map<std::string, std::string>> decode_string_map(const nlohmann::json& value);

// The member `key` of an object, or null when `value` is no object or lacks it.
nlohmann::json member_or_null(const nlohmann::json& value, std::string_view key);

}  // namespace velmora
