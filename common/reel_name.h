#pragma once

// Reel names: the tape or card name a timecode track carries for conform
// (EDL, XML). Checked once here for the engine, which writes them, and the
// backend, which keeps one in the settings.

#include <cstddef>
#include <string_view>

namespace velmora {

inline constexpr std::size_t kReelNameLimit = 32;  // bytes

// 1 to 32 bytes of valid UTF-8 with no control character (C0, DEL or C1).
bool is_valid_reel_name(std::string_view text);

}  // namespace velmora
