#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "atoms.h"
#include "movie.h"
#include "result.h"

namespace velmora {

// Writes OUTPUT as INPUT plus a timecode track starting at TIMECODE (naming
// REEL when given), verifies it and prints the report of the written file.
Status write_movie(const std::string& input, const std::string& output, const std::string& timecode,
                   const std::optional<std::string>& reel = std::nullopt);

// Where a write reports. The command line prints progress lines on standard
// error and the report on standard output, each flushed at once.
struct WriteEvents {
    std::function<void(std::string_view line)> progress;  // "progress=0.36\n"
    std::function<void(std::string_view line)> report;    // the report and its line feed
    // Runs after the output is flushed, before it is read back through the
    // given path (OUTPUT itself, or the way to a file not yet named).
    std::function<void(const std::string& readable)> before_verification;
};
WriteEvents standard_stream_events();

Status write_movie(const std::string& input, const std::string& output, const std::string& timecode,
                   const WriteEvents& events, const std::optional<std::string>& reel = std::nullopt);

// Everything appended to or patched into the copy of the input.
struct WritePlan {
    std::uint32_t timecode_track_id = 0;
    Bytes sample_atom;                    // 12-byte mdat at the input's end
    Bytes moov;                           // the rebuilt movie atom behind it
    std::uint64_t free_patch_offset = 0;  // type field of the input's first moov
};

// Parses the timecode at the video rate, checks the reel and builds every new
// atom; touches no file. A stamp in place passes the record its moov keeps.
Result<WritePlan> plan_write(const Movie& movie, const std::string& timecode,
                             const std::optional<std::string>& reel = std::nullopt,
                             const std::optional<StampRecord>& record = std::nullopt);

// The input's moov with the video trak amended, every timecode trak dropped,
// the next track identifier raised and the timecode trak appended last. An
// old `vlmr` leaves udta; the given record's enters it (in a udta added last
// when the movie has none).
Result<Bytes> rebuild_moov(const Movie& movie, std::uint32_t timecode_track_id, ByteView timecode_trak,
                           ByteView video_trak, const std::optional<StampRecord>& record = std::nullopt);

}  // namespace velmora
