#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "result.h"

namespace velmora {

// A timecode label resolved to frames since 00:00:00:00.
struct TimecodeValue {
    std::uint32_t frame = 0;
    bool drop_frame = false;
};

// The exact rate rounded half away from zero and clamped to 32 bits:
// 30000/1001 gives 30, 24000/1001 gives 24.
std::uint32_t nominal_fps(std::uint32_t timescale, std::uint32_t frame_duration);

// Labels skipped at the start of every minute not divisible by ten: 2 at
// 29.97 fps, 4 at 59.94 fps; every other rate fails.
Result<std::uint32_t> drop_frames_per_minute(std::uint32_t timescale, std::uint32_t frame_duration);

// "HH:MM:SS:FF" (or "HH:MM:SS;FF" for drop-frame) at the given rate.
Result<TimecodeValue> parse_timecode(std::string_view text, std::uint32_t timescale, std::uint32_t frame_duration);

// A timecode as editors type it, written out as a label: up to eight digits
// fill from the right ("10000000" is "10:00:00:00"), or four groups of one or
// two digits ("1:2:3:4" is "01:02:03:04") where "." or ";" before the frames
// asks for drop-frame. Ranges are left to parse_timecode at the movie's rate.
Result<std::string> enter_timecode(std::string_view text);

// The label of a frame number; a day or more wraps around.
Result<std::string> format_timecode(std::uint32_t frame, std::uint32_t timescale, std::uint32_t frame_duration,
                                    bool drop_frame);

}  // namespace velmora
