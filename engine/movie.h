#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "atoms.h"
#include "file_io.h"
#include "frame_rate.h"

namespace velmora {

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
    std::optional<VariableRate> variable_rate;  // set when the video's frame durations differ

    const Track& video() const { return tracks[video_index]; }
    // The rate the video is labelled at: its own for a constant rate, else the standard rate.
    FrameRate video_rate() const {
        if (variable_rate) return variable_rate->standard;
        return {video().media_timescale, video().sample_delta};
    }
};

// A top-level mdat payload: [start, end) in the file.
using MediaRange = std::pair<std::uint64_t, std::uint64_t>;

Result<Movie> open_movie(const std::string& path);
std::vector<MediaRange> media_ranges(const std::vector<AtomSpan>& atoms);
Result<ByteView> sample_table_of(ByteView trak_bytes);
bool is_primary_video(const Track& track);

}  // namespace velmora
