#include "movie.h"

#include <functional>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/movie_builder.h"

namespace velmora {
namespace {

using testing::Atom;
using testing::Atoms;
using testing::MovieSpec;
using testing::TempFile;
using testing::TrackSpec;

// A movie that differs from the good default in one respect, at one of three
// levels: the description, the atom tree, or the final bytes.
struct GateCase {
    const char* name;
    const char* message;  // nullptr: accepted
    std::function<void(MovieSpec&)> recipe;
    std::function<void(Atoms&)> atoms;
    std::function<void(Bytes&)> bytes;
    std::optional<RecordedTime> recorded;  // of an accepted movie
};

Bytes movie_bytes(const GateCase& c) {
    MovieSpec recipe;
    if (c.recipe) c.recipe(recipe);
    Atoms atoms = testing::build_movie(recipe);
    if (c.atoms) c.atoms(atoms);
    Bytes bytes = testing::serialize(atoms);
    if (c.bytes) c.bytes(bytes);
    return bytes;
}

Result<Movie> open_bytes(const Bytes& bytes) {
    TempFile file(bytes);
    return open_movie(file.path());
}

// Test names and failure traces show the case by its name.
void PrintTo(const GateCase& c, std::ostream* os) { *os << c.name; }

class MovieGate : public ::testing::TestWithParam<GateCase> {};

TEST_P(MovieGate, AcceptsOrRefusesWithItsMessage) {
    const auto movie = open_bytes(movie_bytes(GetParam()));
    if (GetParam().message == nullptr) {
        ASSERT_TRUE(movie.has_value()) << movie.error();
        EXPECT_EQ(movie->recorded_time, GetParam().recorded);
    } else {
        ASSERT_FALSE(movie.has_value()) << "accepted";
        EXPECT_EQ(movie.error(), GetParam().message);
    }
}

std::string case_name(const ::testing::TestParamInfo<GateCase>& info) { return info.param.name; }

Bytes raw_atom(std::uint32_t size_field, const char* type, Bytes rest = {}) {
    Bytes out = pack_u32_be({size_field});
    append_bytes(out, FourCC::from_bytes(ByteView(reinterpret_cast<const std::uint8_t*>(type), 4)).bytes);
    append_bytes(out, rest);
    return out;
}

void append_raw(Bytes& bytes, const Bytes& atom) { append_bytes(bytes, atom); }

Atom& video_trak(Atoms& a) { return testing::find(a, "moov/trak"); }
Bytes& payload(Atoms& a, std::string_view path) { return testing::find(a, path).payload; }
constexpr const char* kStbl = "moov/trak/mdia/minf/stbl";

// --- Top-level walk, in the order of its checks ---------------------------
// clang-format off
const GateCase kTopLevel[] = {
    {"empty_file", "Expected one movie metadata atom", {}, {}, [](Bytes& b) { b.clear(); }},
    {"seven_bytes", "Truncated movie atom header", {}, {}, [](Bytes& b) { b.resize(7); }},
    {"seven_trailing_bytes", "Truncated movie atom header", {}, {}, [](Bytes& b) { b.resize(b.size() + 7); }},
    {"large_size_15", "Invalid movie atom size", {}, {},
     [](Bytes& b) { append_raw(b, raw_atom(1, "free", pack_u32_be({0, 15}))); }},
    {"large_size_16", nullptr, {}, {}, [](Bytes& b) { append_raw(b, raw_atom(1, "free", pack_u32_be({0, 16}))); }},
    {"large_size_cannot_be_read", "failed to fill whole buffer", {}, {},
     [](Bytes& b) { append_raw(b, raw_atom(1, "free", pack_u32_be({0}))); }},
    {"open_ended", "Open-ended movie atoms are not supported yet", {}, {},
     [](Bytes& b) { append_raw(b, raw_atom(0, "free")); }},
    {"size_below_header", "Invalid movie atom size", {}, {}, [](Bytes& b) { append_raw(b, raw_atom(7, "free")); }},
    {"free_past_end", "Invalid movie atom size", {}, {}, [](Bytes& b) { append_raw(b, raw_atom(9, "free")); }},
    {"large_size_past_end", "Invalid movie atom size", {}, {},
     [](Bytes& b) { append_raw(b, raw_atom(1, "free", pack_u32_be({0, 17}))); }},
    {"no_moov", "Expected one movie metadata atom", {}, [](Atoms& a) { a.pop_back(); }},
    {"two_moov_and_moof", "Expected one movie metadata atom", {}, [](Atoms& a) {
         a.push_back(a.back());
         a.push_back(testing::leaf("moof"));
     }},
    {"moof", "Fragmented movies are not supported yet", {}, [](Atoms& a) { a.push_back(testing::leaf("moof")); }},
    {"mfra", "Fragmented movies are not supported yet", {}, [](Atoms& a) { a.push_back(testing::leaf("mfra")); }},
    {"moov_with_large_header", nullptr, {}, [](Atoms& a) { a.back().large_size = true; }},
    {"free_and_wide_atoms", nullptr, {}, [](Atoms& a) {
         a.insert(a.end() - 1, testing::leaf("wide"));
         a.push_back(testing::leaf("free", Bytes(100, 0)));
     }},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(TopLevel, MovieGate, ::testing::ValuesIn(kTopLevel), case_name);

// --- The movie atom and its header -----------------------------------------
// clang-format off
const GateCase kMovieHeader[] = {
    {"mvex", "Fragmented or compressed movie metadata is not supported yet", {},
     [](Atoms& a) { testing::find(a, "moov").children.push_back(testing::leaf("mvex")); }},
    {"cmov_before_everything_else", "Fragmented or compressed movie metadata is not supported yet", {},
     [](Atoms& a) { testing::find(a, "moov").children = {testing::leaf("cmov")}; }},
    {"metadata_listing_fails", "Invalid movie atom size", {},
     [](Atoms& a) { testing::find(a, "moov").children.push_back(testing::leaf("free")); },
     [](Bytes& b) { testing::set_u32(b, b.size() - 8, 9); }},
    {"size_zero_child_runs_to_the_end", nullptr, {},
     [](Atoms& a) {
         Atom udta = testing::leaf("udta", Bytes(20, 0));
         udta.size_field = 0;
         testing::find(a, "moov").children.push_back(udta);
     }},
    {"no_mvhd", "Missing or duplicate required metadata atom", {}, [](Atoms& a) { testing::remove(a, "moov/mvhd"); }},
    {"two_mvhd", "Missing or duplicate required metadata atom", {},
     [](Atoms& a) { testing::find(a, "moov").children.push_back(testing::find(a, "moov/mvhd")); }},
    {"empty_mvhd", "Unsupported movie header version", {}, [](Atoms& a) { payload(a, "moov/mvhd").clear(); }},
    {"mvhd_version_2", "Unsupported movie header version", {}, [](Atoms& a) { payload(a, "moov/mvhd")[0] = 2; }},
    {"mvhd_v0_too_short_for_time_scale", "Truncated movie metadata", {},
     [](Atoms& a) { payload(a, "moov/mvhd").resize(15); }},
    {"mvhd_v0_time_scale_only", nullptr, {}, [](Atoms& a) { payload(a, "moov/mvhd").resize(16); }},
    {"mvhd_v1_too_short", "Truncated movie metadata", [](MovieSpec& s) { s.mvhd_version = 1; },
     [](Atoms& a) { payload(a, "moov/mvhd").resize(23); }},
    {"movie_time_scale_0", "Invalid movie time scale", [](MovieSpec& s) { s.movie_timescale = 0; }},
    {"movie_time_scale_0_v1", "Invalid movie time scale", [](MovieSpec& s) {
         s.movie_timescale = 0;
         s.mvhd_version = 1;
     }},
    {"no_tracks", "Expected one primary video track", {},
     [](Atoms& a) { testing::remove(a, "moov/trak"); }},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(MovieHeader, MovieGate, ::testing::ValuesIn(kMovieHeader), case_name);

// --- Reading one track, in the order of its checks -------------------------
// clang-format off
const GateCase kTrack[] = {
    {"no_tkhd", "Missing or duplicate required metadata atom", {},
     [](Atoms& a) { testing::remove(a, "moov/trak/tkhd"); }},
    {"empty_tkhd", "Empty tkhd", {}, [](Atoms& a) { payload(a, "moov/trak/tkhd").clear(); }},
    {"tkhd_version_2", "Unsupported track header version", {}, [](Atoms& a) { payload(a, "moov/trak/tkhd")[0] = 2; }},
    {"tkhd_v0_15_bytes", "Truncated movie metadata", {}, [](Atoms& a) { payload(a, "moov/trak/tkhd").resize(15); }},
    {"tkhd_v0_16_bytes", nullptr, {}, [](Atoms& a) { payload(a, "moov/trak/tkhd").resize(16); }},
    {"tkhd_v1_23_bytes", "Truncated movie metadata", [](MovieSpec& s) { s.tracks[0].tkhd_version = 1; },
     [](Atoms& a) { payload(a, "moov/trak/tkhd").resize(23); }},
    {"tkhd_v1", nullptr, [](MovieSpec& s) { s.tracks[0].tkhd_version = 1; }},
    {"no_mdia", "Missing or duplicate required metadata atom", {},
     [](Atoms& a) { testing::remove(a, "moov/trak/mdia"); }},
    {"no_hdlr", "Missing or duplicate required metadata atom", {},
     [](Atoms& a) { testing::remove(a, "moov/trak/mdia/hdlr"); }},
    {"mdhd_version_before_hdlr_length", "Unsupported mdhd version", {}, [](Atoms& a) {
         payload(a, "moov/trak/mdia/hdlr").resize(4);
         payload(a, "moov/trak/mdia/mdhd")[0] = 2;
     }},
    {"empty_mdhd", "Unsupported mdhd version", {}, [](Atoms& a) { payload(a, "moov/trak/mdia/mdhd").clear(); }},
    {"mdhd_without_time_scale", "Truncated movie metadata", {},
     [](Atoms& a) { payload(a, "moov/trak/mdia/mdhd").resize(15); }},
    {"media_time_scale_0", "Invalid media time scale", [](MovieSpec& s) { s.tracks[0].timescale = 0; }},
    {"mdhd_v0_19_bytes", "Truncated movie metadata", {},
     [](Atoms& a) { payload(a, "moov/trak/mdia/mdhd").resize(19); }},
    {"mdhd_v1_31_bytes", "Truncated movie metadata", [](MovieSpec& s) { s.tracks[0].mdhd_version = 1; },
     [](Atoms& a) { payload(a, "moov/trak/mdia/mdhd").resize(31); }},
    {"mdhd_v1", nullptr, [](MovieSpec& s) { s.tracks[0].mdhd_version = 1; }},
    {"no_minf", "Missing or duplicate required metadata atom", {},
     [](Atoms& a) { testing::remove(a, "moov/trak/mdia/minf"); }},
    {"two_stbl", "Missing or duplicate required metadata atom", {},
     [](Atoms& a) { testing::find(a, "moov/trak/mdia/minf").children.push_back(testing::find(a, kStbl)); }},
    {"no_stsd", "Missing or duplicate required metadata atom", {},
     [](Atoms& a) { testing::remove(a, "moov/trak/mdia/minf/stbl/stsd"); }},
    {"stsd_7_bytes", "Truncated movie metadata", {}, [](Atoms& a) { payload(a, std::string(kStbl) + "/stsd").resize(7); }},
    {"stsd_count_0", "Multiple sample descriptions are not supported yet", {},
     [](Atoms& a) { testing::set_u32(payload(a, std::string(kStbl) + "/stsd"), 4, 0); }},
    {"stsd_count_2", "Multiple sample descriptions are not supported yet", {},
     [](Atoms& a) { testing::set_u32(payload(a, std::string(kStbl) + "/stsd"), 4, 2); }},
    {"stsd_two_entries", "Invalid sample descriptions", {}, [](Atoms& a) {
         Bytes& stsd = payload(a, std::string(kStbl) + "/stsd");
         const Bytes entry(stsd.begin() + 8, stsd.end());
         append_bytes(stsd, entry);
     }},
    {"stsd_no_entry", "Invalid sample descriptions", {},
     [](Atoms& a) { payload(a, std::string(kStbl) + "/stsd").resize(8); }},
    {"stsd_entry_bad_size", "Invalid movie atom size", {},
     [](Atoms& a) { testing::set_u32(payload(a, std::string(kStbl) + "/stsd"), 8, 4); }},
    {"hdlr_11_bytes", "Truncated movie metadata", {},
     [](Atoms& a) { payload(a, "moov/trak/mdia/hdlr").resize(11); }},
    {"visual_entry_too_short_for_height", "Truncated movie metadata", {}, [](Atoms& a) {
         Bytes& stsd = payload(a, std::string(kStbl) + "/stsd");
         stsd.resize(43);
         testing::set_u32(stsd, 8, 35);
     }},
    {"sound_entry_may_be_short", nullptr, [](MovieSpec& s) { s.tracks.push_back(testing::audio_track()); },
     [](Atoms& a) {
         Bytes& stsd = payload(a, "moov/trak#1/mdia/minf/stbl/stsd");
         stsd.resize(24);
         testing::set_u32(stsd, 8, 16);
     }},
    {"no_stts", "Missing or duplicate required metadata atom", {},
     [](Atoms& a) { testing::remove(a, std::string(kStbl) + "/stts"); }},
    {"no_dinf", "Missing or duplicate required metadata atom", {},
     [](Atoms& a) { testing::remove(a, "moov/trak/mdia/minf/dinf"); }},
    {"data_reference_index_2", "Unsupported sample data reference", {},
     [](Atoms& a) { testing::set_u16(payload(a, std::string(kStbl) + "/stsd"), 22, 2); }},
    {"sample_entry_without_data_reference", "Truncated movie metadata", [](MovieSpec& s) {
         s.tracks.push_back(testing::audio_track());
     },
     [](Atoms& a) {
         Bytes& stsd = payload(a, "moov/trak#1/mdia/minf/stbl/stsd");
         stsd.resize(23);
         testing::set_u32(stsd, 8, 15);
     }},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Track, MovieGate, ::testing::ValuesIn(kTrack), case_name);

// --- Data references: one self-contained entry of any type -----------------
Atoms with_dref(Atoms& a, std::uint32_t count, const std::vector<Atom>& entries, std::string_view track = "moov/trak") {
    testing::find(a, std::string(track) + "/mdia/minf/dinf/dref").payload = testing::dref_payload(count, entries);
    return a;
}

// clang-format off
const GateCase kDataReference[] = {
    {"url_self_contained", nullptr},
    {"url_without_flag", "External media references are not supported",
     [](MovieSpec& s) { s.tracks[0].dref_flags = 0; }},
    {"apple_alis_self_contained", nullptr, [](MovieSpec& s) { s.tracks[0].dref_entry = "alis"; },
     [](Atoms& a) { EXPECT_EQ(testing::find(a, "moov/trak/mdia/minf/dinf/dref").bytes().size(), 28u); }},
    {"apple_alis_without_flag", "External media references are not supported", [](MovieSpec& s) {
         s.tracks[0].dref_entry = "alis";
         s.tracks[0].dref_flags = 0;
     }},
    {"itunes_cios_self_contained", nullptr, [](MovieSpec& s) { s.tracks[0].dref_entry = "cios"; }},
    {"other_flag_bits_only", "External media references are not supported",
     [](MovieSpec& s) { s.tracks[0].dref_flags = 0x00fffffe; }},
    {"alis_on_audio_track", nullptr, [](MovieSpec& s) {
         s.tracks.push_back(testing::audio_track());
         s.tracks[1].dref_entry = "alis";
     }},
    {"dref_7_bytes", "Truncated dref", {},
     [](Atoms& a) { testing::find(a, "moov/trak/mdia/minf/dinf/dref").payload.resize(7); }},
    {"no_entries", "External media references are not supported", {}, [](Atoms& a) { with_dref(a, 0, {}); }},
    {"two_entries", "External media references are not supported", {}, [](Atoms& a) {
         with_dref(a, 2, {testing::dref_entry("url ", 1), testing::dref_entry("url ", 1)});
     }},
    {"count_2_with_one_entry", "External media references are not supported", {},
     [](Atoms& a) { with_dref(a, 2, {testing::dref_entry("url ", 1)}); }},
    {"count_0_with_one_entry", "External media references are not supported", {},
     [](Atoms& a) { with_dref(a, 0, {testing::dref_entry("url ", 1)}); }},
    {"entry_without_flags", "Truncated movie metadata", {},
     [](Atoms& a) { with_dref(a, 1, {testing::leaf("url ", Bytes{0, 0, 1})}); }},
    {"entry_listing_fails", "Invalid movie atom size", {}, [](Atoms& a) {
         Bytes& dref = testing::find(a, "moov/trak/mdia/minf/dinf/dref").payload;
         testing::set_u32(dref, 8, 100);
     }},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(DataReference, MovieGate, ::testing::ValuesIn(kDataReference), case_name);

// --- Track set, primary video, rate, encryption ---------------------------
TrackSpec with_id(TrackSpec track, std::uint32_t id) {
    track.track_id = id;
    return track;
}

// clang-format off
const GateCase kTrackSet[] = {
    {"track_id_0", "Duplicate or invalid track identifiers", {},
     [](Atoms& a) { testing::set_u32(payload(a, "moov/trak/tkhd"), 12, 0); }},
    {"duplicate_track_ids", "Duplicate or invalid track identifiers",
     [](MovieSpec& s) { s.tracks.push_back(with_id(testing::audio_track(), 1)); }},
    {"ids_in_any_order", nullptr, [](MovieSpec& s) {
         s.tracks[0].track_id = 7;
         s.tracks.push_back(with_id(testing::audio_track(), 3));
     }},
    {"only_a_picture", "Expected one primary video track",
     [](MovieSpec& s) { s.tracks = {testing::picture_track()}; }},
    {"picture_beside_video", nullptr, [](MovieSpec& s) { s.tracks.insert(s.tracks.begin(), testing::picture_track()); }},
    {"two_jpeg_frames_are_video", nullptr, [](MovieSpec& s) {
         s.tracks[0] = testing::picture_track();
         s.tracks[0].timing = {{2, 300}};
     }},
    {"two_video_tracks", "Expected one primary video track",
     [](MovieSpec& s) { s.tracks.push_back(testing::video_track()); }},
    {"audio_only", "Expected one primary video track", [](MovieSpec& s) { s.tracks = {testing::audio_track()}; }},
    {"short_closing_frame", nullptr, [](MovieSpec& s) { s.tracks[0].timing = {{9, 1001}, {1, 1000}}; }},
    {"variable_frame_rate", "Variable frame rate movies are not supported yet",
     [](MovieSpec& s) { s.tracks[0].timing = {{5, 1001}, {5, 2500}}; }},
    {"closing_zero_length_video_sample", nullptr, [](MovieSpec& s) { s.tracks[0].timing = {{9, 1001}, {1, 0}}; }},
    {"metadata_of_zero_length_samples", nullptr, [](MovieSpec& s) {
         s.tracks.push_back(testing::audio_track());
         s.tracks[1].handler = "meta";
         s.tracks[1].timing = {{30, 0}};
     }},
    {"audio_short_of_its_mdhd", nullptr, [](MovieSpec& s) {
         s.tracks.push_back(testing::audio_track());
         s.tracks[1].timing = {{10, 1024}};
         s.tracks[1].media_duration = 10233;
     }},
    // Phones end the media header up to one frame off the samples' end.
    {"video_short_of_its_mdhd", "Incomplete sample timing is not supported",
     [](MovieSpec& s) { s.tracks[0].media_duration = 11012; }},
    {"video_one_frame_short_of_its_mdhd", nullptr, [](MovieSpec& s) { s.tracks[0].media_duration = 11011; }},
    {"video_one_frame_past_its_mdhd", nullptr, [](MovieSpec& s) { s.tracks[0].media_duration = 9009; }},
    {"video_past_its_mdhd_by_a_frame_and_a_unit", "Incomplete sample timing is not supported",
     [](MovieSpec& s) { s.tracks[0].media_duration = 9008; }},
    // A track without samples is carried over and is never the video.
    {"empty_video_track_before_the_video", nullptr, [](MovieSpec& s) {
         s.tracks.insert(s.tracks.begin(), testing::video_track());
         s.tracks[0].timing = {};
     }},
    {"empty_audio_track", nullptr, [](MovieSpec& s) {
         s.tracks.push_back(testing::audio_track());
         s.tracks[1].timing = {};
     }},
    {"only_video_without_samples", "Incomplete sample timing is not supported", [](MovieSpec& s) {
         s.tracks[0].timing = {};
         s.tracks.push_back(testing::audio_track());
     }},
    {"variable_audio_is_fine", nullptr, [](MovieSpec& s) {
         s.tracks.push_back(testing::audio_track());
         s.tracks[1].timing = {{9, 1024}, {1, 500}};
     }},
    {"rate_2997", nullptr, [](MovieSpec& s) { s.tracks[0] = testing::video_track("avc1", 30000, 1001); }},
    {"rate_99", nullptr, [](MovieSpec& s) { s.tracks[0] = testing::video_track("avc1", 99, 1); }},
    {"rate_100", "Unsupported frame rate", [](MovieSpec& s) { s.tracks[0] = testing::video_track("avc1", 100, 1); }},
    {"rate_just_above_99", "Unsupported frame rate",
     [](MovieSpec& s) { s.tracks[0] = testing::video_track("avc1", 99001, 1000); }},
    {"rate_1", nullptr, [](MovieSpec& s) { s.tracks[0] = testing::video_track("avc1", 600, 600); }},
    {"rate_below_1", "Unsupported frame rate", [](MovieSpec& s) { s.tracks[0] = testing::video_track("avc1", 599, 600); }},
    {"encrypted_audio", "Encrypted media is not supported", [](MovieSpec& s) { s.tracks.push_back(testing::audio_track("enca")); }},
    {"encrypted_video", "Encrypted media is not supported", [](MovieSpec& s) { s.tracks[0].sample_entry = "encv"; }},
    {"rate_before_encryption", "Unsupported frame rate", [](MovieSpec& s) {
         s.tracks[0] = testing::video_track("encv", 100, 1);
     }},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(TrackSet, MovieGate, ::testing::ValuesIn(kTrackSet), case_name);

// --- Edit list of the primary video track --------------------------------
void set_edits(MovieSpec& s, std::vector<testing::EditEntry> edits) { s.tracks[0].edits = std::move(edits); }
Bytes& elst(Atoms& a) { return testing::find(a, "moov/trak/edts/elst").payload; }

// clang-format off
const GateCase kEditList[] = {
    {"one_untrimmed_edit", nullptr, [](MovieSpec& s) { set_edits(s, {{10010, 0, 0x10000}}); }},
    {"segment_duration_not_examined", nullptr, [](MovieSpec& s) { set_edits(s, {{1, 0, 0x10000}}); }},
    {"version_1_untrimmed", nullptr, [](MovieSpec& s) { set_edits(s, {{1ull << 33, 0, 0x10000}}); }},
    {"edts_without_elst", "Missing or duplicate required metadata atom", {},
     [](Atoms& a) { testing::find(a, "moov/trak").children.insert(testing::find(a, "moov/trak").children.begin() + 1,
                                                                   testing::container("edts", {})); }},
    {"two_edts", "Duplicate metadata atom", [](MovieSpec& s) { set_edits(s, {{10010, 0, 0x10000}}); },
     [](Atoms& a) { video_trak(a).children.push_back(video_trak(a).at("edts")); }},
    {"empty_elst", "Unsupported edit list version", [](MovieSpec& s) { set_edits(s, {{10010, 0, 0x10000}}); },
     [](Atoms& a) { elst(a).clear(); }},
    {"elst_version_2", "Unsupported edit list version", [](MovieSpec& s) { set_edits(s, {{10010, 0, 0x10000}}); },
     [](Atoms& a) { elst(a)[0] = 2; }},
    {"b_frame_delay_1001", nullptr, [](MovieSpec& s) { set_edits(s, {{10010, 1001, 0x10000}}); }},
    {"media_time_last_unit", nullptr, [](MovieSpec& s) { set_edits(s, {{1, 10009, 0x10000}}); }},
    {"media_time_at_the_end", kTrimmedEditRefusal,
     [](MovieSpec& s) { set_edits(s, {{1, 10010, 0x10000}}); }},
    {"media_time_negative", kTrimmedEditRefusal,
     [](MovieSpec& s) { set_edits(s, {{10010, -2, 0x10000}}); }},
    {"empty_edit_alone", kTrimmedEditRefusal,
     [](MovieSpec& s) { set_edits(s, {{10010, -1, 0x10000}}); }},
    {"empty_edit_then_edit", nullptr, [](MovieSpec& s) { set_edits(s, {{30030, -1, 0}, {10010, 0, 0x10000}}); }},
    {"empty_edit_then_b_frame_edit_v1", nullptr,
     [](MovieSpec& s) { set_edits(s, {{1ull << 33, -1, 0x10000}, {10010, 2002, 0x10000}}); },
     [](Atoms& a) { EXPECT_EQ(elst(a)[0], 1); }},
    {"edit_then_empty_edit", kTrimmedEditRefusal,
     [](MovieSpec& s) { set_edits(s, {{10010, 0, 0x10000}, {30030, -1, 0x10000}}); }},
    {"two_empty_edits", kTrimmedEditRefusal,
     [](MovieSpec& s) { set_edits(s, {{30030, -1, 0x10000}, {30030, -1, 0x10000}}); }},
    {"empty_edit_then_double_speed", kTrimmedEditRefusal,
     [](MovieSpec& s) { set_edits(s, {{30030, -1, 0x10000}, {10010, 0, 0x20000}}); }},
    {"empty_edit_then_trailing_past_the_end", kTrimmedEditRefusal,
     [](MovieSpec& s) { set_edits(s, {{30030, -1, 0x10000}, {10010, 10010, 0x10000}}); }},
    {"three_edits", kTrimmedEditRefusal,
     [](MovieSpec& s) { set_edits(s, {{30030, -1, 0x10000}, {5005, 0, 0x10000}, {5005, 5005, 0x10000}}); }},
    {"count_3_read_no_further", kTrimmedEditRefusal,
     [](MovieSpec& s) { set_edits(s, {{30030, -1, 0x10000}}); }, [](Atoms& a) { testing::set_u32(elst(a), 4, 3); }},
    {"second_edit_missing", "Truncated movie metadata",
     [](MovieSpec& s) { set_edits(s, {{30030, -1, 0x10000}}); }, [](Atoms& a) { testing::set_u32(elst(a), 4, 2); }},
    {"second_edit_without_rate", "Truncated movie metadata",
     [](MovieSpec& s) { set_edits(s, {{30030, -1, 0x10000}, {10010, 0, 0x10000}}); },
     [](Atoms& a) { elst(a).resize(elst(a).size() - 1); }},
    {"two_edits", kTrimmedEditRefusal,
     [](MovieSpec& s) { set_edits(s, {{5005, 0, 0x10000}, {5005, 5005, 0x10000}}); }},
    {"no_edits", "Truncated movie metadata", [](MovieSpec& s) { set_edits(s, {}); }},
    {"count_0_with_an_entry", kTrimmedEditRefusal,
     [](MovieSpec& s) { set_edits(s, {{10010, 0, 0x10000}}); }, [](Atoms& a) { testing::set_u32(elst(a), 4, 0); }},
    {"double_speed", kTrimmedEditRefusal,
     [](MovieSpec& s) { set_edits(s, {{10010, 0, 0x20000}}); }},
    {"rate_field_missing", "Truncated movie metadata", [](MovieSpec& s) { set_edits(s, {{10010, 0, 0x10000}}); },
     [](Atoms& a) { elst(a).resize(16); }},
    {"trimmed_audio_is_fine", nullptr, [](MovieSpec& s) {
         s.tracks.push_back(testing::audio_track());
         s.tracks[1].edits = std::vector<testing::EditEntry>{{100, 2048, 0x10000}};
     }},
    {"encryption_before_edit_list", "Encrypted media is not supported", [](MovieSpec& s) {
         set_edits(s, {{10010, 1001, 0x10000}});
         s.tracks.push_back(testing::audio_track("enca"));
     }},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(EditList, MovieGate, ::testing::ValuesIn(kEditList), case_name);

// --- Recorded time in moov/meta: read where it parses, else absent, never a refusal
std::function<void(MovieSpec&)> dated(const char* text) {
    return [text](MovieSpec& s) { s.creation_date = text; };
}
Atom& meta_item(Atoms& a, std::size_t n) { return testing::find(a, "moov/meta/ilst").children.at(n); }
Bytes& keys(Atoms& a) { return payload(a, "moov/meta/keys"); }
constexpr RecordedTime kHelsinki{1'563'956'740, 180};  // 2019-07-24T11:25:40+03:00

// clang-format off
const GateCase kRecordedTime[] = {
    {"zone_plus_hhmm", nullptr, dated("2019-07-24T11:25:40+0300"), {}, {}, kHelsinki},
    {"zone_plus_hh_mm", nullptr, dated("2019-07-24T11:25:40+03:00"), {}, {}, kHelsinki},
    {"zone_z", nullptr, dated("2019-07-24T08:25:40Z"), {}, {}, RecordedTime{1'563'956'740, 0}},
    {"zone_minus_hhmm", nullptr, dated("2021-05-25T09:21:51-0700"), {}, {}, RecordedTime{1'621'959'711, -420}},
    {"zone_with_minutes", nullptr, dated("2019-07-24T11:25:40+0545"), {}, {}, RecordedTime{1'563'946'840, 345}},
    {"zone_plus_14_00", nullptr, dated("2019-07-24T22:25:40+14:00"), {}, {}, RecordedTime{1'563'956'740, 840}},
    {"zone_minus_12_00", nullptr, dated("2019-07-23T20:25:40-12:00"), {}, {}, RecordedTime{1'563'956'740, -720}},
    {"zone_past_plus_14", nullptr, dated("2019-07-24T22:25:40+14:01")},
    {"zone_past_minus_12", nullptr, dated("2019-07-23T20:25:40-1201")},
    {"zone_minutes_60", nullptr, dated("2019-07-24T11:25:40+0260")},
    {"zone_hours_only", nullptr, dated("2019-07-24T11:25:40+03")},
    {"no_zone", nullptr, dated("2019-07-24T11:25:40")},
    {"fraction_dropped", nullptr, dated("2019-07-24T11:25:40.999+03:00"), {}, {}, kHelsinki},
    {"fraction_after_comma", nullptr, dated("2019-07-24T11:25:40,5Z"), {}, {}, RecordedTime{1'563'967'540, 0}},
    {"point_without_digits", nullptr, dated("2019-07-24T11:25:40.+03:00")},
    {"before_1970", nullptr, dated("1969-12-31T23:59:59Z"), {}, {}, RecordedTime{-1, 0}},
    {"leap_day", nullptr, dated("2020-02-29T00:00:00Z"), {}, {}, RecordedTime{1'582'934'400, 0}},
    {"no_leap_day", nullptr, dated("2019-02-29T00:00:00Z")},
    {"hour_24", nullptr, dated("2019-07-24T24:00:00Z")},
    {"without_seconds", nullptr, dated("2019-07-24T11:25+0300")},
    {"trailing_text", nullptr, dated("2019-07-24T11:25:40+0300 ")},
    {"bad_text", nullptr, dated("yesterday")},
    {"iso_meta_with_version_and_flags", nullptr, dated("2019-07-24T11:25:40+0300"),
     [](Atoms& a) { testing::find(a, "moov/meta").payload = Bytes(4, 0); }, {}, kHelsinki},
    {"item_found_by_index_not_order", nullptr, dated("2019-07-24T11:25:40+0300"),
     [](Atoms& a) { std::swap(meta_item(a, 0), meta_item(a, 1)); }, {}, kHelsinki},
    {"first_utf8_value_of_the_item", nullptr, dated("2019-07-24T11:25:40+0300"),
     [](Atoms& a) {
         auto& values = meta_item(a, 1).children;
         values.insert(values.begin(), testing::data_atom(0x15, "2000-01-01T00:00:00Z"));
         values.push_back(testing::data_atom(1, "2000-01-01T00:00:00Z"));
     }, {}, kHelsinki},
    {"key_count_ends_before_the_key", nullptr, dated("2019-07-24T11:25:40+0300"),
     [](Atoms& a) { testing::set_u32(keys(a), 4, 1); }},
    {"key_count_past_the_entries", nullptr, dated("2019-07-24T11:25:40+0300"),
     [](Atoms& a) { testing::set_u32(keys(a), 4, 3); }, {}, kHelsinki},
    {"missing_key", nullptr, dated("2019-07-24T11:25:40+0300"), [](Atoms& a) { keys(a).back() = 'E'; }},
    {"key_entry_below_its_header", nullptr, dated("2019-07-24T11:25:40+0300"),
     [](Atoms& a) { testing::set_u32(keys(a), 8, 7); }},
    {"meta_without_keys", nullptr, dated("2019-07-24T11:25:40+0300"),
     [](Atoms& a) { testing::remove(a, "moov/meta/keys"); }},
    {"key_index_pointing_nowhere", nullptr, dated("2019-07-24T11:25:40+0300"),
     [](Atoms& a) { meta_item(a, 1).type = testing::item_type(3); }},
    {"not_utf8_type", nullptr, dated("2019-07-24T11:25:40+0300"),
     [](Atoms& a) { testing::set_u32(meta_item(a, 1).children[0].payload, 0, 2); }},
    {"type_indicator_with_a_set_first_byte", nullptr, dated("2019-07-24T11:25:40+0300"),
     [](Atoms& a) { testing::set_u32(meta_item(a, 1).children[0].payload, 0, 0x01000001); }},
    {"ilst_listing_fails", nullptr, dated("2019-07-24T11:25:40+0300"),
     [](Atoms& a) { meta_item(a, 0).size_field = 1000; }},
    {"empty_meta", nullptr, dated("2019-07-24T11:25:40+0300"),
     [](Atoms& a) { testing::find(a, "moov/meta").children.clear(); }},
    {"meta_in_udta_is_not_read", nullptr, dated("2019-07-24T11:25:40+0300"), [](Atoms& a) {
         Atom meta = testing::find(a, "moov/meta");
         testing::remove(a, "moov/meta");
         testing::find(a, "moov").children.push_back(testing::container("udta", {meta}));
     }},
    {"refusal_unchanged_by_a_recorded_time", "Incomplete sample timing is not supported", [](MovieSpec& s) {
         s.creation_date = "2019-07-24T11:25:40+0300";
         s.tracks[0].media_duration = 12012;  // two frames past the samples
     }},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(RecordedTime, MovieGate, ::testing::ValuesIn(kRecordedTime), case_name);

TEST(OpenMovie, FillsTheMovieModel) {
    MovieSpec recipe;
    recipe.creation_time = 3'000'000'000;
    recipe.tracks = {testing::audio_track("sowt"), testing::video_track("apcn", 25, 1, 50), testing::picture_track()};
    recipe.tracks[1].width = 1920;
    recipe.tracks[1].height = 1080;
    recipe.tracks[1].track_id = 9;
    const Bytes bytes = testing::build_movie_bytes(recipe);
    TempFile file(bytes);
    const auto movie = open_movie(file.path());
    ASSERT_TRUE(movie.has_value()) << movie.error();
    EXPECT_EQ(movie->file_size, bytes.size());
    EXPECT_TRUE(static_cast<bool>(movie->file));
    EXPECT_EQ(movie->creation_time, 3'000'000'000u);
    ASSERT_EQ(movie->atoms.size(), 3u);
    EXPECT_EQ(movie->atoms[2].atom_type, FourCC("moov"));
    EXPECT_EQ(movie->atoms[2].offset + movie->atoms[2].size, bytes.size());
    EXPECT_EQ(movie->metadata.size(), movie->atoms[2].size - 8);
    EXPECT_TRUE(std::equal(movie->metadata.begin(), movie->metadata.end(), bytes.end() - movie->metadata.size()));
    ASSERT_EQ(movie->tracks.size(), 3u);
    EXPECT_EQ(movie->video_index, 1u);

    const Track& video = movie->tracks[1];
    EXPECT_EQ(video.track_id, 9u);
    EXPECT_EQ(video.handler, FourCC("vide"));
    EXPECT_EQ(video.sample_entry, FourCC("apcn"));
    EXPECT_EQ(video.media_timescale, 25u);
    EXPECT_EQ(video.media_duration, 50u);
    EXPECT_EQ(video.sample_count, 50u);
    EXPECT_EQ(video.sample_delta, 1u);
    EXPECT_EQ(video.width, 1920u);
    EXPECT_EQ(video.height, 1080u);
    // The track keeps its whole trak atom, header included.
    ASSERT_GE(video.trak_bytes.size(), 8u);
    EXPECT_EQ(FourCC::from_bytes(ByteView(video.trak_bytes).subspan(4, 4)), FourCC("trak"));
    EXPECT_EQ(read_u32_at(video.trak_bytes, 0).value(), video.trak_bytes.size());

    const Track& audio = movie->tracks[0];
    EXPECT_EQ(audio.handler, FourCC("soun"));
    EXPECT_EQ(audio.width, 0u);
    EXPECT_EQ(audio.height, 0u);
    EXPECT_FALSE(movie->existing_timecode.has_value());
    EXPECT_FALSE(is_primary_video(movie->tracks[2]));
}

TEST(OpenMovie, MissingFileGivesTheSystemError) {
    const auto movie = open_movie("/nonexistent/velmora/movie.mov");
    ASSERT_FALSE(movie.has_value());
    EXPECT_EQ(movie.error(), "No such file or directory (os error 2)");
}

// A FIFO without a writer would hold a blocking open() forever.
TEST(OpenMovie, OnlyRegularFilesAreRead) {
    testing::TempDir dir;
    const std::string fifo = dir.file("pipe.mov");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {dir.path(), fifo, std::string("/dev/null")}) {
        SCOPED_TRACE(path);
        const auto movie = open_movie(path);
        ASSERT_FALSE(movie.has_value());
        EXPECT_EQ(movie.error(), "Input is not a regular file");
    }
}

TEST(OpenMovie, PathIsUsedAsRawBytes) {
    testing::TempDir dir;
    const std::string path = dir.file("caf\xe9-\xff.mov");  // not UTF-8
    testing::write_file(path, testing::build_movie_bytes(MovieSpec{}));
    EXPECT_TRUE(open_movie(path).has_value());
}

// A moov atom of exactly 128 MiB is read; one byte more is refused before any
// allocation. The padding is a sparse hole, so the test stays cheap.
Result<Movie> open_with_moov_size(std::uint64_t moov_size) {
    Atoms atoms = testing::build_movie(MovieSpec{});
    const Bytes moov = atoms.back().bytes();
    atoms.pop_back();
    Bytes head = testing::serialize(atoms);
    const std::uint64_t padding = moov_size - moov.size();
    Bytes grown = moov;
    testing::set_u32(grown, 0, static_cast<std::uint32_t>(moov_size));
    append_bytes(grown, pack_u32_be({static_cast<std::uint32_t>(padding)}));
    append_bytes(grown, FourCC("free").bytes);
    append_bytes(head, grown);
    TempFile file(head);
    if (::truncate(file.path().c_str(), static_cast<off_t>(head.size() - 8 + padding)) != 0) return fail("truncate");
    return open_movie(file.path());
}

TEST(OpenMovie, MetadataLimitIs128MiBHeaderIncluded) {
    const auto at_limit = open_with_moov_size(0x8000000);
    EXPECT_TRUE(at_limit.has_value()) << at_limit.error();
    const auto above = open_with_moov_size(0x8000001);
    ASSERT_FALSE(above.has_value());
    EXPECT_EQ(above.error(), "Movie metadata exceeds the 128 MB safety limit");
}

TEST(OpenMovie, TooManyTopLevelAtoms) {
    // 100,001 atoms are allowed; the next one is refused before it is read.
    Atoms atoms = testing::build_movie(MovieSpec{});
    Bytes bytes = testing::serialize(atoms);
    const Bytes free_atom = raw_atom(8, "free");
    const std::size_t existing = atoms.size();
    for (std::size_t i = existing; i < 100'001; ++i) append_bytes(bytes, free_atom);
    EXPECT_TRUE(open_bytes(bytes).has_value());
    append_bytes(bytes, free_atom);
    const auto refused = open_bytes(bytes);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), "Too many top-level movie atoms");
}

// The movie atom padded with empty `free` children up to `children` in all.
Bytes with_metadata_children(std::size_t children) {
    Atoms atoms = testing::build_movie(MovieSpec{});
    const std::size_t existing = atoms.back().children.size();
    Bytes bytes = testing::serialize(atoms);
    const std::size_t moov_at = bytes.size() - atoms.back().bytes().size();
    const Bytes free_atom = raw_atom(8, "free");
    for (std::size_t i = existing; i < children; ++i) append_bytes(bytes, free_atom);
    testing::set_u32(bytes, moov_at, static_cast<std::uint32_t>(bytes.size() - moov_at));
    return bytes;
}

TEST(OpenMovie, TooManyMetadataAtoms) {
    EXPECT_TRUE(open_bytes(with_metadata_children(1'000'001)).has_value());
    const auto refused = open_bytes(with_metadata_children(1'000'002));
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), "Too many metadata atoms");
}

TEST(MediaRanges, PayloadOfEveryTopLevelMdatInFileOrder) {
    const std::vector<AtomSpan> atoms = {
        {0, 20, 8, "ftyp"}, {20, 108, 8, "mdat"}, {128, 16, 16, "mdat"}, {144, 50, 8, "moov"}, {194, 40, 16, "mdat"}};
    const std::vector<MediaRange> expected = {{28, 128}, {144, 144}, {210, 234}};
    EXPECT_EQ(media_ranges(atoms), expected);
    EXPECT_TRUE(media_ranges({{0, 50, 8, "moov"}}).empty());
}

TEST(SampleTableOf, WalksTrakMdiaMinfStbl) {
    Atoms atoms = testing::build_movie(MovieSpec{});
    const Bytes trak = testing::find(atoms, "moov/trak").bytes();
    const auto stbl = sample_table_of(trak);
    ASSERT_TRUE(stbl.has_value()) << stbl.error();
    EXPECT_EQ(Bytes(stbl->begin(), stbl->end()), testing::serialize(testing::find(atoms, kStbl).children));
    // The payload of a trak is not a trak atom.
    const Bytes inner(trak.begin() + 8, trak.end());
    EXPECT_EQ(sample_table_of(inner).error(), "Missing or duplicate required metadata atom");
}

}  // namespace
}  // namespace velmora
