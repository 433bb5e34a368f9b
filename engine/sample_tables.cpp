#include "sample_tables.h"

#include <algorithm>

#include "boxes.h"

namespace velmora {

namespace {

constexpr std::uint64_t kOnlySampleDescription = 1;

// The stsz fields the chunk walk needs; the per-sample sizes stay in the
// metadata buffer and are read in place.
struct SampleSizes {
    std::uint32_t constant_size = 0;
    std::uint64_t count = 0;
    ByteView table;

    Result<std::uint64_t> chunk_bytes(std::uint64_t first_sample, std::uint64_t samples) const {
        if (constant_size != 0) return samples * constant_size;
        std::uint64_t total = 0;
        for (std::uint64_t j = first_sample; j < first_sample + samples; ++j) {
            TRY(const std::uint32_t size, read_u32_at(table, kSampleSizeTable + 4 * j));
            if (total > UINT64_MAX - size) return fail("Chunk size overflow");
            total += size;
        }
        return total;
    }
};

// A field of entry `index` in a table box.
Result<std::uint64_t> read_entry_field(ByteView table, std::uint64_t entry_size, std::uint64_t index, Field field) {
    return read_field(table, entry_field(entry_size, index, field));
}

Result<SampleSizes> read_sample_sizes(const Children& stbl, std::uint64_t sample_count) {
    TRY(const ByteView stsz, stbl.required("stsz"));
    TRY(const std::uint64_t constant_size, read_field(stsz, kConstantSampleSize));
    TRY(const std::uint64_t count, read_field(stsz, kSampleSizeCount));
    const std::uint64_t expected = constant_size != 0 ? kSampleSizeTable : kSampleSizeTable + 4 * count;
    if (count != sample_count || stsz.size() != expected) return fail("Invalid sample size table");
    return SampleSizes{static_cast<std::uint32_t>(constant_size), count, stsz};
}

// Only a track without samples may map no chunks.
Result<ByteView> read_sample_to_chunk(const Children& stbl, std::uint64_t sample_count) {
    TRY(const ByteView stsc, stbl.required("stsc"));
    TRY(const std::uint64_t entries, read_field(stsc, kEntryCount));
    if ((entries == 0 && sample_count != 0) || stsc.size() != kTableEntries + kSampleToChunkEntrySize * entries)
        return fail("Invalid sample-to-chunk table");
    return stsc;
}

Result<std::vector<ChunkRun>> chunk_runs(ByteView stsc, std::uint64_t chunk_count) {
    TRY(const std::uint64_t entries, read_field(stsc, kEntryCount));
    std::vector<ChunkRun> runs;
    runs.reserve(entries);
    for (std::uint64_t i = 0; i < entries; ++i) {
        TRY(const std::uint64_t first_chunk, read_entry_field(stsc, kSampleToChunkEntrySize, i, kFirstChunk));
        TRY(const std::uint64_t samples_per_chunk,
            read_entry_field(stsc, kSampleToChunkEntrySize, i, kSamplesPerChunk));
        TRY(const std::uint64_t description,
            read_entry_field(stsc, kSampleToChunkEntrySize, i, kSampleDescriptionIndex));
        const bool ordered = runs.empty() ? first_chunk == 1 : first_chunk > runs.back().first_chunk;
        if (first_chunk == 0 || samples_per_chunk == 0 || description != kOnlySampleDescription ||
            first_chunk > chunk_count || !ordered)
            return fail("Invalid sample-to-chunk mapping");
        runs.push_back({first_chunk, samples_per_chunk});
    }
    return runs;
}

// The stts entries in order; the table must hold exactly the entries it counts.
Result<std::vector<TimingEntry>> time_to_sample_entries(ByteView stts) {
    TRY(const std::uint64_t count, read_field(stts, kEntryCount));
    if (stts.size() != kTableEntries + kTimeToSampleEntrySize * count) return fail("Invalid sample timing table");
    std::vector<TimingEntry> entries;
    entries.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        TRY(const std::uint64_t samples, read_entry_field(stts, kTimeToSampleEntrySize, i, kTimeToSampleCount));
        TRY(const std::uint64_t delta, read_entry_field(stts, kTimeToSampleEntrySize, i, kTimeToSampleDelta));
        entries.emplace_back(static_cast<std::uint32_t>(samples), static_cast<std::uint32_t>(delta));
    }
    return entries;
}

// Whether a table of the sample table is there and lists nothing.
bool lists_nothing(const Children& stbl, FourCC type, Field count) {
    const Result<std::optional<ByteView>> table = stbl.optional(type);
    if (!table || !*table) return false;
    const Result<std::uint64_t> listed = read_field(**table, count);
    return listed && *listed == 0;
}

// A track without samples: no sizes, no chunks, nothing to time or place.
bool is_empty_track(const Children& stbl) {
    const Result<std::optional<ByteView>> stco = stbl.optional("stco");
    const FourCC offsets = stco && *stco ? FourCC("stco") : FourCC("co64");
    return lists_nothing(stbl, "stsz", kSampleSizeCount) && lists_nothing(stbl, "stsc", kEntryCount) &&
           lists_nothing(stbl, offsets, kEntryCount);
}

}  // namespace

