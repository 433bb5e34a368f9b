#include "json_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "json_writer.h"
#include "utf8.h"

namespace velmora {

namespace {

struct TextPosition {
    std::size_t line = 1;
    std::size_t column = 0;
};

// `offset` is the 0-based index of the offending byte; past the end means
// the text ended too early.
TextPosition position_of(std::string_view text, std::size_t offset) {
    const bool at_end = offset >= text.size();
    const std::size_t stop = at_end ? text.size() : offset;
    TextPosition position;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < stop; ++i) {
        if (text[i] == '\n') {
            ++position.line;
            line_start = i + 1;
        }
    }
    position.column = at_end ? stop - line_start : stop - line_start + 1;
    return position;
}

std::string located(std::string_view description, std::string_view text, std::size_t offset) {
    const TextPosition position = position_of(text, offset);
    return std::string(description) + " at line " + std::to_string(position.line) + " column " +
           std::to_string(position.column);
}

// nlohmann's what() is "[json.exception.parse_error.101] parse error at line
// 1, column 2: <description>"; only the description is worth showing.
std::string_view description_of(std::string_view what) {
    const auto bracket = what.find("] ");
    if (bracket != std::string_view::npos) what.remove_prefix(bracket + 2);
    const auto colon = what.find(": ");
    if (what.starts_with("parse error") && colon != std::string_view::npos) what.remove_prefix(colon + 2);
    return what;
}

// Offset of the first bracket that opens a level beyond kMaxJsonDepth, or npos.
std::size_t find_excess_nesting(std::string_view text) {
    std::size_t depth = 0;
    bool in_string = false;
    bool escaped = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                in_string = false;
            }
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxJsonDepth) return i;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return std::string_view::npos;
}

// Where an overflowing number literal such as 1e400 sits in the text.
std::size_t find_literal_end(std::string_view text, std::string_view what) {
    const auto open = what.find('\'');
    const auto close = what.rfind('\'');
    if (open == std::string_view::npos || close <= open + 1) return text.size();
    const auto literal = what.substr(open + 1, close - open - 1);
    const auto at = text.find(literal);
    return at == std::string_view::npos ? text.size() : at + literal.size() - 1;
}

std::string debug_quoted(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (const auto escape = short_escape(c); !escape.empty()) {
            quoted += escape;
        } else if (c == '\0') {
            quoted += "\\0";
        } else if (byte < 0x20 || byte == 0x7F) {
            std::array<char, 16> braced{};
            std::snprintf(braced.data(), braced.size(), "\\u{%x}", static_cast<unsigned>(byte));
            quoted += braced.data();
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

// Shortest plain decimal text that reads back as the same double (never an
// exponent), with ".0" added to whole numbers so they cannot pass for integers.
std::string float_text(double number) {
    if (std::isnan(number)) return "NaN";
    if (std::isinf(number)) return number > 0 ? "inf" : "-inf";
    char buffer[400];  // the longest fixed form of a double has about 330 characters
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::fixed).ptr;
    std::string text(buffer, end);
    if (text.find('.') == std::string::npos) text += ".0";
    return text;
}

void append_quoted(std::string& out, std::string_view text) {
    if (is_valid_utf8(text)) {
        append_json_string(out, text, ControlEscapes::kShortBackspaceAndFormFeed);
    } else {
        append_json_string(out, decode_utf8_lossy(text), ControlEscapes::kShortBackspaceAndFormFeed);
    }
}

// `indent` < 0 writes compactly; otherwise nested lines are indented by
// `indent` spaces per level.
void append_value(std::string& out, const nlohmann::json& value, int indent, int level);

// An array's elements or an object's members between their brackets, each
// on a line of its own when indenting.
template <typename Items, typename AppendItem>
void append_container(std::string& out, const nlohmann::json& value, std::string_view brackets, const Items& items,
                      int indent, int level, AppendItem append_item) {
    const auto new_line = [&](int depth) {
        if (indent < 0) return;
        out += '\n';
        out.append(static_cast<std::size_t>(indent) * static_cast<std::size_t>(depth), ' ');
    };
    out += brackets.front();
    if (!value.empty()) {
        bool first = true;
        for (const auto& item : items) {
            if (!first) out += ',';
            first = false;
            new_line(level + 1);
            append_item(item);
        }
        new_line(level);
    }
    out += brackets.back();
}

void append_value(std::string& out, const nlohmann::json& value, int indent, int level) {
    switch (value.type()) {
        case nlohmann::json::value_t::null:
        case nlohmann::json::value_t::discarded:
        case nlohmann::json::value_t::binary: out += "null"; return;
        case nlohmann::json::value_t::boolean: out += value.get<bool>() ? "true" : "false"; return;
        case nlohmann::json::value_t::number_integer: out += std::to_string(value.get<std::int64_t>()); return;
        case nlohmann::json::value_t::number_unsigned: out += std::to_string(value.get<std::uint64_t>()); return;
        case nlohmann::json::value_t::number_float: append_json_number(out, value.get<double>()); return;
        case nlohmann::json::value_t::string: append_quoted(out, value.get_ref<const std::string&>()); return;
        case nlohmann::json::value_t::array:
            append_container(out, value, "[]", value, indent, level,
                             [&](const nlohmann::json& element) { append_value(out, element, indent, level + 1); });
            return;
        case nlohmann::json::value_t::object:
            append_container(out, value, "{}", value.items(), indent, level, [&](const auto& member) {
                append_quoted(out, member.key());
                out += indent < 0 ? ":" : ": ";
                append_value(out, member.value(), indent, level + 1);
            });
            return;
    }
}

}  // namespace

