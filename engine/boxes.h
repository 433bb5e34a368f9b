#pragma once

// Where the engine's fields lie in the boxes it reads and writes. The reader
// and the builder both take their offsets from here, and a box's version is
// turned into a layout only by choose_layout, so the two directions cannot
// drift apart.

#include <array>
#include <cstdint>
#include <span>

#include "atoms.h"
#include "result.h"
#include "types.h"

namespace velmora {

// A big-endian field of 1, 2, 4 or 8 bytes inside a box payload.
struct Field {
    std::uint64_t offset = 0;
    std::uint64_t width = 4;
};

// Reads a field through the bounded reader.
Result<std::uint64_t> read_field(ByteView payload, Field field);
// Stores a field in a payload whose size the caller has checked.
void put_field(std::span<std::uint8_t> payload, Field field, std::uint64_t value);

// The layouts of a full box by version (0 and 1), with the messages that
// refuse an empty payload and any later version.
template <typename Layout>
struct Versioned {
    std::array<Layout, 2> layouts;
    const char* empty_message;
    const char* unsupported_message;
};

template <typename Layout>
Result<const Layout*> layout_for_version(const Versioned<Layout>& box, std::uint8_t version) {
    if (version > 1) return fail(box.unsupported_message);
    return &box.layouts[version];
}

// Reads the version byte of a full box and answers the layout it selects.
template <typename Layout>
Result<const Layout*> choose_layout(const Versioned<Layout>& box, ByteView payload) {
    const Result<std::uint8_t> version = read_u8_at(payload, 0);
    if (!version) return fail(box.empty_message);
    return layout_for_version(box, *version);
}

// ---- mvhd ----
struct MovieHeaderLayout {
    Field creation_time;
    Field timescale;
};
inline constexpr Versioned<MovieHeaderLayout> kMovieHeader{
    {{{{4, 4}, {12, 4}}, {{4, 8}, {20, 4}}}},
    "Unsupported movie header version",
    "Unsupported movie header version",
};
// The next track identifier closes the payload in every version.
inline constexpr std::uint64_t kNextTrackIdFromEnd = 4;

// ---- tkhd ----
struct TrackHeaderLayout {
    Field track_id;
    std::uint64_t layer;   // layer, alternate group, volume, reserved: 8 bytes
    std::uint64_t matrix;  // nine 32-bit entries
    std::uint64_t size;    // width and height: 8 bytes, the last fields
};
inline constexpr Versioned<TrackHeaderLayout> kTrackHeader{
    {{{{12, 4}, 32, 40, 76}, {{20, 4}, 44, 52, 88}}},
    "Empty tkhd",
    "Unsupported track header version",
};
inline constexpr std::uint64_t kTrackHeaderFlags = 1;  // three bytes after the version
inline constexpr std::uint64_t kTrackHeaderSizeWidth = 8;

// ---- mdhd ----
struct MediaHeaderLayout {
    Field timescale;
    Field duration;
};
inline constexpr Versioned<MediaHeaderLayout> kMediaHeader{
    {{{{12, 4}, {16, 4}}, {{20, 4}, {24, 8}}}},
    "Unsupported mdhd version",
    "Unsupported mdhd version",
};
// Language (2 bytes) and quality (2 bytes) close the payload in every version.
inline constexpr std::uint64_t kLanguageFromEnd = 4;
inline constexpr std::uint64_t kLanguageWidth = 2;

// ---- hdlr ----
inline constexpr Field kHandlerType{8, 4};              // after version, flags and the predefined field
inline constexpr std::uint64_t kHandlerFixedSize = 24;  // up to the name

// ---- elst ----
struct EditListLayout {
    std::uint64_t entry_size;
    Field media_time;                // inside an entry
    Field rate;                      // inside an entry, 16.16
    std::uint64_t empty_media_time;  // all ones: an empty edit, a delayed start
};
inline constexpr Versioned<EditListLayout> kEditList{
    {{{12, {4, 4}, {8, 4}, UINT32_MAX}, {20, {8, 8}, {16, 4}, UINT64_MAX}}},
    "Unsupported edit list version",
    "Unsupported edit list version",
};

// ---- tables: stts, stsz, stsc, stco, co64, dref, stsd ----
// Every table starts with version and flags, then its entry count.
inline constexpr Field kEntryCount{4, 4};
inline constexpr std::uint64_t kTableEntries = 8;

// Where a field of entry `index` lies in a table's payload.
constexpr Field entry_field(std::uint64_t entry_size, std::uint64_t index, Field field) {
    return {kTableEntries + index * entry_size + field.offset, field.width};
}

// stts: sample count and sample delta per entry.
inline constexpr std::uint64_t kTimeToSampleEntrySize = 8;
inline constexpr Field kTimeToSampleCount{0, 4};
inline constexpr Field kTimeToSampleDelta{4, 4};

// stsz: one size for all samples, or 0 and a table of sizes.
inline constexpr Field kConstantSampleSize{4, 4};
inline constexpr Field kSampleSizeCount{8, 4};
inline constexpr std::uint64_t kSampleSizeTable = 12;

// stsc: first chunk, samples per chunk, sample description index.
inline constexpr std::uint64_t kSampleToChunkEntrySize = 12;
inline constexpr Field kFirstChunk{0, 4};
inline constexpr Field kSamplesPerChunk{4, 4};
inline constexpr Field kSampleDescriptionIndex{8, 4};

// stco and co64: one offset per chunk, 4 or 8 bytes wide.
inline constexpr std::uint64_t kChunkOffsetWidth32 = 4;
inline constexpr std::uint64_t kChunkOffsetWidth64 = 8;

// ---- sample entries (inside stsd, offsets from the entry payload) ----
// The first entry's payload, behind the stsd table header and its 8-byte atom header.
inline constexpr std::uint64_t kFirstSampleEntry = kTableEntries + 8;
inline constexpr Field kDataReferenceIndex{6, 2};
inline constexpr Field kVisualWidth{24, 2};
inline constexpr Field kVisualHeight{26, 2};

// The tmcd entry. The source reference follows the frames byte and its pad
// byte: ffmpeg and MediaInfo look for the reel's `name` atom there. Without
// one, two zero bytes close the entry.
struct TimecodeEntryLayout {
    Field flags;  // 1 drop frame, 2 24-hour maximum
    Field timescale;
    Field frame_duration;
    Field frames_byte;  // frames per second, rounded
    std::uint64_t source_reference;
    std::uint64_t size;
};
inline constexpr TimecodeEntryLayout kTimecodeEntry{{12, 4}, {16, 4}, {20, 4}, {24, 1}, 26, 28};

// The reel's `name` atom: text length, language code, then the text itself
// with no terminator.
inline constexpr Field kReelTextLength{0, 2};
inline constexpr Field kReelLanguage{2, 2};
inline constexpr std::uint64_t kReelText = 4;

// A field of the first sample entry, read from the stsd payload.
Result<std::uint64_t> read_sample_entry_field(ByteView stsd, Field field);

// ---- vlmr (our own, in moov/udta) ----
// Left by a stamp in place: version and flags (all zero), then where the
// file ended before the stamp and where its old moov starts.
inline constexpr std::uint64_t kStampRecordPayloadSize = 20;
inline constexpr Field kStampOriginalLength{4, 8};
inline constexpr Field kStampOldMoovOffset{12, 8};

// ---- tref ----
// A reference atom holds 32-bit track identifiers.
inline constexpr Field kReferencedTrackId{0, 4};

}  // namespace velmora
