#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view bytes);

// The bytes as UTF-8 text, each invalid sequence (its maximal valid prefix,
// or one stray byte) replaced by U+FFFD.
std::string utf8_lossy(std::string_view bytes);

}  // namespace velmora
