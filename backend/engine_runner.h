#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "engine_status.h"
#include "result.h"

namespace velmora {

// How often a running write is polled (and the cancel flag looked at).
inline constexpr std::chrono::milliseconds write_poll_interval{25};

inline constexpr std::string_view nul_path_message = "Invalid path: it contains a NUL byte.";
inline constexpr std::string_view nul_timecode_message = "Invalid timecode: it contains a NUL byte.";
// A reel with a NUL byte cannot reach the engine's command line; the engine
// refuses such a name (a control character) with the same words.
inline constexpr std::string_view invalid_reel_message = "Invalid reel name";

// How long a probe may take before its engine is killed: a movie on a
// stalled network mount must not hold an import (and with it the batch gate
// and "shutdown") forever.
inline constexpr std::chrono::milliseconds probe_time_limit{60'000};
inline constexpr std::string_view probe_timeout_message = "The engine did not answer within 60 seconds.";

// Runs `ENGINE probe MOVIE` and returns the parsed report (any JSON value;
// its shape is the caller's to check). A failing engine yields its standard
// error text, trimmed (possibly empty); unparsable output the parser's
// message; an engine still running after `time_limit` is killed and yields
// the timeout message.
Result<nlohmann::json> probe_movie(const std::string& engine_path, const std::string& movie_path,
                                   std::chrono::milliseconds time_limit = probe_time_limit);

// Runs `ENGINE stamp MOVIE TIMECODE [REEL]` to its end (no time limit, no
// cancel: the movie itself is being changed) and returns what it printed, the
// stamped movie's report, unparsed: the movie is stamped even when that text
// is not JSON. A failing engine yields its message.
Result<std::string> stamp_in_place(const std::string& engine_path, const std::string& movie_path,
                                   const std::string& timecode, const std::string& reel = {});

// Runs `ENGINE unstamp MOVIE` to its end; a failing engine yields its message.
Status unstamp_in_place(const std::string& engine_path, const std::string& movie_path);

// Runs `ENGINE write SOURCE OUTPUT TIMECODE [REEL]` until it ends; an empty
// `reel` adds no argument. Progress lines reach `on_progress` from a reader
// thread that ends before this returns. While `cancel` is set the engine is
// killed; the result is then "Cancelled.". The output file, if any, is the
// caller's to remove.
Status write_timecode(const std::string& engine_path, const std::string& source_path, const std::string& output_path,
                      const std::string& timecode, const std::atomic<bool>& cancel, const ProgressSink& on_progress,
                      const std::string& reel = {});

}  // namespace velmora
