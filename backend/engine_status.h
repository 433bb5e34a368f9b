#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "result.h"

namespace velmora {

// Receives the engine's progress, a fraction from 0 to 1 (or NaN if the
// engine said so); called on the status reader thread.
using ProgressSink = std::function<void(double)>;

inline constexpr std::size_t status_read_buffer_size = 8192;
// Lines are kept while the collected text is shorter than this.
inline constexpr std::size_t status_collect_limit = 12000;
// Memory bound for one line from an engine that never ends its lines.
inline constexpr std::size_t status_line_keep_limit = std::size_t{1} << 20;

// Parses a decimal floating-point number in the plain form: optional sign,
// digits with an optional point and exponent, or inf/infinity/nan in any
// letter case. No white space is allowed anywhere.
std::optional<double> parse_decimal_number(std::string_view text) noexcept;

// For a line (line ending removed) "progress=<number>": the number clamped
// to 0..1 (NaN stays NaN); nothing for any other line.
std::optional<double> parse_progress_line(std::string_view line) noexcept;

// Reads the engine's standard error to its end: progress lines go to
// `on_progress`, the other lines are collected (each followed by a line feed)
// while the collection is shorter than status_collect_limit bytes.
Result<std::string> read_engine_status(int fd, const ProgressSink& on_progress);

}  // namespace velmora
