#pragma once

// Reel names: the tape or card name a timecode track carries for conform
// (EDL, XML). Checked once here for the engine, which writes them, and the
// backend, which keeps one in the settings.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

inline constexpr std::size_t kReelNameLimit = 32;  // bytes

// 1 to 32 bytes of valid UTF-8 with no control character (C0, DEL or C1).
bool is_valid_reel_name(std::string_view text);

// A name taken from a folder or a movie: control characters and invalid
// bytes dropped, cut to 32 bytes on a character boundary; "" when nothing is
// left.
std::string reel_from_name(std::string_view text);

// The last component of the folder holding the file at `path`.
std::string_view reel_folder_name(std::string_view path);

// What the reel rule reads of a movie record and of the settings.
struct ReelFacts {
    std::optional<std::string> card;  // "card"
    std::string path;                 // "path"
    std::optional<std::string> reel;  // "reel": the movie's own
};
struct ReelSettings {
    std::string reel_source = "none";  // "reelSource"
    std::string reel;                  // "reel": the custom name
    std::string source = "embedded";   // "source": the start's
};

// The reel a movie is written with under the settings, as the page derives
// it (resources/ui/reel_name.js), or nothing. Without a reel source an
// embedded start keeps the movie's own reel.
std::optional<std::string> reel_for(const ReelFacts& movie, const ReelSettings& settings);

}  // namespace velmora
