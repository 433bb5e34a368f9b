#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "atoms.h"
#include "frame_rate.h"
#include "movie.h"

namespace velmora {

// The timecode sample lies behind the copied input, after the 8-byte header
// of the small mdat that carries it.
constexpr std::uint64_t kTimecodeSampleHeader = 8;

// The identifier of the new timecode track: an existing timecode track hands
// its identifier over (it is replaced), else the largest identifier plus one.
Result<std::uint32_t> choose_timecode_track_id(const std::vector<Track>& tracks);

// The limits that must hold before anything is built: room for the sample
// header behind the input, and a media duration that fits the 32-bit stts.
// A variable-rate video passes its standard rate: the timecode track then
// runs on that rate's own clock, and its converted duration must fit.
Status check_timecode_limits(std::uint64_t input_size, const Track& video,
                             const std::optional<FrameRate>& standard_rate = std::nullopt);

// Absolute position of the timecode sample in the output.
std::uint64_t timecode_sample_offset(std::uint64_t input_size);

// The complete timecode trak, derived from the primary video track; for a
// variable-rate video, on the clock of its standard rate. A reel (checked by
// the caller) is named in the sample description.
Result<Bytes> build_timecode_trak(const Track& video, std::uint32_t timecode_track_id, bool drop_frame,
                                  std::uint64_t sample_offset,
                                  const std::optional<FrameRate>& standard_rate = std::nullopt,
                                  const std::optional<std::string>& reel = std::nullopt);

// The 12-byte mdat holding the start frame, big-endian.
Bytes timecode_sample_atom(std::uint32_t start_frame);

// A listed child copied whole, header as stored, for a rebuilt container.
// One stored with size field 0 ran to the end of its old container; new atoms
// follow it now, so it gets a 32-bit header with its real size instead.
Bytes copied_child(ByteView range, const AtomSpan& child);

// The video trak with its tref pointing at the timecode track (old tmcd
// references replaced, other references kept in order).
Result<Bytes> reference_timecode_track(ByteView video_trak, std::uint32_t timecode_track_id);

}  // namespace velmora
