#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "atoms.h"
#include "json_writer.h"

namespace velmora {

struct Movie;

// The one-line JSON description of an accepted movie, without a newline.
std::string probe_report(const Movie& movie);

// Codec name of a sample description code ("h264", "prores", ... "opaque").
std::string_view codec_name(FourCC sample_entry);

// Seconds in the shortest text that reads back as the same double, always
// positional: 10.01, 10, 0.5.
std::string format_duration(double seconds);

// Seconds since 1904 as Unix seconds, possibly negative; "null" for 0.
std::string format_created_unix(std::uint64_t creation_time);

// A zone in minutes east of UTC as "+03:00", "-07:00", "+00:00".
std::string format_recorded_offset(int offset_minutes);

}  // namespace velmora
