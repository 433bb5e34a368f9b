#pragma once

// The third output mode: the engine stamps the movie where it lies, with no
// copy and no backup; `unstamp` gives the original back byte for byte.

#include <string>

#include "result.h"
#include "service_state.h"

namespace velmora {

// Whether the movie's record says it carries a stamp made in place.
bool is_appended(const MovieRecord& movie);

// Stamps the imported, unchanged movie with `timecode` (and `reel` when not
// empty), then proves it: the engine's report must carry the asked timecode
// and reel, "appended" and the imported streams, and the file must still be
// the imported one with only a stamp's atoms after its imported bytes. A
// failed proof unstamps the movie. Answers the stamped file's record, made
// from the stamp's report as import makes it and keeping how the movie was given.
Result<MovieRecord> append_timecode(const ServiceState& state, const MovieRecord& movie, const std::string& timecode,
                                    const std::string& reel);

}  // namespace velmora
