// Hostile input: a good movie cut short at every byte of its metadata must be
// refused with one of the reader's own messages, never a crash.
#include <set>
#include <gtest/gtest.h>

#include "movie.h"
#include "support/movie_builder.h"

namespace velmora {
namespace {

using testing::MovieSpec;
using testing::TempFile;

MovieSpec rich_movie() {
    MovieSpec recipe;
    recipe.creation_time = 3'700'000'000;
    recipe.tracks = {testing::video_track("avc1", 30000, 1001, 6), testing::audio_track(),
                     testing::timecode_track(107892, {1, 30000, 1001, 30}), testing::picture_track()};
    recipe.tracks[0].edits = std::vector<testing::EditEntry>{{6006, 0, 0x10000}};
    recipe.tracks[0].samples_per_chunk = 2;
    recipe.tracks[1].dref_entry = "alis";
    recipe.tracks[1].sample_sizes = {5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    recipe.tracks[1].samples_per_chunk = 4;
    recipe.tracks[1].co64 = true;
    return recipe;
}

// clang-format off
const std::set<std::string> kReaderMessages = {
    "Truncated movie metadata", "Invalid movie atom size", "Missing or duplicate required metadata atom",
    "Duplicate metadata atom", "Empty tkhd", "Unsupported track header version", "Unsupported mdhd version",
    "Invalid media time scale", "Multiple sample descriptions are not supported yet", "Invalid sample descriptions",
    "Truncated dref", "External media references are not supported", "Unsupported sample data reference",
    "Unsupported movie header version", "Invalid movie time scale", "Duplicate or invalid track identifiers",
    "Expected one primary video track", "Variable frame rate movies are not supported yet", "Unsupported frame rate",
    "Unsupported edit list version", kTrimmedEditRefusal,
    "Invalid sample timing table", "Invalid sample duration", "Incomplete sample timing is not supported",
    "Invalid chunk offset table", "Invalid sample size table", "Invalid sample-to-chunk table",
    "Invalid sample-to-chunk mapping", "Too many chunk samples", "Missing chunk samples",
    "Sample points outside local media data", "Discontinuous timecode is not supported yet",
    "Unsupported timecode format flags", "Timecode and video rates disagree", "Expected a 32-bit timecode sample",
    "Unsupported timecode sample layout", "Multiple timecode tracks are not supported yet",
    "Expected one movie metadata atom", "Encrypted media is not supported",
};
// clang-format on

TEST(Truncation, FileCutAtEveryByteOfTheMovieAtom) {
    const testing::Atoms atoms = testing::build_movie(rich_movie());
    const Bytes whole = testing::serialize(atoms);
    const std::size_t moov_at = whole.size() - atoms.back().bytes().size();
    ASSERT_TRUE(open_movie(TempFile(whole).path()).has_value());
    for (std::size_t cut = moov_at; cut < whole.size(); ++cut) {
        TempFile file(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
        const auto movie = open_movie(file.path());
        ASSERT_FALSE(movie.has_value()) << "accepted at " << cut;
        const std::size_t left = cut - moov_at;
        const char* expected = left == 0  ? "Expected one movie metadata atom"
                               : left < 8 ? "Truncated movie atom header"
                                          : "Invalid movie atom size";
        ASSERT_EQ(movie.error(), expected) << "cut at " << cut;
    }
}

// The metadata itself shortened to every length, with the moov size fixed up
// so that the top-level walk passes and every inner parser meets the cut.
TEST(Truncation, MetadataShortenedToEveryLength) {
    const testing::Atoms atoms = testing::build_movie(rich_movie());
    const Bytes whole = testing::serialize(atoms);
    const Bytes moov = atoms.back().bytes();
    const std::size_t moov_at = whole.size() - moov.size();
    // Cutting right after a whole track (the video track or a later one)
    // leaves a smaller, good movie; every other cut must be refused.
    std::set<std::size_t> track_ends;
    std::size_t end = 8;
    for (const testing::Atom& child : atoms.back().children) {
        end += child.bytes().size();
        if (child.type == FourCC("trak") && end < moov.size()) track_ends.insert(end);
    }
    ASSERT_EQ(track_ends.size(), 3u);
    std::set<std::size_t> accepted;
    for (std::size_t length = 8; length < moov.size(); ++length) {
        Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(moov_at + length));
        testing::set_u32(cut, moov_at, static_cast<std::uint32_t>(length));
        TempFile file(cut);
        const auto movie = open_movie(file.path());
        if (movie) {
            accepted.insert(length);
            EXPECT_EQ(movie->tracks.size(), accepted.size()) << "length " << length;
            continue;
        }
        ASSERT_TRUE(kReaderMessages.contains(movie.error())) << "length " << length << ": " << movie.error();
    }
    EXPECT_EQ(accepted, track_ends);
}

}  // namespace
}  // namespace velmora
