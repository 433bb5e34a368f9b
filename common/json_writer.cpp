#include "json_writer.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace velmora {

namespace {

// A finite nonzero double as its shortest decimal digits and the power of
// ten of the first one: 0.0125 is {false, "125", -2}.
struct ShortestDigits {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

ShortestDigits shortest_digits(double number) {
    std::array<char, 64> buffer{};
    const auto end =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), number, std::chars_format::scientific).ptr;
    std::string_view scientific(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
    ShortestDigits result;
    if (scientific.starts_with('-')) {
        result.negative = true;
        scientific.remove_prefix(1);
    }
    const auto e = scientific.find('e');
    for (const char c : scientific.substr(0, e)) {
        if (c != '.') result.digits += c;
    }
    std::string_view exponent_text = scientific.substr(e + 1);
    if (exponent_text.starts_with('+')) exponent_text.remove_prefix(1);
    std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), result.exponent);
    return result;
}

void append_unicode_escape(std::string& out, char c) {
    std::array<char, 8> escape{};
    std::snprintf(escape.data(), escape.size(), "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
    out += escape.data();
}

}  // namespace

std::string_view short_escape(char c) {
    switch (c) {
        case '"': return "\\\"";
        case '\\': return "\\\\";
        case '\t': return "\\t";
        case '\n': return "\\n";
        case '\r': return "\\r";
        default: return {};
    }
}

void append_json_string(std::string& out, std::string_view text, ControlEscapes escapes) {
    const bool short_forms = escapes == ControlEscapes::kShortBackspaceAndFormFeed;
    out += '"';
    for (const char c : text) {
        if (const auto escape = short_escape(c); !escape.empty()) {
            out += escape;
        } else if (short_forms && (c == '\b' || c == '\f')) {
            out += c == '\b' ? "\\b" : "\\f";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            append_unicode_escape(out, c);
        } else {
            out += c;
        }
    }
    out += '"';
}

std::string json_string(std::string_view text, ControlEscapes escapes) {
    std::string out;
    append_json_string(out, text, escapes);
    return out;
}

std::string positional_decimal(double number) {
    const ShortestDigits shortest = shortest_digits(number);
    const std::string& digits = shortest.digits;
    const int exponent = shortest.exponent;
    std::string out = shortest.negative ? "-" : "";
    const auto count = static_cast<int>(digits.size());
    if (exponent >= count - 1) {
        out += digits;
        out.append(static_cast<std::size_t>(exponent - (count - 1)), '0');
    } else if (exponent >= 0) {
        out += digits.substr(0, static_cast<std::size_t>(exponent) + 1);
        out += '.';
        out += digits.substr(static_cast<std::size_t>(exponent) + 1);
    } else {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
    }
    return out;
}

void append_json_number(std::string& out, double number) {
    if (!std::isfinite(number)) {
        out += "null";  // JSON has no spelling for these
        return;
    }
    if (number == 0) {
        out += std::signbit(number) ? "-0.0" : "0.0";
        return;
    }
    const ShortestDigits shortest = shortest_digits(number);
    const std::string& digits = shortest.digits;
    if (shortest.negative) out += '-';
    const int length = static_cast<int>(digits.size());
    const int point = shortest.exponent + 1;  // digits before the decimal point
    if (point >= length && point <= 16) {
        out += digits;
        out.append(static_cast<std::size_t>(point - length), '0');
        out += ".0";
    } else if (point > 0 && point <= 16) {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out += '.';
        out.append(digits, static_cast<std::size_t>(point));
    } else if (point > -5 && point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else {
        out += digits.front();
        if (length > 1) {
            out += '.';
            out.append(digits, 1);
        }
        out += 'e';
        out += std::to_string(shortest.exponent);
    }
}

}  // namespace velmora
