#pragma once

// Streaming checks and trimming; whole-text validation and lossy decoding
// live in utf8.h.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// Byte-at-a-time UTF-8 well-formedness check (no overlong forms, no
// surrogates, nothing above U+10FFFF), for text that arrives in pieces.
class Utf8Validator {
public:
    // False once an ill-formed byte has been seen; stays false.
    bool feed(unsigned char byte) noexcept;
    // True when no sequence is left half-finished.
    bool at_boundary() const noexcept { return ok_ && remaining_ == 0; }
    bool ok() const noexcept { return ok_; }

private:
    bool ok_ = true;
    int remaining_ = 0;
    unsigned char low_ = 0x80;   // allowed range of the next continuation byte
    unsigned char high_ = 0xBF;
};

// Removes leading and trailing Unicode white space from valid UTF-8 text.
std::string trim_whitespace(std::string_view text);

// For valid UTF-8 cut off anywhere: the length of its longest prefix that
// ends on a character boundary.
std::size_t complete_utf8_prefix_length(std::string_view bytes) noexcept;

}  // namespace velmora
