#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "atoms.h"
#include "frame_rate.h"
#include "movie.h"
#include "result.h"

namespace velmora {

// What the timing table (stts) tells the track reader.
struct SampleTiming {
    std::uint64_t sample_count = 0;
    std::uint32_t sample_delta = 0;  // 0 when the deltas differ
};

// One accepted sample-to-chunk entry.
struct ChunkRun {
    std::uint64_t first_chunk = 0;  // chunks are numbered from 1
    std::uint64_t samples_per_chunk = 0;
};

// Which timing rules a track follows. Only the primary video track's
// durations matter (they decide the frame rate); a vide track with a `jpeg`
// description is that track unless it holds a single picture.
enum class TimingKind { video, jpeg_video, other };

// Reads stts from a track's stbl payload. In the primary video track a zero
// delta may only close the track (one last sample after at least one other)
// and the total must come within one frame (the largest delta) of the mdhd
// duration; other tracks may hold zero-length samples and are not held to
// their mdhd duration. A table without entries is a track without samples.
Result<SampleTiming> read_sample_timing(const Children& stbl, std::uint64_t media_duration, TimingKind kind);

// The stts entries of a track the reader accepted, in order.
Result<std::vector<TimingEntry>> timing_entries(ByteView stbl);

// Absolute chunk positions from stco, or from co64 when there is no stco.
Result<std::vector<std::uint64_t>> chunk_offsets(const Children& stbl);

// Proves that stsz, stsc and the chunk offsets agree with each other and put
// every chunk wholly inside one of the media data ranges.
Status validate_sample_layout(const Track& track, const std::vector<MediaRange>& ranges);

// The first range that holds [start, end], found by binary search: the ranges
// come from consecutive top-level atoms, so they are sorted and disjoint.
std::optional<MediaRange> range_holding(const std::vector<MediaRange>& ranges, std::uint64_t start, std::uint64_t end);

}  // namespace velmora
