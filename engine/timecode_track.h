#pragma once

#include <optional>
#include <string>

#include "result.h"
#include "types.h"

namespace velmora {

// The start timecode of the movie's own timecode track, or nullopt when it
// has none. Reads the single timecode sample through the movie's file.
Result<std::optional<std::string>> read_existing_timecode(const Movie& movie);

// The reel the movie's timecode track names in its sample description, as
// UTF-8 text (invalid bytes replaced). A missing, empty or malformed name is
// no reel, never a refusal.
std::optional<std::string> read_existing_reel(const Movie& movie);

}  // namespace velmora
