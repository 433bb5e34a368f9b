#include "verify.h"

#include <algorithm>
#include <vector>

namespace velmora {

namespace {

// The tracks the write must leave alone: all but timecode tracks and the
// primary video track (which gains its tref).
std::vector<ByteView> untouched_tracks(const Movie& movie, std::uint32_t video_track_id) {
    std::vector<ByteView> kept;
    for (const Track& track : movie.tracks) {
        if (track.sample_entry == FourCC("tmcd") || track.track_id == video_track_id) continue;
        kept.emplace_back(track.trak_bytes);
    }
    return kept;
}

bool same_tracks(const std::vector<ByteView>& a, const std::vector<ByteView>& b) {
    return std::ranges::equal(a, b, [](ByteView x, ByteView y) { return std::ranges::equal(x, y); });
}

}  // namespace

Status check_written_movie(const Movie& input, const Movie& written, const std::string& timecode,
                           const std::optional<std::string>& reel) {
    if (written.existing_timecode != timecode) return fail("Written timecode failed verification");
    if (written.existing_reel != reel) return fail("Written reel failed verification");
    const std::uint32_t video_track_id = input.video().track_id;
    if (!same_tracks(untouched_tracks(input, video_track_id), untouched_tracks(written, video_track_id)))
        return fail("Camera/audio track metadata changed unexpectedly");
    return {};
}

Result<Movie> verify_written_movie(const Movie& input, const std::string& output, const std::string& timecode,
                                   const std::optional<std::string>& reel) {
    TRY(Movie written, open_movie(output));
    TRY_VOID(check_written_movie(input, written, timecode, reel));
    return written;
}

}  // namespace velmora
