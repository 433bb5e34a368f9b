// The box layouts: the version choice and its messages, and the field
// reader and writer that the movie reader and the track builder share.
#include "boxes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora {
namespace {

struct VersionCase {
    const char* box;
    Result<std::uint64_t> (*first_offset)(ByteView);  // offset of the first field the reader needs
    std::string empty_message;
    std::string unsupported_message;
    std::uint64_t v0_offset;
    std::uint64_t v1_offset;
};

template <typename Layout, Field Layout::*member>
Result<std::uint64_t> offset_of(const Versioned<Layout>& box, ByteView payload) {
    TRY(const Layout* layout, choose_layout(box, payload));
    return (layout->*member).offset;
}

TEST(BoxLayouts, VersionChoiceAndItsMessages) {
    using Mvhd = MovieHeaderLayout;
    using Tkhd = TrackHeaderLayout;
    using Mdhd = MediaHeaderLayout;
    using Elst = EditListLayout;
    const std::vector<VersionCase> cases = {
        {"mvhd", [](ByteView p) { return offset_of<Mvhd, &Mvhd::timescale>(kMovieHeader, p); },
         "Unsupported movie header version", "Unsupported movie header version", 12, 20},
        {"tkhd", [](ByteView p) { return offset_of<Tkhd, &Tkhd::track_id>(kTrackHeader, p); }, "Empty tkhd",
         "Unsupported track header version", 12, 20},
        {"mdhd", [](ByteView p) { return offset_of<Mdhd, &Mdhd::timescale>(kMediaHeader, p); },
         "Unsupported mdhd version", "Unsupported mdhd version", 12, 20},
        {"elst", [](ByteView p) { return offset_of<Elst, &Elst::media_time>(kEditList, p); },
         "Unsupported edit list version", "Unsupported edit list version", 4, 8},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.box);
        EXPECT_EQ(c.first_offset(Bytes{}).error(), c.empty_message);
        EXPECT_EQ(c.first_offset(Bytes{2, 0, 0, 0}).error(), c.unsupported_message);
        EXPECT_EQ(c.first_offset(Bytes{0}), c.v0_offset);
        EXPECT_EQ(c.first_offset(Bytes{1}), c.v1_offset);
    }
}

// Each header version ends where its last field ends: the builder checks
// the size from the layout, the reader reads the fields from it.
TEST(BoxLayouts, FixedPayloadSizes) {
    EXPECT_EQ(kTrackHeader.layouts[0].size + kTrackHeaderSizeWidth, 84u);
    EXPECT_EQ(kTrackHeader.layouts[1].size + kTrackHeaderSizeWidth, 96u);
    const Field v0_duration = kMediaHeader.layouts[0].duration;
    const Field v1_duration = kMediaHeader.layouts[1].duration;
    EXPECT_EQ(v0_duration.offset + v0_duration.width + kLanguageFromEnd, 24u);
    EXPECT_EQ(v1_duration.offset + v1_duration.width + kLanguageFromEnd, 36u);
    EXPECT_EQ(kEditList.layouts[0].rate.offset + 4, kEditList.layouts[0].entry_size);
    EXPECT_EQ(kEditList.layouts[1].rate.offset + 4, kEditList.layouts[1].entry_size);
    // An empty edit's media time is all ones across the field's own width.
    for (const EditListLayout& layout : kEditList.layouts) {
        const std::uint64_t bits = 8 * layout.media_time.width;
        EXPECT_EQ(layout.empty_media_time, bits == 64 ? UINT64_MAX : (std::uint64_t{1} << bits) - 1);
    }
    // The tmcd entry: the frames byte, a pad byte, then the source reference
    // (two zero bytes when there is no reel).
    EXPECT_EQ(kTimecodeEntry.frames_byte.offset + 4, kTimecodeEntry.size);
    EXPECT_EQ(kTimecodeEntry.frames_byte.offset + 2, kTimecodeEntry.source_reference);
}

TEST(BoxFields, WriteThenReadEveryWidth) {
    const std::vector<std::pair<Field, std::uint64_t>> cases = {
        {{0, 1}, 0xAB}, {{1, 2}, 0xBEEF}, {{1, 3}, 0x000002}, {{3, 4}, 0xDEADBEEF}, {{2, 8}, 0x0102030405060708},
    };
    for (const auto& [field, value] : cases) {
        SCOPED_TRACE(field.width);
        Bytes payload(field.offset + field.width, 0xEE);
        put_field(payload, field, value);
        EXPECT_EQ(std::vector<std::uint8_t>(payload.begin(), payload.begin() + field.offset),
                  std::vector<std::uint8_t>(field.offset, 0xEE));
        EXPECT_EQ(read_field(payload, field), value);
        EXPECT_EQ(read_field(ByteView(payload).first(payload.size() - 1), field).error(), "Truncated movie metadata");
    }
    // The tkhd flags: three bytes behind the version, which stays.
    Bytes tkhd{1, 0xFF, 0xFF, 0xFF, 9};
    put_field(tkhd, {kTrackHeaderFlags, 3}, 2);
    EXPECT_EQ(tkhd, (Bytes{1, 0, 0, 2, 9}));
}

// A field counted from the end of a payload shorter than four bytes wraps
// its offset; the bounded reader refuses that as an overflow, which the
// rebuilt mvhd relies on.
TEST(BoxFields, WrappedOffsetIsAnOverflow) {
    const Bytes short_payload{1, 2, 3};
    const Field next{short_payload.size() - kNextTrackIdFromEnd, 4};
    EXPECT_EQ(read_field(short_payload, next).error(), "Offset overflow");
}

TEST(BoxFields, SampleEntryFieldsCountFromTheFirstEntryPayload) {
    Bytes stsd(kFirstSampleEntry + kTimecodeEntry.size, 0);
    stsd[kFirstSampleEntry + kTimecodeEntry.timescale.offset + 3] = 25;
    stsd[kFirstSampleEntry + kDataReferenceIndex.offset + 1] = 1;
    EXPECT_EQ(read_sample_entry_field(stsd, kTimecodeEntry.timescale), 25u);
    EXPECT_EQ(read_sample_entry_field(stsd, kDataReferenceIndex), 1u);
    EXPECT_EQ(read_sample_entry_field(ByteView(stsd).first(40), kTimecodeEntry.frames_byte).error(),
              "Truncated movie metadata");
}

}  // namespace
}  // namespace velmora
