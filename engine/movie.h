#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "atoms.h"
#include "types.h"

namespace velmora {

// The largest moov the engine reads: 128 MiB, header included.
inline constexpr std::uint64_t kMaxMetadataSize = 0x8000000;

// The refusal of a video edit list other than the one or two edits cameras
// write; its tests name it here rather than spell it again.
inline constexpr const char* kTrimmedEditRefusal = "Trimmed or complex video edit lists are not supported yet";

Result<Movie> open_movie(const std::string& path);
// Reads the movie as it will read once the moov atom starting at
// `retyped_moov` is a free atom: a stamp checks its appended moov so before
// the old one changes.
Result<Movie> open_movie(const std::string& path, std::optional<std::uint64_t> retyped_moov);
std::vector<MediaRange> media_ranges(const std::vector<AtomSpan>& atoms);
Result<ByteView> sample_table_of(ByteView trak_bytes);
bool is_primary_video(const Track& track);

}  // namespace velmora