Result<nlohmann::json> parse_json(std::string_view text) {
    // nlohmann stops at a NUL byte as if the text ended there, which would let
    // anything after it through. JSON has no place for a raw NUL at all.
    if (const auto nul = text.find('\0'); nul != std::string_view::npos) {
        return fail(located("syntax error - invalid character U+0000", text, nul));
    }
    // nlohmann skips a leading byte order mark, but only white space may
    // stand before the value.
    if (text.starts_with("\xEF\xBB\xBF")) {
        return fail(
            located("syntax error while parsing value - unexpected byte order mark; expected '[', '{', or a "
                    "literal",
                    text, 0));
    }
    if (const auto excess = find_excess_nesting(text); excess != std::string_view::npos) {
        return fail(located("recursion limit exceeded", text, excess));
    }
    try {
        return nlohmann::json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::parse_error& error) {
        // error.byte counts from 1 and points at the last byte read.
        const std::size_t offset = error.byte > 0 ? error.byte - 1 : 0;
        return fail(located(description_of(error.what()), text, offset));
    } catch (const nlohmann::json::exception& error) {
        return fail(located(description_of(error.what()), text, find_literal_end(text, error.what())));
    }
}

std::string to_compact_json(const nlohmann::json& value) {
    std::string out;
    append_value(out, value, -1, 0);
    return out;
}

std::string to_pretty_json(const nlohmann::json& value) {
    std::string out;
    append_value(out, value, 2, 0);
    return out;
}

std::string describe_json_value(const nlohmann::json& value) {
    switch (value.type()) {
        case nlohmann::json::value_t::null: return "null";
        case nlohmann::json::value_t::boolean: return value.get<bool>() ? "boolean `true`" : "boolean `false`";
        case nlohmann::json::value_t::number_integer:
            return "integer `" + std::to_string(value.get<std::int64_t>()) + "`";
        case nlohmann::json::value_t::number_unsigned:
            return "integer `" + std::to_string(value.get<std::uint64_t>()) + "`";
        case nlohmann::json::value_t::number_float: return "floating point `" + float_text(value.get<double>()) + "`";
        case nlohmann::json::value_t::string: return "string " + debug_quoted(value.get_ref<const std::string&>());
        case nlohmann::json::value_t::array: return "sequence";
        case nlohmann::json::value_t::object: return "map";
        case nlohmann::json::value_t::binary: return "byte array";
        case nlohmann::json::value_t::discarded: break;
    }
    return "unit value";
}

std::string invalid_type_message(const nlohmann::json& found, std::string_view expected) {
    return "invalid type: " + describe_json_value(found) + ", expected " + std::string(expected);
}

Result<std::string> decode_string(const nlohmann::json& value) {
    if (!value.is_string()) return fail(invalid_type_message(value, "a string"));
    return value.get<std::string>();
}

Result<std::vector<std::string>> decode_string_array(const nlohmann::json& value) {
    if (!value.is_array()) return fail(invalid_type_message(value, "a sequence"));
    std::vector<std::string> strings;
    strings.reserve(value.size());
    for (const auto& element : value) {
        TRY(auto text, decode_string(element));
        strings.push_back(std::move(text));
    }
    return strings;
}

Result<std::map<std::string, std::string>> decode_string_map(const nlohmann::json& value) {
    if (!value.is_object()) return fail(invalid_type_message(value, "a map"));
    std::map<std::string, std::string> strings;
    for (const auto& [key, member] : value.items()) {
        TRY(auto text, decode_string(member));
        strings.emplace(key, std::move(text));
    }
    return strings;
}

nlohmann::json member_or_null(const nlohmann::json& value, std::string_view key) {
    if (!value.is_object()) return nullptr;
    const auto found = value.find(key);
    return found == value.end() ? nlohmann::json() : *found;
}

}  // namespace velmora
