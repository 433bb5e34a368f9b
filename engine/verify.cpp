#include "verify.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "names.h"

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

std::optional<unsigned> CopyProgress::advance(std::uint64_t copied) {
    const auto k = static_cast<unsigned>(copied * 90 / total_);
    if (k == last_) return std::nullopt;
    last_ = k;
    return k;
}

std::string progress_line(unsigned k) {
    char number[32];
    const auto end = std::to_chars(number, number + sizeof number, static_cast<double>(k) / 100.0,
                                   std::chars_format::fixed).ptr;
    return std::string(kProgressPrefix) + std::string(number, end) + "\n";
}

Result<Movie> verify_written_movie(const Movie& input, const std::string& output, const std::string& timecode) {
    TRY(Movie written, open_movie(output));
    if (written.existing_timecode != timecode) return fail("Written timecode failed verification");
    const std::uint32_t video_track_id = input.video().track_id;
    if (!same_tracks(untouched_tracks(input, video_track_id), untouched_tracks(written, video_track_id)))
        return fail("Camera/audio track metadata changed unexpectedly");
    return written;
}

}  // namespace velmora
