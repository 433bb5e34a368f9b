#pragma once

// When recording began and in which zone, as Apple devices keep it: the item
// "com.apple.quicktime.creationdate" of moov/meta (`keys` names the items,
// `ilst` holds their values), ISO 8601 text such as "2019-07-24T11:25:40+0300".
// The movie header's creation time is when the file was finished, seconds to
// months later, so this is the better start of a time-of-day timecode.

#include <optional>
#include <string_view>

#include "atoms.h"
#include "types.h"

namespace velmora {

// The recorded time of a movie atom's children. Anything missing, malformed
// or unparsable is simply absent: this never refuses a movie.
std::optional<RecordedTime> read_recorded_time(const Children& moov);

// "YYYY-MM-DDThh:mm:ss", an optional fraction (dropped), then "Z", "+hh:mm",
// "+hhmm", "-hh:mm" or "-hhmm" between -12:00 and +14:00; nothing else.
std::optional<RecordedTime> parse_recorded_time(std::string_view text);

}  // namespace velmora
