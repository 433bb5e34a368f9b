#include "timecode_track.h"

#include <algorithm>
#include <array>
#include <vector>

#include "boxes.h"
#include "file_io.h"
#include "movie.h"
#include "sample_tables.h"
#include "timecode.h"
#include "utf8.h"

namespace velmora {

namespace {

// The frames-per-second byte names the rounded rate; some action cameras
// store the whole part instead (29 at 29.97), read as the rounded rate when
// that is the video's.
bool frames_byte_matches(std::uint32_t timescale, std::uint32_t frame_duration, std::uint8_t frames_byte,
                         std::uint32_t video_fps) {
    const std::uint32_t rounded = nominal_fps(timescale, frame_duration);
    if (frames_byte == rounded) return true;
    const bool whole_part = frames_byte == timescale / frame_duration && timescale % frame_duration != 0;
    return whole_part && rounded == video_fps;
}

// Whether a timecode entry runs at the given video rate.
bool runs_at(FrameRate video, std::uint32_t timescale, std::uint32_t frame_duration, std::uint8_t frames_byte) {
    const std::uint64_t video_side = std::uint64_t{video.frame_duration} * timescale;
    const std::uint64_t timecode_side = std::uint64_t{video.timescale} * frame_duration;
    const std::uint32_t video_fps = nominal_fps(video.timescale, video.frame_duration);
    return video_side == timecode_side && frames_byte_matches(timescale, frame_duration, frames_byte, video_fps);
}

// The rate a timecode entry is labelled at, or nullopt when it does not run
// at the video's. A constant duration labelled at a standard rate it only
// comes near (90000/1501 as 59.94) may carry a timecode at either rate; its
// labels are the standard rate's, where drop-frame is possible.
std::optional<FrameRate> label_rate(const Movie& movie, std::uint32_t timescale, std::uint32_t frame_duration,
                                    std::uint8_t frames_byte) {
    if (runs_at(movie.video_rate(), timescale, frame_duration, frames_byte))
        return FrameRate{timescale, frame_duration};
    const Track& video = movie.video();
    if (!movie.variable_rate || video.sample_delta == 0) return std::nullopt;
    if (!runs_at({video.media_timescale, video.sample_delta}, timescale, frame_duration, frames_byte))
        return std::nullopt;
    return movie.video_rate();
}

// The text of the `name` atom that opens the tmcd entry's source reference,
// up to its first zero byte as ffmpeg reads it.
Result<std::string> reel_text(const Track& timecode) {
    TRY(const ByteView stbl, sample_table_of(timecode.trak_bytes));
    TRY(const ByteView stsd, required_child(stbl, "stsd"));
    // The reader accepts one sample entry only, so its payload runs to the end of stsd.
    TRY(const ByteView reference, tail_at(stsd, kFirstSampleEntry + kTimecodeEntry.source_reference));
    TRY(const std::uint32_t size, read_u32_at(reference, 0));
    TRY(const FourCC type, read_fourcc_at(reference, 4));
    if (type != FourCC("name") || size < 8) return fail("No reel name");
    TRY(const ByteView name_atom, slice_at(reference, 0, size));
    const ByteView name = name_atom.subspan(8);
    TRY(const std::uint64_t length, read_field(name, kReelTextLength));
    TRY(const ByteView text, slice_at(name, kReelText, length));
    const auto end = std::ranges::find(text, std::uint8_t{0});
    return std::string(text.begin(), end);
}

}  // namespace

std::optional<std::string> read_existing_reel(const Movie& movie) {
    const auto timecode = std::ranges::find(movie.tracks, FourCC("tmcd"), &Track::sample_entry);
    if (timecode == movie.tracks.end()) return std::nullopt;
    const Result<std::string> text = reel_text(*timecode);
    if (!text || text->empty()) return std::nullopt;
    return decode_utf8_lossy(*text);
}

Result<std::optional<std::string>> read_existing_timecode(const Movie& movie) {
    const Track* timecode = nullptr;
    for (const Track& track : movie.tracks) {
        if (track.sample_entry != FourCC("tmcd")) continue;
        if (timecode != nullptr) return fail("Multiple timecode tracks are not supported yet");
        timecode = &track;
    }
    if (timecode == nullptr) return std::optional<std::string>{};
    if (timecode->sample_count != 1) return fail("Discontinuous timecode is not supported yet");

    TRY(const ByteView stbl_payload, sample_table_of(timecode->trak_bytes));
    TRY(const Children stbl, parse_children(stbl_payload));
    TRY(const ByteView stsd, stbl.required("stsd"));
    TRY(const std::uint64_t flags, read_sample_entry_field(stsd, kTimecodeEntry.flags));
    TRY(const std::uint64_t timescale_field, read_sample_entry_field(stsd, kTimecodeEntry.timescale));
    TRY(const std::uint64_t duration_field, read_sample_entry_field(stsd, kTimecodeEntry.frame_duration));
    TRY(const std::uint64_t frames_per_second, read_sample_entry_field(stsd, kTimecodeEntry.frames_byte));
    const auto timescale = static_cast<std::uint32_t>(timescale_field);
    const auto frame_duration = static_cast<std::uint32_t>(duration_field);
    if (flags > 3 || frame_duration == 0 || frames_per_second == 0) return fail("Unsupported timecode format flags");

    const auto frames_byte = static_cast<std::uint8_t>(frames_per_second);
    const std::optional<FrameRate> labels = label_rate(movie, timescale, frame_duration, frames_byte);
    if (!labels) return fail("Timecode and video rates disagree");

    TRY(const ByteView stsz, stbl.required("stsz"));
    TRY(std::uint64_t sample_size, read_field(stsz, kConstantSampleSize));
    if (sample_size == 0) {
        TRY(const std::uint64_t first_size, read_field(stsz, {kSampleSizeTable, 4}));
        sample_size = first_size;
    }
    if (sample_size != 4) return fail("Expected a 32-bit timecode sample");

    TRY(const std::vector<std::uint64_t> offsets, chunk_offsets(stbl));
    if (offsets.size() != 1) return fail("Unsupported timecode sample layout");

    std::array<std::uint8_t, 4> sample{};
    TRY_VOID(read_exact_at(movie.file, offsets.front(), sample));
    TRY(const std::uint32_t start, read_u32_at(sample, 0));
    if (start & 0x80000000u) return fail("Negative timecode is not supported yet");
    TRY(std::string text, format_timecode(start, labels->timescale, labels->frame_duration, (flags & 1u) != 0));
    return std::optional<std::string>{std::move(text)};
}

}  // namespace velmora
