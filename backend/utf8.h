#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view bytes);

// Number of Unicode scalar values in valid UTF-8 text (lead bytes counted).
std::size_t count_scalar_values(std::string_view text);

// The bytes as UTF-8 with every invalid sequence replaced by U+FFFD.
std::string decode_utf8_lossy(std::string_view bytes);

}  // namespace velmora
