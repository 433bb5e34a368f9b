// When a movie has two faults, the reader reports the one it meets first.
// Each case names two faults that are each refused with their own message;
// with both present, the first fault's message must win.
#include <functional>
#include <gtest/gtest.h>

#include "movie.h"
#include "support/movie_builder.h"

namespace velmora {
namespace {

using testing::Atoms;
using testing::MovieSpec;

struct Fault {
    const char* message;
    std::function<void(MovieSpec&)> recipe;
    std::function<void(Atoms&)> atoms;
};

struct OrderCase {
    const char* name;
    std::function<void(MovieSpec&)> base;  // extra tracks the faults need
    Fault first;
    Fault second;
};

void PrintTo(const OrderCase& c, std::ostream* os) { *os << c.name; }

std::string refusal(const OrderCase& c, const std::vector<const Fault*>& faults) {
    MovieSpec recipe;
    recipe.tracks = {testing::video_track(), testing::audio_track()};
    if (c.base) c.base(recipe);
    for (const Fault* fault : faults)
        if (fault->recipe) fault->recipe(recipe);
    Atoms atoms = testing::build_movie(recipe);
    for (const Fault* fault : faults)
        if (fault->atoms) fault->atoms(atoms);
    testing::TempFile file(testing::serialize(atoms));
    const auto movie = open_movie(file.path());
    return movie ? std::string("accepted") : movie.error();
}

class CheckOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(CheckOrder, FirstFaultWins) {
    const OrderCase& c = GetParam();
    ASSERT_STRNE(c.first.message, c.second.message) << "the case cannot tell the order";
    EXPECT_EQ(refusal(c, {&c.first}), c.first.message);
    EXPECT_EQ(refusal(c, {&c.second}), c.second.message);
    EXPECT_EQ(refusal(c, {&c.first, &c.second}), c.first.message);
}

std::string case_name(const ::testing::TestParamInfo<OrderCase>& info) { return info.param.name; }

Bytes& payload(Atoms& a, const std::string& path) { return testing::find(a, path).payload; }
const std::string kVideo = "moov/trak";
const std::string kAudio = "moov/trak#1";
std::string stbl(const std::string& trak) { return trak + "/mdia/minf/stbl"; }

// --- Faults, named after what they break ------------------------------------
const Fault kMoof{"Fragmented movies are not supported yet", {}, [](Atoms& a) { a.push_back(testing::leaf("moof")); }};
const Fault kMvex{"Fragmented or compressed movie metadata is not supported yet", {}, [](Atoms& a) {
                      testing::find(a, "moov").children.push_back(testing::leaf("mvex"));
                  }};
const Fault kMvhdVersion{"Unsupported movie header version", {}, [](Atoms& a) { payload(a, "moov/mvhd")[0] = 2; }};
const Fault kMovieTimeScale{"Invalid movie time scale", [](MovieSpec& s) { s.movie_timescale = 0; }};

Fault empty_tkhd(const std::string& trak) {
    return {"Empty tkhd", {}, [trak](Atoms& a) { payload(a, trak + "/tkhd").clear(); }};
}
const Fault kTkhdVersion{"Unsupported track header version", {}, [](Atoms& a) { payload(a, kVideo + "/tkhd")[0] = 2; }};
const Fault kMdhdVersion{"Unsupported mdhd version", {}, [](Atoms& a) { payload(a, kVideo + "/mdia/mdhd")[0] = 2; }};
const Fault kMediaTimeScale{"Invalid media time scale", [](MovieSpec& s) { s.tracks[0].timescale = 0; }};
const Fault kMdhdTooShortForDuration{
    "Truncated movie metadata", {}, [](Atoms& a) { payload(a, kVideo + "/mdia/mdhd").resize(19); }};
const Fault kTwoSampleDescriptions{"Multiple sample descriptions are not supported yet", {}, [](Atoms& a) {
                                       testing::set_u32(payload(a, stbl(kVideo) + "/stsd"), 4, 2);
                                   }};
const Fault kShortHdlr{"Truncated movie metadata", {}, [](Atoms& a) { payload(a, kVideo + "/mdia/hdlr").resize(11); }};
Fault zero_delta(std::size_t track) {
    return {"Invalid sample duration", [track](MovieSpec& s) {
                s.tracks[track].timing = {{10, 0}};
                s.tracks[track].media_duration = 0;
            }};
}
// Any track refuses a sample count of 0 (a zero delta only the video).
Fault zero_count(std::size_t track) {
    return {"Invalid sample duration", [track](MovieSpec& s) { s.tracks[track].timing = {{10, 1001}, {0, 1001}}; }};
}
const Fault kExternalData{"External media references are not supported",
                          [](MovieSpec& s) { s.tracks[0].dref_flags = 0; }};
const Fault kDataReferenceIndex{"Unsupported sample data reference", {}, [](Atoms& a) {
                                    testing::set_u16(payload(a, stbl(kVideo) + "/stsd"), 22, 2);
                                }};

const Fault kDuplicateIds{"Duplicate or invalid track identifiers", [](MovieSpec& s) { s.tracks[1].track_id = 1; }};
const Fault kSecondVideo{"Expected one primary video track",
                         [](MovieSpec& s) { s.tracks.push_back(testing::video_track()); }};
const Fault kRate100{"Unsupported frame rate",
                     [](MovieSpec& s) { s.tracks[0] = testing::video_track("avc1", 100, 1); }};
const Fault kVariableRate{"Variable frame rate movies are not supported yet", [](MovieSpec& s) {
                              s.tracks[0].timing = {{5, 1001}, {5, 2500}};
                          }};
const Fault kEncryptedAudio{"Encrypted media is not supported",
                            [](MovieSpec& s) { s.tracks[1].sample_entry = "enca"; }};
const Fault kTrimmedEdit{kTrimmedEditRefusal, [](MovieSpec& s) {
                             s.tracks[0].edits = std::vector<testing::EditEntry>{{10010, 10010, 0x10000}};
                         }};

Fault chunk_outside(const std::string& trak) {
    return {"Sample points outside local media data", {}, [trak](Atoms& a) {
                testing::set_u32(payload(a, stbl(trak) + "/stco"), 8, 0);
            }};
}
Fault sample_count_mismatch(const std::string& trak) {
    return {"Invalid sample size table", {}, [trak](Atoms& a) {
                testing::set_u32(payload(a, stbl(trak) + "/stsz"), 8, 9);
            }};
}
Fault first_chunk_2(const std::string& trak) {
    return {"Invalid sample-to-chunk mapping", {}, [trak](Atoms& a) {
                payload(a, stbl(trak) + "/stsc") = testing::stsc_payload({{2, 10, 1}});
            }};
}
const Fault kStscLength{
    "Invalid sample-to-chunk table", {}, [](Atoms& a) { payload(a, stbl(kVideo) + "/stsc").push_back(0); }};
const Fault kStcoLength{
    "Invalid chunk offset table", {}, [](Atoms& a) { payload(a, stbl(kVideo) + "/stco").push_back(0); }};

// Timecode faults act on the timecode track that the base adds as track 2.
void with_timecode(MovieSpec& s) { s.tracks.push_back(testing::timecode_track(0)); }
const Fault kSecondTimecode{"Multiple timecode tracks are not supported yet",
                            [](MovieSpec& s) { s.tracks.push_back(testing::timecode_track(0)); }};
const Fault kTwoTimecodeSamples{"Discontinuous timecode is not supported yet", [](MovieSpec& s) {
                                    s.tracks[2].timing = {{2, 1001}};
                                    s.tracks[2].sample_data = Bytes(8, 0);
                                }};
const Fault kTimecodeFlags{"Unsupported timecode format flags", [](MovieSpec& s) { s.tracks[2].timecode->flags = 4; }};
const Fault kTimecodeRate{"Timecode and video rates disagree", [](MovieSpec& s) {
                              s.tracks[2].timecode->timescale = 25;
                              s.tracks[2].timecode->frame_duration = 1;
                              s.tracks[2].timecode->frames_per_second = 25;
                          }};
const Fault kTimecodeSampleSize{"Expected a 32-bit timecode sample",
                                [](MovieSpec& s) { s.tracks[2].constant_sample_size = 8; }};
const Fault kNegativeTimecode{"Negative timecode is not supported yet",
                              [](MovieSpec& s) { s.tracks[2].sample_data = pack_u32_be({0x80000000u}); }};

const OrderCase kCases[] = {
    // The top level and the movie atom.
    {"fragments_before_compressed_metadata", {}, kMoof, kMvex},
    {"compressed_metadata_before_movie_header", {}, kMvex, kMvhdVersion},
    {"movie_header_before_tracks", {}, kMvhdVersion, empty_tkhd(kVideo)},
    {"movie_time_scale_before_tracks", {}, kMovieTimeScale, empty_tkhd(kVideo)},
    // Reading one track, step by step; a whole track before the next.
    {"first_track_read_whole_before_second", {}, kDataReferenceIndex, empty_tkhd(kAudio)},
    {"track_header_before_media_header", {}, kTkhdVersion, kMdhdVersion},
    {"media_time_scale_before_duration_length", {}, kMediaTimeScale, kMdhdTooShortForDuration},
    {"media_header_before_sample_description", {}, kMdhdVersion, kTwoSampleDescriptions},
    {"sample_description_before_handler_length", {}, kTwoSampleDescriptions, kShortHdlr},
    {"handler_length_before_sample_timing", {}, kShortHdlr, zero_delta(0)},
    {"sample_timing_before_data_reference", {}, zero_delta(0), kExternalData},
    {"data_reference_before_its_index", {}, kExternalData, kDataReferenceIndex},
    // Gates on the track set and the primary video track.
    {"track_identifiers_before_primary_video", {}, kDuplicateIds, kSecondVideo},
    {"primary_video_before_frame_rate", {}, kSecondVideo, kRate100},
    {"variable_rate_before_encryption", {}, kVariableRate, kEncryptedAudio},
    {"edit_list_before_sample_layout", {}, kTrimmedEdit, chunk_outside(kVideo)},
    // Sample layout runs only after every track has been read, in track order.
    {"later_track_read_before_earlier_layout", {}, zero_count(1), chunk_outside(kVideo)},
    {"layout_in_track_order", {}, sample_count_mismatch(kVideo), first_chunk_2(kAudio)},
    {"sample_sizes_before_sample_to_chunk", {}, sample_count_mismatch(kVideo), kStscLength},
    {"sample_to_chunk_table_before_chunk_offsets", {}, kStscLength, kStcoLength},
    {"chunk_offsets_before_mapping", {}, kStcoLength, first_chunk_2(kVideo)},
    {"mapping_before_media_data", {}, first_chunk_2(kVideo), chunk_outside(kVideo)},
    // The existing timecode comes last, its own checks in order.
    {"layout_before_timecode", with_timecode, chunk_outside(kVideo), kTimecodeFlags},
    {"multiple_before_discontinuous", with_timecode, kSecondTimecode, kTwoTimecodeSamples},
    {"discontinuous_before_format_flags", with_timecode, kTwoTimecodeSamples, kTimecodeFlags},
    {"format_flags_before_rate", with_timecode, kTimecodeFlags, kTimecodeRate},
    {"rate_before_sample_size", with_timecode, kTimecodeRate, kTimecodeSampleSize},
    {"sample_size_before_negative_value", with_timecode, kTimecodeSampleSize, kNegativeTimecode},
};
INSTANTIATE_TEST_SUITE_P(Pairs, CheckOrder, ::testing::ValuesIn(kCases), case_name);

}  // namespace
}  // namespace velmora
