#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "atoms.h"
#include "types.h"

namespace velmora {

Result<Movie> open_movie(const std::string& path);
std::vector<MediaRange> media_ranges(const std::vector<AtomSpan>& atoms);
Result<ByteView> sample_table_of(ByteView trak_bytes);
bool is_primary_video(const Track& track);

}  // namespace velmora
