#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "file_io.h"
#include "top_level_atoms.h"

namespace velmora {

using Bytes = std::vector<std::uint8_t>;

// A rate as a time scale and a frame duration: 30000/1001 is 29.97 fps.
struct FrameRate {
    std::uint32_t timescale = 0;
    std::uint32_t frame_duration = 0;
    bool operator==(const FrameRate&) const = default;
};

// A video whose frame durations differ, or whose constant duration only
// comes near a standard rate, labelled at the standard rate they stand for.
struct VariableRate {
    FrameRate standard;    // reduced, one of the standard rates (30000/1001, 25/1 ...)
    std::string measured;  // frames over their total duration, reduced ("36000/1201")
};

// When recording began: an instant and the zone it began in.
struct RecordedTime {
    std::int64_t unix_seconds = 0;  // UTC
    int offset_minutes = 0;         // east of UTC: +180 for "+03:00"
    bool operator==(const RecordedTime&) const = default;
};

// What a stamp in place recorded in its `vlmr`: the file's length before
// the stamp and where its old moov (now a free atom) starts.
struct StampRecord {
    std::uint64_t original_length = 0;
    std::uint64_t old_moov_offset = 0;
    bool operator==(const StampRecord&) const = default;
};

struct Track {
    Bytes trak_bytes;  // the whole trak atom, header included
    std::uint64_t media_duration = 0;
    std::uint64_t sample_count = 0;
    std::uint32_t track_id = 0;
    FourCC handler;
    FourCC sample_entry;
    std::uint32_t media_timescale = 0;
    std::uint32_t sample_delta = 0;  // 0 when the sample durations differ
    std::uint16_t width = 0;
    std::uint16_t height = 0;
};

struct Movie {
    File file;
    std::uint64_t file_size = 0;
    std::vector<AtomSpan> atoms;  // top level, offsets absolute in the file
    Bytes metadata;               // payload of the moov atom
    std::vector<Track> tracks;
    std::size_t video_index = 0;
    std::uint64_t creation_time = 0;  // seconds since 1904-01-01 UTC
    std::optional<std::string> existing_timecode;
    std::optional<std::string> existing_reel;   // named by the existing timecode track
    std::optional<VariableRate> variable_rate;  // set when the video's frame durations differ
    std::optional<RecordedTime> recorded_time;  // from moov/meta, when it holds one that parses
    std::optional<StampRecord> stamp_record;    // from moov/udta/vlmr, when the movie was stamped in place

    const Track& video() const { return tracks[video_index]; }
    // The rate the video is labelled at: its own for a constant rate, else the standard rate.
    FrameRate video_rate() const {
        if (variable_rate) return variable_rate->standard;
        return {video().media_timescale, video().sample_delta};
    }
};

// A top-level mdat payload: [start, end) in the file.
using MediaRange = std::pair<std::uint64_t, std::uint64_t>;

}  // namespace velmora
