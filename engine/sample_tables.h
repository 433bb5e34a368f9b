#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "atoms.h"
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

// Reads stts from a track's stbl payload; its total must match the mdhd duration.
Result<SampleTiming> read_sample_timing(ByteView stbl, std::uint64_t media_duration);

// Absolute chunk positions from stco, or from co64 when there is no stco.
Result<std::vector<std::uint64_t>> chunk_offsets(ByteView trak_bytes);

// Proves that stsz, stsc and the chunk offsets agree with each other and put
// every chunk wholly inside one of the media data ranges.
Status validate_sample_layout(const Track& track, const std::vector<MediaRange>& ranges);

// The first range that holds [start, end], found by binary search: the ranges
// come from consecutive top-level atoms, so they are sorted and disjoint.
std::optional<MediaRange> range_holding(const std::vector<MediaRange>& ranges, std::uint64_t start,
                                        std::uint64_t end);

}  // namespace velmora
