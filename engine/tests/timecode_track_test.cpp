#include "timecode_track.h"

#include <functional>
#include <string_view>
#include <gtest/gtest.h>

#include "movie.h"
#include "support/movie_builder.h"

namespace velmora {
namespace {

using testing::MovieSpec;
using testing::TempFile;
using testing::TimecodeEntry;

// Existing timecode tracks, read through open_movie.
struct ExistingCase {
    const char* name;
    std::function<void(MovieSpec&)> change;
    std::optional<std::string> timecode;  // expected text
    const char* message;                  // or the expected failure
    std::optional<std::string> reel;      // expected when accepted
};

// Test names and failure traces show the case by its name.
void PrintTo(const ExistingCase& c, std::ostream* os) { *os << c.name; }

class ExistingTimecode : public ::testing::TestWithParam<ExistingCase> {};

TEST_P(ExistingTimecode, ReadsOrRefuses) {
    MovieSpec recipe;
    GetParam().change(recipe);
    TempFile file(testing::build_movie_bytes(recipe));
    const auto movie = open_movie(file.path());
    if (GetParam().message != nullptr) {
        ASSERT_FALSE(movie.has_value()) << "accepted";
        EXPECT_EQ(movie.error(), GetParam().message);
    } else {
        ASSERT_TRUE(movie.has_value()) << movie.error();
        EXPECT_EQ(movie->existing_timecode, GetParam().timecode);
        EXPECT_EQ(movie->existing_reel, GetParam().reel);
    }
}

testing::TrackSpec timecode(std::uint32_t start, TimecodeEntry entry = {}) {
    return testing::timecode_track(start, entry);
}

// A 01:00:00;00 timecode track with the given bytes behind the frames byte's pad.
std::function<void(MovieSpec&)> with_source_reference(Bytes reference) {
    return [reference](MovieSpec& s) {
        TimecodeEntry entry{1, 30000, 1001, 30};
        entry.source_reference = reference;
        s.tracks.push_back(timecode(107892, entry));
    };
}

// A source reference of one atom, its size, type and text length spelled out.
std::function<void(MovieSpec&)> with_reel_atom(std::uint32_t size, const char (&type)[5], std::uint16_t length,
                                               std::string_view text) {
    Bytes atom = pack_u32_be({size});
    atom.insert(atom.end(), type, type + 4);
    append_u16_be(atom, length);
    append_u16_be(atom, 0);
    atom.insert(atom.end(), text.begin(), text.end());
    return with_source_reference(atom);
}

// clang-format off
const ExistingCase kExistingCases[] = {
    {"none", [](MovieSpec&) {}, std::nullopt, nullptr},
    {"non_drop", [](MovieSpec& s) { s.tracks.push_back(timecode(108000)); }, "01:00:00:00", nullptr},
    {"drop", [](MovieSpec& s) { s.tracks.push_back(timecode(107892, {1, 30000, 1001, 30})); }, "01:00:00;00", nullptr},
    {"flags_two_and_three",
     [](MovieSpec& s) { s.tracks.push_back(timecode(17982, {3, 30000, 1001, 30})); }, "00:10:00;00", nullptr},
    {"wraps_a_day", [](MovieSpec& s) { s.tracks.push_back(timecode(2592001)); }, "00:00:00:01", nullptr},
    {"two_tracks",
     [](MovieSpec& s) {
         s.tracks.push_back(timecode(0));
         s.tracks.push_back(timecode(0));
     },
     std::nullopt, "Multiple timecode tracks are not supported yet"},
    {"two_samples",
     [](MovieSpec& s) {
         auto track = timecode(0);
         track.timing = {{2, 1001}};
         track.sample_data = Bytes{0, 0, 0, 0, 0, 0, 0, 1};
         s.tracks.push_back(track);
     },
     std::nullopt, "Discontinuous timecode is not supported yet"},
    {"flags_above_three", [](MovieSpec& s) { s.tracks.push_back(timecode(0, {4, 30000, 1001, 30})); }, std::nullopt,
     "Unsupported timecode format flags"},
    {"zero_frames_per_second", [](MovieSpec& s) { s.tracks.push_back(timecode(0, {0, 30000, 1001, 0})); },
     std::nullopt, "Unsupported timecode format flags"},
    {"rate_differs_25_vs_24",
     [](MovieSpec& s) {
         s.tracks.front() = testing::video_track("avc1", 24, 1);
         s.tracks.push_back(timecode(0, {0, 25, 1, 25}));
     },
     std::nullopt, "Timecode and video rates disagree"},
    {"same_rate_other_scale",
     [](MovieSpec& s) {
         s.tracks.front() = testing::video_track("avc1", 24, 1);
         s.tracks.push_back(timecode(24, {0, 2400, 100, 24}));
     },
     "00:00:01:00", nullptr},
    // Some action cameras store the whole part of 29.97 as the frames byte.
    {"camera_frames_byte_29_at_2997", [](MovieSpec& s) { s.tracks.push_back(timecode(1800, {1, 30000, 1001, 29})); },
     "00:01:00;02", nullptr},
    {"fps_byte_31_at_2997", [](MovieSpec& s) { s.tracks.push_back(timecode(0, {0, 30000, 1001, 31})); },
     std::nullopt, "Timecode and video rates disagree"},
    {"fps_byte_29_at_30",
     [](MovieSpec& s) {
         s.tracks.front() = testing::video_track("avc1", 30, 1);
         s.tracks.push_back(timecode(0, {0, 30, 1, 29}));
     },
     std::nullopt, "Timecode and video rates disagree"},
    {"fps_byte_59_at_5994_video_2997",
     [](MovieSpec& s) { s.tracks.push_back(timecode(0, {0, 60000, 1001, 59})); }, std::nullopt,
     "Timecode and video rates disagree"},
    // A variable-rate video at time scale 600 is labelled at 30000/1001.
    {"variable_rate_at_its_standard_rate",
     [](MovieSpec& s) {
         s.tracks.front().timescale = 600;
         s.tracks.front().timing = {{10, 20}, {1, 21}, {10, 20}};
         s.tracks.push_back(timecode(1800, {0, 30000, 1001, 30}));
     },
     "00:01:00:00", nullptr},
    {"variable_rate_at_its_own_scale",
     [](MovieSpec& s) {
         s.tracks.front().timescale = 600;
         s.tracks.front().timing = {{10, 20}, {1, 21}, {10, 20}};
         s.tracks.push_back(timecode(0, {0, 600, 20, 30}));
     },
     std::nullopt, "Timecode and video rates disagree"},
    // A phone's constant 1501 at 90000 is labelled 59.94; its timecode may
    // run at either rate, but at no third one.
    {"near_standard_at_the_container_rate",
     [](MovieSpec& s) {
         s.tracks.front() = testing::video_track("avc1", 90000, 1501);
         s.tracks.push_back(timecode(3600, {0, 90000, 1501, 60}));
     },
     "00:01:00:00", nullptr},
    {"near_standard_drop_frame_at_the_container_rate",
     [](MovieSpec& s) {
         s.tracks.front() = testing::video_track("avc1", 90000, 1501);
         s.tracks.push_back(timecode(215784, {1, 90000, 1501, 60}));
     },
     "01:00:00;00", nullptr},
    {"near_standard_at_the_standard_rate",
     [](MovieSpec& s) {
         s.tracks.front() = testing::video_track("avc1", 90000, 1501);
         s.tracks.push_back(timecode(215784, {1, 60000, 1001, 60}));
     },
     "01:00:00;00", nullptr},
    {"near_standard_at_neither",
     [](MovieSpec& s) {
         s.tracks.front() = testing::video_track("avc1", 90000, 1501);
         s.tracks.push_back(timecode(0, {0, 60, 1, 60}));
     },
     std::nullopt, "Timecode and video rates disagree"},
    {"sample_of_eight_bytes",
     [](MovieSpec& s) {
         auto track = timecode(0);
         track.constant_sample_size = 8;
         s.tracks.push_back(track);
     },
     std::nullopt, "Expected a 32-bit timecode sample"},
    {"per_sample_size_four",
     [](MovieSpec& s) {
         auto track = timecode(25);
         track.sample_sizes = {4};
         s.tracks.push_back(track);
     },
     "00:00:00:25", nullptr},
    {"negative",
     [](MovieSpec& s) { s.tracks.push_back(timecode(0x80000000u)); }, std::nullopt,
     "Negative timecode is not supported yet"},
    {"drop_flag_at_25",
     [](MovieSpec& s) {
         s.tracks.front() = testing::video_track("avc1", 25, 1);
         s.tracks.push_back(timecode(0, {1, 25, 1, 25}));
     },
     std::nullopt, "Drop-frame requires 29.97 or 59.94 fps"},
    // The reel in the source reference; a name that cannot be read is no reel, never a refusal.
    {"reel", with_reel_atom(20, "name", 8, "A001C003"), "01:00:00;00", nullptr, "A001C003"},
    {"reel_not_utf8", with_reel_atom(14, "name", 2, "A\xff"), "01:00:00;00", nullptr, "A\xef\xbf\xbd"},
    {"reel_ends_at_a_zero_byte", with_reel_atom(20, "name", 8, std::string_view("A001\0\0\0\0", 8)), "01:00:00;00",
     nullptr, "A001"},
    {"reel_trailing_bytes_ignored", with_reel_atom(16, "name", 4, "A001C003"), "01:00:00;00", nullptr, "A001"},
    {"reel_empty", with_reel_atom(12, "name", 0, ""), "01:00:00;00", nullptr, std::nullopt},
    {"reel_other_atom", with_reel_atom(20, "udta", 8, "A001C003"), "01:00:00;00", nullptr, std::nullopt},
    {"reel_atom_past_the_entry", with_reel_atom(21, "name", 8, "A001C003"), "01:00:00;00", nullptr, std::nullopt},
    {"reel_text_past_the_atom", with_reel_atom(20, "name", 9, "A001C003"), "01:00:00;00", nullptr, std::nullopt},
    {"reel_atom_below_its_header", with_reel_atom(4, "name", 8, "A001C003"), "01:00:00;00", nullptr, std::nullopt},
    {"reel_atom_without_text_length", with_source_reference(Bytes{0, 0, 0, 8, 'n', 'a', 'm', 'e'}), "01:00:00;00",
     nullptr, std::nullopt},
    {"no_reel_two_zero_bytes", with_source_reference(Bytes{0, 0}), "01:00:00;00", nullptr, std::nullopt},
};
// clang-format on

std::string existing_case_name(const ::testing::TestParamInfo<ExistingCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Cases, ExistingTimecode, ::testing::ValuesIn(kExistingCases), existing_case_name);

TEST(ExistingTimecodeLayout, SampleTablesAreCheckedBeforeTheTimecode) {
    // A single timecode sample listed in two chunks never reaches the
    // timecode reader: the sample layout refuses the second, empty chunk.
    MovieSpec recipe;
    recipe.tracks.push_back(testing::timecode_track(0));
    auto movie = testing::build_movie(recipe);
    auto& stbl = testing::find(movie, "moov/trak#1/mdia/minf/stbl");
    const auto offset = testing::read_u32(stbl.at("stco").payload, 8);
    stbl.at("stco").payload = testing::stco_payload({offset, offset});
    stbl.at("stsc").payload = testing::stsc_payload({{1, 1, 1}, {2, 1, 1}});
    TempFile file(testing::serialize(movie));
    const auto opened = open_movie(file.path());
    ASSERT_FALSE(opened.has_value());
    EXPECT_EQ(opened.error(), "Too many chunk samples");
}

}  // namespace
}  // namespace velmora
