#pragma once

// UTF-8 as the programs check, repair, count and trim it. Strict UTF-8
// throughout: no overlong forms, no surrogates, nothing above U+10FFFF.

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

bool is_valid_utf8(std::string_view bytes);

// The bytes as UTF-8 text, each invalid sequence (its longest valid prefix,
// or one stray byte) replaced by one U+FFFD.
std::string decode_utf8_lossy(std::string_view bytes);

// One character of bytes that may not be valid UTF-8: its scalar value, or
// U+FFFD for an invalid sequence cut as decode_utf8_lossy cuts it, and the
// number of bytes it takes.
struct Utf8Character {
    char32_t value = 0;
    std::size_t length = 0;
};
Utf8Character character_at(std::string_view bytes, std::size_t at);

// The Unicode White_Space property.
bool is_white_space(char32_t c) noexcept;

// Number of Unicode scalar values in valid UTF-8 text (lead bytes counted).
std::size_t count_scalar_values(std::string_view text);

// Byte-at-a-time well-formedness check, for text that arrives in pieces.
class Utf8Validator {
public:
    // False once an ill-formed byte has been seen; stays false.
    bool feed(unsigned char byte) noexcept;
    // True when no sequence is left half-finished.
    bool at_boundary() const noexcept { return ok_ && remaining_ == 0; }
    bool ok() const noexcept { return ok_; }

private:
    bool ok_ = true;
    std::size_t remaining_ = 0;
    unsigned char low_ = 0x80;  // allowed range of the next continuation byte
    unsigned char high_ = 0xBF;
};

// Removes leading and trailing Unicode white space from valid UTF-8 text.
std::string trim_whitespace(std::string_view text);

// For valid UTF-8 cut off anywhere: the length of its longest prefix that
// ends on a character boundary.
std::size_t complete_utf8_prefix_length(std::string_view bytes) noexcept;

}  // namespace velmora