Result<SampleTiming> read_sample_timing(const Children& stbl, std::uint64_t media_duration, TimingKind kind) {
    TRY(const ByteView stts, stbl.required("stts"));
    TRY(const std::vector<TimingEntry> timing, time_to_sample_entries(stts));
    const std::uint64_t entries = timing.size();

    std::uint64_t total_samples = 0;
    std::uint64_t total_duration = 0;
    std::uint32_t first_delta = 0;
    std::uint32_t largest_delta = 0;
    bool constant = true;
    for (std::uint64_t i = 0; i < entries; ++i) {
        const std::uint64_t count = timing[i].first;
        const std::uint64_t delta = timing[i].second;
        if (count == 0) return fail("Invalid sample duration");
        if (delta == 0 && kind != TimingKind::other) {
            // Phones close the video with one zero-length sample; a lone
            // zero-length jpeg is a cover picture, not the video.
            const bool last_single = i + 1 == entries && count == 1;
            const bool closes_video = last_single && total_samples >= 1;
            const bool cover_picture = last_single && kind == TimingKind::jpeg_video && total_samples == 0;
            if (!closes_video && !cover_picture) return fail("Invalid sample duration");
        }
        if (total_samples > UINT64_MAX - count) return fail("Sample count overflow");
        total_samples += count;
        const std::uint64_t span = count * delta;
        if (total_duration > UINT64_MAX - span) return fail("Duration overflow");
        total_duration += span;
        if (i == 0) first_delta = static_cast<std::uint32_t>(delta);
        constant = constant && delta == first_delta;
        largest_delta = std::max(largest_delta, static_cast<std::uint32_t>(delta));
    }
    // A track without samples is carried over as it is (never as the primary
    // video); timing that lists none beside samples elsewhere is missing.
    if (total_samples == 0) {
        if (!is_empty_track(stbl)) return fail("Incomplete sample timing is not supported");
        return SampleTiming{};
    }
    // Phones close the media header up to a frame before or after the last
    // sample ends (8995 for 8994), so one frame either way is the same video.
    const bool primary_video = kind == TimingKind::video || (kind == TimingKind::jpeg_video && total_samples != 1);
    const std::uint64_t mismatch =
        total_duration > media_duration ? total_duration - media_duration : media_duration - total_duration;
    if (primary_video && mismatch > largest_delta) return fail("Incomplete sample timing is not supported");
    return SampleTiming{total_samples, constant ? first_delta : 0};
}

Result<std::vector<TimingEntry>> timing_entries(ByteView stbl) {
    TRY(const ByteView stts, required_child(stbl, "stts"));
    return time_to_sample_entries(stts);
}

Result<std::vector<std::uint64_t>> chunk_offsets(const Children& stbl) {
    TRY(const std::optional<ByteView> stco, stbl.optional("stco"));
    ByteView table;
    std::uint64_t width = kChunkOffsetWidth32;
    if (stco) {
        table = *stco;
    } else {
        TRY(const ByteView co64, stbl.required("co64"));
        table = co64;
        width = kChunkOffsetWidth64;
    }
    TRY(const std::uint64_t count, read_field(table, kEntryCount));
    if (table.size() != kTableEntries + width * count) return fail("Invalid chunk offset table");

    std::vector<std::uint64_t> offsets;
    offsets.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        TRY(const std::uint64_t offset, read_entry_field(table, width, i, {0, width}));
        offsets.push_back(offset);
    }
    return offsets;
}

std::optional<MediaRange> range_holding(const std::vector<MediaRange>& ranges, std::uint64_t start, std::uint64_t end) {
    // The last range starting at or before `start` is the only candidate: every
    // earlier one ends before that range starts.
    const auto after = std::upper_bound(ranges.begin(), ranges.end(), start,
                                        [](std::uint64_t at, const MediaRange& range) { return at < range.first; });
    if (after == ranges.begin()) return std::nullopt;
    const MediaRange& candidate = *std::prev(after);
    if (candidate.second < end) return std::nullopt;
    return candidate;
}

Status validate_sample_layout(const Track& track, const std::vector<MediaRange>& ranges) {
    TRY(const ByteView stbl_payload, sample_table_of(track.trak_bytes));
    TRY(const Children stbl, parse_children(stbl_payload));
    TRY(const SampleSizes sizes, read_sample_sizes(stbl, track.sample_count));
    TRY(const ByteView stsc, read_sample_to_chunk(stbl, sizes.count));
    TRY(const std::vector<std::uint64_t> offsets, chunk_offsets(stbl));
    TRY(const std::vector<ChunkRun> runs, chunk_runs(stsc, offsets.size()));
    if (runs.empty() && !offsets.empty()) return fail("Invalid sample-to-chunk mapping");

    std::size_t run = 0;
    std::uint64_t placed = 0;
    for (std::uint64_t n = 1; n <= offsets.size(); ++n) {
        if (run + 1 < runs.size() && n >= runs[run + 1].first_chunk) ++run;
        const std::uint64_t k = runs[run].samples_per_chunk;
        const std::uint64_t unplaced = placed > sizes.count ? 0 : sizes.count - placed;
        if (k > unplaced) return fail("Too many chunk samples");
        TRY(const std::uint64_t length, sizes.chunk_bytes(placed, k));
        placed += k;
        const std::uint64_t offset = offsets[n - 1];
        if (offset > UINT64_MAX - length) return fail("Chunk offset overflow");
        if (!range_holding(ranges, offset, offset + length)) return fail("Sample points outside local media data");
    }
    if (placed != sizes.count) return fail("Missing chunk samples");
    return {};
}

}  // namespace velmora
