#include "sample_tables.h"

#include <functional>
#include <random>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/movie_builder.h"

namespace velmora {
namespace {

using testing::Atoms;
using testing::MovieSpec;
using testing::TempFile;

constexpr const char* kStbl = "moov/trak/mdia/minf/stbl";

struct TimingCase {
    const char* name;
    Bytes stts;
    std::uint64_t media_duration;
    std::uint64_t sample_count;  // expected, when accepted
    std::uint32_t sample_delta;
    const char* message;
    TimingKind kind = TimingKind::video;
    Bytes other_tables;  // whole atoms beside the stts
};

Bytes stbl_of(const TimingCase& c) {
    Bytes stbl = make_atom("stts", c.stts);
    append_bytes(stbl, c.other_tables);
    return stbl;
}

// The size, sample-to-chunk and chunk-offset tables beside the stts, listing
// the given numbers of entries (none: a track without samples).
Bytes other_tables(bool co64, std::uint32_t sizes = 0, std::uint32_t runs = 0, std::uint32_t chunks = 0) {
    Bytes tables = make_atom("stsz", testing::stsz_payload(4, sizes));
    append_bytes(tables,
                 make_atom("stsc", testing::stsc_payload(std::vector<std::array<std::uint32_t, 3>>(runs, {1, 1, 1}))));
    if (co64)
        append_bytes(tables, make_atom("co64", testing::co64_payload(std::vector<std::uint64_t>(chunks, 8))));
    else
        append_bytes(tables, make_atom("stco", testing::stco_payload(std::vector<std::uint32_t>(chunks, 8))));
    return tables;
}

TEST(ReadSampleTiming, Table) {
    using testing::stts_payload;
    Bytes short_table = stts_payload({{300, 1001}});
    short_table.resize(7);
    Bytes long_table = stts_payload({{300, 1001}});
    long_table.push_back(0);
    const TimingCase cases[] = {
        {"single_entry", stts_payload({{300, 1001}}), 300300, 300, 1001, nullptr},
        {"constant_over_entries", stts_payload({{100, 512}, {200, 512}}), 153600, 300, 512, nullptr},
        {"varying_deltas", stts_payload({{299, 1001}, {1, 1000}}), 300299, 300, 0, nullptr},
        {"first_delta_differs", stts_payload({{1, 1000}, {299, 1001}}), 300299, 300, 0, nullptr},
        // Phones end the media header up to one frame (the largest delta)
        // before or after the samples; a unit further is refused.
        {"one_delta_short", stts_payload({{299, 1001}}), 300300, 299, 1001, nullptr},
        {"one_delta_and_a_unit_short", stts_payload({{299, 1001}}), 300301, 0, 0,
         "Incomplete sample timing is not supported"},
        {"longer_than_media", stts_payload({{301, 1001}}), 300300, 301, 1001, nullptr},
        {"longer_than_media_by_a_delta_and_a_unit", stts_payload({{301, 1001}}), 300299, 0, 0,
         "Incomplete sample timing is not supported"},
        {"short_by_the_largest_of_differing_deltas", stts_payload({{1, 500}, {8, 1001}, {1, 500}}), 10009, 10, 0,
         nullptr},
        {"short_by_more_than_the_largest_delta", stts_payload({{1, 500}, {8, 1001}, {1, 500}}), 10010, 0, 0,
         "Incomplete sample timing is not supported"},
        {"no_entries", stts_payload({}), 0, 0, 0, "Incomplete sample timing is not supported"},
        // A track without samples in any table is carried over; the movie
        // decides whether it was meant to be the video.
        {"no_samples_in_any_table", stts_payload({}), 0, 0, 0, nullptr, TimingKind::video, other_tables(false)},
        {"no_samples_in_any_table_co64", stts_payload({}), 900, 0, 0, nullptr, TimingKind::other, other_tables(true)},
        {"no_timing_beside_a_size", stts_payload({}), 0, 0, 0, "Incomplete sample timing is not supported",
         TimingKind::other, other_tables(false, 1)},
        {"no_timing_beside_a_chunk_run", stts_payload({}), 0, 0, 0, "Incomplete sample timing is not supported",
         TimingKind::other, other_tables(false, 0, 1)},
        {"no_timing_beside_a_chunk", stts_payload({}), 0, 0, 0, "Incomplete sample timing is not supported",
         TimingKind::other, other_tables(true, 0, 0, 1)},
        {"seven_bytes", short_table, 300300, 0, 0, "Truncated movie metadata"},
        {"extra_byte", long_table, 300300, 0, 0, "Invalid sample timing table"},
        {"count_says_two",
         [] {
             Bytes b = stts_payload({{300, 1001}});
             testing::set_u32(b, 4, 2);
             return b;
         }(),
         300300, 0, 0, "Invalid sample timing table"},
        {"zero_count", stts_payload({{300, 1001}, {0, 1001}}), 300300, 0, 0, "Invalid sample duration"},
        {"zero_delta", stts_payload({{300, 0}}), 0, 0, 0, "Invalid sample duration"},
        {"zero_delta_after_mismatch", stts_payload({{1, 5}, {2, 0}}), 5, 0, 0, "Invalid sample duration"},
        // Phones close the video with one zero-length sample.
        {"closing_zero_length_sample", stts_payload({{1, 5}, {1, 0}}), 5, 2, 0, nullptr},
        {"zero_length_sample_alone", stts_payload({{1, 0}}), 0, 0, 0, "Invalid sample duration"},
        {"zero_length_sample_first", stts_payload({{1, 0}, {9, 1001}}), 9009, 0, 0, "Invalid sample duration"},
        {"closing_zero_still_held_to_mdhd", stts_payload({{9, 1001}, {1, 0}}), 10011, 0, 0,
         "Incomplete sample timing is not supported"},
        {"cover_picture_of_zero_length", stts_payload({{1, 0}}), 512, 1, 0, nullptr, TimingKind::jpeg_video},
        {"jpeg_video_zero_first", stts_payload({{2, 0}}), 0, 0, 0, "Invalid sample duration", TimingKind::jpeg_video},
        {"jpeg_video_held_to_mdhd", stts_payload({{2, 512}}), 1537, 0, 0, "Incomplete sample timing is not supported",
         TimingKind::jpeg_video},
        // Action cameras' metadata tracks hold only zero-length samples;
        // audio often misses its mdhd duration by a few units.
        {"metadata_all_zero_length", stts_payload({{40, 0}}), 0, 40, 0, nullptr, TimingKind::other},
        {"metadata_zero_then_one", stts_payload({{3, 0}, {1, 1}}), 1, 4, 0, nullptr, TimingKind::other},
        {"audio_short_of_mdhd", stts_payload({{10, 1024}}), 10200, 10, 1024, nullptr, TimingKind::other},
        {"audio_count_0", stts_payload({{10, 1024}, {0, 1024}}), 10240, 0, 0, "Invalid sample duration",
         TimingKind::other},
        {"audio_without_samples", stts_payload({}), 0, 0, 0, "Incomplete sample timing is not supported",
         TimingKind::other},
        {"duration_overflow", stts_payload({{0xffffffff, 0xffffffff}, {0xffffffff, 0xffffffff}}), 0, 0, 0,
         "Duration overflow"},
    };
    for (const TimingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto timing = read_sample_timing(parse_children(stbl_of(c)).value(), c.media_duration, c.kind);
        if (c.message != nullptr) {
            ASSERT_FALSE(timing.has_value());
            EXPECT_EQ(timing.error(), c.message);
        } else {
            ASSERT_TRUE(timing.has_value()) << timing.error();
            EXPECT_EQ(timing->sample_count, c.sample_count);
            EXPECT_EQ(timing->sample_delta, c.sample_delta);
        }
    }
    EXPECT_EQ(read_sample_timing(parse_children(make_atom("stsz", Bytes(12, 0))).value(), 0, TimingKind::video).error(),
              "Missing or duplicate required metadata atom");
}

// Sample layout cases run through open_movie: each differs from a good movie
// in its sample tables or in where the media data lies.
struct LayoutCase {
    const char* name;
    const char* message;  // nullptr: accepted
    std::function<void(MovieSpec&)> recipe;
    std::function<void(Atoms&)> atoms;
};

// Test names and failure traces show the case by its name.
void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class SampleLayout : public ::testing::TestWithParam<LayoutCase> {};

std::string layout_case_name(const ::testing::TestParamInfo<LayoutCase>& info) { return info.param.name; }

TEST_P(SampleLayout, AcceptsOrRefusesWithItsMessage) {
    MovieSpec recipe;
    if (GetParam().recipe) GetParam().recipe(recipe);
    Atoms atoms = testing::build_movie(recipe);
    if (GetParam().atoms) GetParam().atoms(atoms);
    TempFile file(testing::serialize(atoms));
    const auto movie = open_movie(file.path());
    if (GetParam().message == nullptr) {
        EXPECT_TRUE(movie.has_value()) << movie.error();
    } else {
        ASSERT_FALSE(movie.has_value()) << "accepted";
        EXPECT_EQ(movie.error(), GetParam().message);
    }
}

Bytes& table(Atoms& a, const char* name) { return testing::find(a, std::string(kStbl) + "/" + name).payload; }
std::uint32_t first_offset(Atoms& a) { return testing::read_u32(table(a, "stco"), 8); }

// Ten samples of 4 bytes in chunks of `per_chunk`, with `chunks` chunk offsets.
void ten_samples(Atoms& a, std::uint32_t per_chunk, std::uint32_t chunks) {
    const std::uint32_t base = first_offset(a);
    std::vector<std::uint32_t> offsets;
    for (std::uint32_t i = 0; i < chunks; ++i) offsets.push_back(base + 4 * per_chunk * i);
    table(a, "stco") = testing::stco_payload(offsets);
    table(a, "stsc") = testing::stsc_payload({{1, per_chunk, 1}});
}

// clang-format off
const LayoutCase kSampleSizes[] = {
    {"constant_size_one_sample", nullptr, [](MovieSpec& s) { s.tracks[0].timing = {{1, 1001}}; }},
    {"constant_size_with_table", "Invalid sample size table", [](MovieSpec& s) { s.tracks[0].timing = {{1, 1001}}; },
     [](Atoms& a) { table(a, "stsz").resize(16); }},
    {"count_differs_from_timing", "Invalid sample size table", {},
     [](Atoms& a) { testing::set_u32(table(a, "stsz"), 8, 9); }},
    {"per_sample_sizes", nullptr, [](MovieSpec& s) { s.tracks[0].sample_sizes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}; }},
    {"per_sample_table_short", "Invalid sample size table",
     [](MovieSpec& s) { s.tracks[0].sample_sizes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}; },
     [](Atoms& a) { table(a, "stsz").resize(12 + 36); }},
    {"stsz_11_bytes", "Truncated movie metadata", {}, [](Atoms& a) { table(a, "stsz").resize(11); }},
    {"stsz_7_bytes", "Truncated movie metadata", {}, [](Atoms& a) { table(a, "stsz").resize(7); }},
    {"compact_sizes_only", "Missing or duplicate required metadata atom", {},
     [](Atoms& a) { testing::find(a, std::string(kStbl) + "/stsz").type = FourCC("stz2"); }},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(SampleSizes, SampleLayout, ::testing::ValuesIn(kSampleSizes), layout_case_name);

// clang-format off
const LayoutCase kSampleToChunk[] = {
    {"no_stsc", "Missing or duplicate required metadata atom", {},
     [](Atoms& a) { testing::remove(a, std::string(kStbl) + "/stsc"); }},
    {"no_entries", "Invalid sample-to-chunk table", {}, [](Atoms& a) { table(a, "stsc") = testing::stsc_payload({}); }},
    {"no_entries_in_a_track_without_samples", nullptr, [](MovieSpec& s) {
         s.tracks.push_back(testing::audio_track());
         s.tracks[1].timing = {};
     }},
    {"length_mismatch", "Invalid sample-to-chunk table", {}, [](Atoms& a) { table(a, "stsc").push_back(0); }},
    {"starts_at_chunk_2", "Invalid sample-to-chunk mapping", {},
     [](Atoms& a) { table(a, "stsc") = testing::stsc_payload({{2, 10, 1}}); }},
    {"starts_at_chunk_0", "Invalid sample-to-chunk mapping", {},
     [](Atoms& a) { table(a, "stsc") = testing::stsc_payload({{0, 10, 1}}); }},
    {"repeated_first_chunk", "Invalid sample-to-chunk mapping", {},
     [](Atoms& a) { table(a, "stsc") = testing::stsc_payload({{1, 10, 1}, {1, 10, 1}}); }},
    {"zero_samples_per_chunk", "Invalid sample-to-chunk mapping", {},
     [](Atoms& a) { table(a, "stsc") = testing::stsc_payload({{1, 0, 1}}); }},
    {"description_index_2", "Invalid sample-to-chunk mapping", {},
     [](Atoms& a) { table(a, "stsc") = testing::stsc_payload({{1, 10, 2}}); }},
    {"first_chunk_beyond_offsets", "Invalid sample-to-chunk mapping", {},
     [](Atoms& a) { table(a, "stsc") = testing::stsc_payload({{1, 5, 1}, {2, 5, 1}}); }},
    {"no_chunks", "Invalid sample-to-chunk mapping", {}, [](Atoms& a) { table(a, "stco") = testing::stco_payload({}); }},
    {"runs_of_four_then_two", nullptr, {}, [](Atoms& a) {
         const std::uint32_t base = first_offset(a);
         table(a, "stco") = testing::stco_payload({base, base + 16, base + 32});
         table(a, "stsc") = testing::stsc_payload({{1, 4, 1}, {3, 2, 1}});
     }},
    {"ten_in_fours_three_chunks", "Too many chunk samples", {}, [](Atoms& a) { ten_samples(a, 4, 3); }},
    {"ten_in_fours_two_chunks", "Missing chunk samples", {}, [](Atoms& a) { ten_samples(a, 4, 2); }},
    {"ten_in_fives", nullptr, {}, [](Atoms& a) { ten_samples(a, 5, 2); }},
    {"chunks_may_share_bytes", nullptr, {}, [](Atoms& a) {
         const std::uint32_t base = first_offset(a);
         table(a, "stco") = testing::stco_payload({base, base});
         table(a, "stsc") = testing::stsc_payload({{1, 5, 1}});
     }},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(SampleToChunk, SampleLayout, ::testing::ValuesIn(kSampleToChunk), layout_case_name);

// clang-format off
const LayoutCase kChunkOffsets[] = {
    {"no_offset_table", "Missing or duplicate required metadata atom", {},
     [](Atoms& a) { testing::remove(a, std::string(kStbl) + "/stco"); }},
    {"two_stco", "Duplicate metadata atom", {},
     [](Atoms& a) { testing::find(a, kStbl).children.push_back(testing::find(a, std::string(kStbl) + "/stco")); }},
    {"co64_beside_stco_is_ignored", nullptr, {},
     [](Atoms& a) { testing::find(a, kStbl).children.push_back(testing::leaf("co64", Bytes(3, 0xff))); }},
    {"co64", nullptr, [](MovieSpec& s) { s.tracks[0].co64 = true; }},
    {"two_co64", "Missing or duplicate required metadata atom", [](MovieSpec& s) { s.tracks[0].co64 = true; },
     [](Atoms& a) { testing::find(a, kStbl).children.push_back(testing::find(a, std::string(kStbl) + "/co64")); }},
    {"stco_7_bytes", "Truncated movie metadata", {}, [](Atoms& a) { table(a, "stco").resize(7); }},
    {"stco_length_mismatch", "Invalid chunk offset table", {}, [](Atoms& a) { table(a, "stco").push_back(0); }},
    {"co64_with_stco_sized_entries", "Invalid chunk offset table", [](MovieSpec& s) { s.tracks[0].co64 = true; },
     [](Atoms& a) { testing::find(a, std::string(kStbl) + "/co64").payload.resize(12); }},
    {"chunk_offset_overflow", "Chunk offset overflow", [](MovieSpec& s) { s.tracks[0].co64 = true; },
     [](Atoms& a) { testing::find(a, std::string(kStbl) + "/co64").payload = testing::co64_payload({~0ull - 3}); }},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(ChunkOffsets, SampleLayout, ::testing::ValuesIn(kChunkOffsets), layout_case_name);

// clang-format off
const LayoutCase kMediaData[] = {
    {"no_mdat", "Sample points outside local media data", {},
     [](Atoms& a) { testing::find(a, "mdat").type = FourCC("free"); }},
    {"chunk_in_mdat_header", "Sample points outside local media data", {},
     [](Atoms& a) { testing::set_u32(table(a, "stco"), 8, first_offset(a) - 1); }},
    {"chunk_past_mdat_end", "Sample points outside local media data", {},
     [](Atoms& a) { testing::set_u32(table(a, "stco"), 8, first_offset(a) + 1); }},
    {"chunk_in_ftyp", "Sample points outside local media data", {},
     [](Atoms& a) { testing::set_u32(table(a, "stco"), 8, 0); }},
    {"chunk_in_moov", "Sample points outside local media data", {},
     [](Atoms& a) { testing::set_u32(table(a, "stco"), 8, first_offset(a) + 40 + 8); }},
    {"chunks_in_separate_mdats", nullptr, [](MovieSpec& s) {
         s.tracks[0].samples_per_chunk = 2;
         s.chunks_per_mdat = 1;
     }},
    {"chunk_spanning_two_mdats", "Sample points outside local media data",
     [](MovieSpec& s) {
         s.tracks[0].samples_per_chunk = 2;
         s.chunks_per_mdat = 1;
     },
     [](Atoms& a) {
         // Chunk 1 moved 4 bytes on runs over the first mdat's end into the next header.
         testing::set_u32(table(a, "stco"), 8, first_offset(a) + 4);
     }},
    {"empty_mdat_beside_the_data", nullptr, {},
     [](Atoms& a) { a.insert(a.end() - 1, testing::leaf("mdat")); }},
    {"second_track_in_its_own_mdat", nullptr,
     [](MovieSpec& s) {
         s.tracks.push_back(testing::audio_track());
         s.chunks_per_mdat = 1;
     }},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(MediaData, SampleLayout, ::testing::ValuesIn(kMediaData), layout_case_name);

TEST(SampleLayout, PerSampleSizesSumPerChunk) {
    // Chunks of three samples with growing sizes: the last chunk exactly fills the payload.
    MovieSpec recipe;
    recipe.tracks[0].sample_sizes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    recipe.tracks[0].samples_per_chunk = 3;
    Atoms atoms = testing::build_movie(recipe);
    const Bytes stco = table(atoms, "stco");
    const std::uint32_t last = testing::read_u32(stco, 8 + 4 * 3);
    {
        TempFile file(testing::serialize(atoms));
        EXPECT_TRUE(open_movie(file.path()).has_value());
    }
    // One byte later, the last (ten-byte) chunk runs past the mdat.
    testing::set_u32(table(atoms, "stco"), 8 + 4 * 3, last + 1);
    TempFile file(testing::serialize(atoms));
    const auto movie = open_movie(file.path());
    ASSERT_FALSE(movie.has_value());
    EXPECT_EQ(movie.error(), "Sample points outside local media data");
}

// A co64 track whose chunk sits beyond 4 GiB in a file that large; the gap
// is a sparse hole.
TEST(SampleLayout, SixtyFourBitOffsetsBeyondFourGiB) {
    MovieSpec recipe;
    recipe.tracks[0].co64 = true;
    Atoms atoms = testing::build_movie(recipe);
    const std::uint64_t hole = 5ull << 30;
    const Bytes ftyp = atoms[0].bytes();
    const Bytes samples = atoms[1].payload;
    const std::uint64_t data_at = ftyp.size() + 16 + hole;
    testing::find(atoms, std::string(kStbl) + "/co64").payload = testing::co64_payload({data_at});
    const Bytes moov = atoms[2].bytes();

    Bytes head = ftyp;
    append_u32_be(head, 1);
    append_bytes(head, FourCC("mdat").bytes);
    append_u64_be(head, 16 + hole + samples.size());
    TempFile file(head);
    {
        File out(::open(file.path().c_str(), O_WRONLY));
        ASSERT_TRUE(out);
        ASSERT_EQ(::pwrite(out.get(), samples.data(), samples.size(), static_cast<off_t>(data_at)),
                  static_cast<ssize_t>(samples.size()));
        ASSERT_EQ(::pwrite(out.get(), moov.data(), moov.size(), static_cast<off_t>(data_at + samples.size())),
                  static_cast<ssize_t>(moov.size()));
    }
    const auto movie = open_movie(file.path());
    ASSERT_TRUE(movie.has_value()) << movie.error();
    EXPECT_GT(movie->file_size, 4ull << 30);
    const auto offsets = chunk_offsets(parse_children(sample_table_of(movie->tracks[0].trak_bytes).value()).value());
    ASSERT_TRUE(offsets.has_value());
    EXPECT_EQ(*offsets, std::vector<std::uint64_t>{data_at});
}

TEST(RangeHolding, BinarySearchAgreesWithTheFirstMatchingRange) {
    std::mt19937_64 random(7);
    for (int round = 0; round < 200; ++round) {
        // Consecutive top-level atoms: each range starts at least 8 bytes after the last ends.
        std::vector<MediaRange> ranges;
        std::uint64_t at = random() % 16;
        const int count = static_cast<int>(random() % 12);
        for (int i = 0; i < count; ++i) {
            const std::uint64_t start = at + 8 + random() % 8;
            const std::uint64_t end = start + random() % 24;
            ranges.emplace_back(start, end);
            at = end;
        }
        for (int query = 0; query < 200; ++query) {
            const std::uint64_t start = random() % (at + 16);
            const std::uint64_t end = start + random() % 12;
            std::optional<MediaRange> linear;
            for (const MediaRange& range : ranges)
                if (range.first <= start && range.second >= end) {
                    linear = range;
                    break;
                }
            ASSERT_EQ(range_holding(ranges, start, end), linear) << start << ".." << end;
        }
    }
    EXPECT_FALSE(range_holding({}, 0, 0).has_value());
    EXPECT_EQ(range_holding({{8, 8}}, 8, 8), (MediaRange{8, 8}));
}

}  // namespace
}  // namespace velmora
