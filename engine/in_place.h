#pragma once

// Stamping a movie without copying it: the timecode's mdat and a new moov
// are appended, then the old moov is retyped `free`. Until that 4-byte write
// every reader that takes the first moov still plays the original, and the
// `vlmr` record in the new moov lets unstamp give the original back.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "result.h"

namespace velmora {

// Stamps INPUT in place with TIMECODE (naming REEL when given), verifies it
// and hands the report of the stamped file, with its line feed, to `report`.
// Any failure leaves INPUT as it was.
Status stamp_movie(const std::string& input, const std::string& timecode, const std::optional<std::string>& reel,
                   const std::function<void(std::string_view line)>& report);

// Gives a movie stamped in place back byte for byte, or finishes undoing a
// stamp that was interrupted before the old moov was retyped.
Status unstamp_movie(const std::string& input);

}  // namespace velmora
