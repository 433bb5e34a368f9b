#include "start_derivation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "timecode.h"
#include "wall_clock.h"

namespace velmora {

namespace {

// The page's numbers are JavaScript doubles; the arithmetic below keeps to
// doubles where the page's results depend on their rounding.

constexpr std::string_view kNoEmbedded = "No embedded timecode";
constexpr std::string_view kNoCreation = "No creation time";
constexpr std::string_view kNoModification = "No modification time";
constexpr std::string_view kNoDuration = "No duration";
constexpr std::string_view kUnsupportedRate = "Unsupported frame rate";
constexpr std::string_view kLabelShape = "Use HH:MM:SS:FF timecode";
// Which time a "creation" start used, as the row says it.
constexpr std::string_view kHeaderBasis = "movie header";
constexpr std::string_view kFileDateBasis = "file date: may be the copy time";
// The backend's word for a creation time taken from the file system.
constexpr std::string_view kFileDateOrigin = "File creation date";
constexpr double kLatestRecordedUnix = 8.64e12;

struct Rate {
    std::uint32_t timescale = 0;
    std::uint32_t frame_duration = 0;
};

// A label's four numbers; a frame count may exceed two digits.
struct LabelParts {
    std::int64_t h = 0;
    std::int64_t m = 0;
    std::int64_t s = 0;
    std::int64_t f = 0;
};

struct Labelling {
    bool drop = false;
    std::optional<std::string> note;
};

struct SourceLabel {
    LabelParts parts;
    std::optional<bool> embedded_drop;
    bool typed = false;
    std::optional<std::string> basis;
};

// The label after the previous movie of a continuous list.
struct Following {
    LabelParts parts;
    std::uint32_t fps = 0;
};

StartFailure failure(std::string_view field, std::string message) { return {std::string(field), std::move(message)}; }

// Math.round: halves round up.
double js_round(double x) {
    const double down = std::floor(x);
    return x - down >= 0.5 ? down + 1 : down;
}

// ToUint32: NaN and the infinities give 0, everything else wraps modulo 2^32.
std::uint32_t to_u32(double x) {
    if (!std::isfinite(x)) return 0;
    const double wrapped = std::fmod(std::trunc(x), 4294967296.0);
    return static_cast<std::uint32_t>(wrapped < 0 ? wrapped + 4294967296.0 : wrapped);
}

std::uint32_t fps_of(Rate rate) { return nominal_fps(rate.timescale, rate.frame_duration); }

Result<TimecodeValue> parse_label(std::string_view text, Rate rate) {
    return parse_timecode(text, rate.timescale, rate.frame_duration);
}

std::optional<std::uint32_t> ten_digit_number(std::string_view digits) {
    if (digits.empty() || digits.size() > 10) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 4294967295u) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

// "N/D" from the movie record: the reduced time scale and frame duration.
Result<Rate> parse_rate(const std::optional<std::string>& text) {
    const std::string_view rate = text ? std::string_view(*text) : std::string_view();
    const std::size_t slash = rate.find('/');
    if (slash == std::string_view::npos) return fail(std::string(kUnsupportedRate));
    const auto timescale = ten_digit_number(rate.substr(0, slash));
    const auto frame_duration = ten_digit_number(rate.substr(slash + 1));
    if (!timescale || !frame_duration || *timescale == 0 || *frame_duration == 0 ||
        nominal_fps(*timescale, *frame_duration) == 0)
        return fail(std::string(kUnsupportedRate));
    return Rate{*timescale, *frame_duration};
}

bool usable_duration(const std::optional<double>& duration) {
    return duration && std::isfinite(*duration) && *duration >= 0;
}

// ---- labels ----------------------------------------------------------------

std::string two_or_more_digits(std::int64_t n) { return (n < 10 ? "0" : "") + std::to_string(n); }

std::string label_text(const LabelParts& parts, char separator) {
    return two_or_more_digits(parts.h) + ':' + two_or_more_digits(parts.m) + ':' + two_or_more_digits(parts.s) +
           separator + two_or_more_digits(parts.f);
}

// The four numbers of a label that parsed or was formatted: two digits each
// at fixed places.
LabelParts label_parts(std::string_view text) {
    const auto at = [&](std::size_t i) {
        return static_cast<std::int64_t>((text[i] - '0') * 10 + (text[i + 1] - '0'));
    };
    return {at(0), at(3), at(6), at(9)};
}

// The same text with the other separator; anything not shaped like a label
// is left for the parser to refuse.
std::string with_separator(std::string_view text, char separator) {
    std::string out(text);
    if (out.size() == 11 && (out[8] == ':' || out[8] == ';')) out[8] = separator;
    return out;
}

// Which labelling the result uses. "auto" keeps an embedded timecode's own
// labelling; everything else follows the rate unless the mode says otherwise.
Labelling choose_drop(std::string_view mode, Rate rate, std::optional<bool> embedded_drop) {
    const auto drop = drop_frames_per_minute(rate.timescale, rate.frame_duration);
    if (mode == "non-drop") return {false, std::nullopt};
    if (mode == "drop") {
        if (drop) return {true, std::nullopt};
        return {false, drop.error() + "; non-drop used"};
    }
    if (embedded_drop) return {*embedded_drop, std::nullopt};
    return {drop.has_value(), std::nullopt};
}

// Moves a label that drop-frame counting skips to the next one it shows:
// frame d of the same minute. Only called where the rate has drop-frame.
LabelParts next_shown_label(LabelParts parts, Rate rate) {
    const std::int64_t d = drop_frames_per_minute(rate.timescale, rate.frame_duration).value_or(0);
    if (parts.m % 10 != 0 && parts.s == 0 && parts.f < d) parts.f = d;
    return parts;
}

double frames_per_day(Rate rate, bool drop) {
    const double day = static_cast<double>(fps_of(rate)) * 86400.0;
    if (!drop) return day;
    return day - 1296.0 * drop_frames_per_minute(rate.timescale, rate.frame_duration).value_or(0);
}

// ---- zones -----------------------------------------------------------------

// "+hh:mm" or "-hh:mm" as minutes east of UTC.
std::optional<int> offset_minutes(const std::optional<std::string>& text) {
    if (!text || text->size() != 6 || ((*text)[0] != '+' && (*text)[0] != '-') || (*text)[3] != ':')
        return std::nullopt;
    const std::string_view digits[] = {std::string_view(*text).substr(1, 2), std::string_view(*text).substr(4, 2)};
    for (const auto pair : digits)
        if (pair[0] < '0' || pair[0] > '9' || pair[1] < '0' || pair[1] > '9') return std::nullopt;
    const int hours = (digits[0][0] - '0') * 10 + (digits[0][1] - '0');
    const int minutes = (digits[1][0] - '0') * 10 + (digits[1][1] - '0');
    if (hours > 23 || minutes > 59) return std::nullopt;
    return ((*text)[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
}

// A fixed offset the settings accept: -12:00 to +14:00, as the world's zones go.
std::optional<int> fixed_offset_minutes(const std::string& text) {
    const auto minutes = offset_minutes(text);
    if (minutes && *minutes >= -720 && *minutes <= 840) return minutes;
    return std::nullopt;
}

std::string offset_text(int minutes) {
    const int size = std::abs(minutes);
    return (minutes < 0 ? "-" : "+") + two_or_more_digits(size / 60) + ':' + two_or_more_digits(size % 60);
}

// Whether the movie says when recording began (whole seconds since 1970).
bool has_recorded_time(const MovieFacts& movie) {
    const auto& seconds = movie.recorded_unix;
    return seconds && std::isfinite(*seconds) && std::trunc(*seconds) == *seconds &&
           std::fabs(*seconds) <= kLatestRecordedUnix;
}

// The zone a movie's instants are shown in under the "timezone" setting,
// nothing for local time. "camera" is the zone the movie was recorded in
// when it says, else local.
std::optional<int> zone_for(const MovieFacts& movie, const std::string& timezone) {
    if (timezone == "utc") return 0;
    if (const auto fixed = fixed_offset_minutes(timezone)) return fixed;
    if (timezone == "camera" && has_recorded_time(movie)) return offset_minutes(movie.recorded_offset);
    return std::nullopt;
}

// Time of day as a label: the milliseconds become frames, rounded down.
LabelParts time_of_day_parts(const WallClock& clock, std::uint32_t fps) {
    const double frames = std::floor(static_cast<double>(clock.millis) * fps / 1000.0);
    return {clock.hour, clock.minute, clock.second,
            static_cast<std::int64_t>(std::min(static_cast<double>(fps) - 1, frames))};
}

// The wall clock of an instant. Outside Date's range the page has no time
// of day and its label text fails to parse.
Result<WallClock> clock_at(double ms, std::optional<int> zone) {
    const auto clock = wall_clock(ms, zone);
    if (!clock) return fail(std::string(kLabelShape));
    return *clock;
}

// ---- sources ---------------------------------------------------------------

// The instant the "Creation time" source uses, as a label in the chosen
// zone, and which one it is: when recording began as the camera stored it
// with its zone (the movie header's time is when the file was finished),
// else the movie header's, else the file's creation date, which a copy resets.
Result<SourceLabel> creation_label(const MovieFacts& movie, const std::string& timezone, std::uint32_t fps) {
    const bool recorded = has_recorded_time(movie);
    std::optional<double> ms;
    if (recorded)
        ms = *movie.recorded_unix * 1000.0;
    else if (movie.created)
        ms = parse_instant(*movie.created);
    if (!ms) return fail(std::string(kNoCreation));
    TRY(const WallClock clock, clock_at(*ms, zone_for(movie, timezone)));
    std::string basis(movie.creation_origin == kFileDateOrigin ? kFileDateBasis : kHeaderBasis);
    if (recorded) {
        // Said in the zone it was recorded in, whatever zone the start uses;
        // in that zone when the recording names none.
        const auto camera = offset_minutes(movie.recorded_offset);
        TRY(const WallClock said, camera ? clock_at(*ms, camera) : Result<WallClock>(clock));
        basis = "recorded " + two_or_more_digits(said.hour) + ':' + two_or_more_digits(said.minute) + ':' +
                two_or_more_digits(said.second) + ' ' + offset_text(said.offset_minutes);
    }
    return SourceLabel{time_of_day_parts(clock, fps), std::nullopt, false, basis};
}

// When recording began: the file's modification time (cameras close the file
// when recording stops) minus the movie's duration. Microsecond rounding
// keeps 10.01 s from becoming 10009.999… ms.
Result<double> recording_start(const MovieFacts& movie) {
    const auto modified = movie.modified ? parse_instant(*movie.modified) : std::nullopt;
    if (!modified) return fail(std::string(kNoModification));
    if (!usable_duration(movie.duration)) return fail(std::string(kNoDuration));
    const double duration_ms = js_round(*movie.duration * 1e6) / 1e3;
    return std::floor(*modified - duration_ms);
}

// The label the chosen source gives, before the mode's labelling applies.
Result<SourceLabel> source_label(const MovieFacts& movie, const StartSettings& settings, Rate rate) {
    const std::uint32_t fps = fps_of(rate);
    if (settings.source == "creation") return creation_label(movie, settings.timezone, fps);
    if (settings.source == "modification") {
        TRY(const double start, recording_start(movie));
        TRY(const WallClock clock, clock_at(start, zone_for(movie, settings.timezone)));
        return SourceLabel{time_of_day_parts(clock, fps), std::nullopt, false, std::nullopt};
    }
    if (settings.source == "custom") {
        // Checks what the rate does not decide (shape, digits, ranges) on the
        // text as typed; its separator is the mode's business.
        const std::string as_non_drop = with_separator(settings.start, ':');
        TRY_VOID(parse_label(as_non_drop, rate));
        return SourceLabel{label_parts(as_non_drop), std::nullopt, true, std::nullopt};
    }
    if (!movie.timecode) return fail(std::string(kNoEmbedded));
    TRY(const TimecodeValue embedded, parse_label(*movie.timecode, rate));
    return SourceLabel{label_parts(*movie.timecode), embedded.drop_frame, false, std::nullopt};
}

// The offset as a number of frames at the movie's rate, signed by direction.
Result<double> offset_frames(const StartSettings& settings, Rate rate) {
    TRY(const TimecodeValue offset, parse_label(settings.offset, rate));
    const double frames = offset.frame;
    return settings.direction == "subtract" ? -frames : frames;
}

// ---- continuous ------------------------------------------------------------

// The frames a movie presents: its duration at the rate its frames were
// measured at, so a phone's 90000/1501 clip labelled 59.94 counts the frames
// it has rather than its length in 59.94 frames.
Result<double> frame_count(const MovieFacts& movie) {
    auto rate = parse_rate(movie.measured_rate);
    if (!rate) rate = parse_rate(movie.rate);
    if (!rate) return fail(rate.error());
    if (!usable_duration(movie.duration)) return fail(std::string(kNoDuration));
    const double frames = *movie.duration * rate->timescale / rate->frame_duration;
    return std::max(1.0, js_round(frames));
}

// The label `count` frames after a start, at the movie's rate in the start's
// labelling, wrapping at midnight.
Result<std::string> label_after(const MovieFacts& movie, std::string_view start, double count) {
    TRY(const Rate rate, parse_rate(movie.rate));
    TRY(const TimecodeValue first, parse_label(start, rate));
    const double frame = std::fmod(first.frame + count, frames_per_day(rate, first.drop_frame));
    return format_timecode(to_u32(frame), rate.timescale, rate.frame_duration, first.drop_frame);
}

// The same label time at another nominal rate: its frames become the same
// part of a second, rounded up to a whole frame so nothing overlaps.
LabelParts carry_label(const LabelParts& parts, std::uint32_t from_fps, std::uint32_t to_fps) {
    const double from = from_fps;
    const double to = to_fps;
    auto f = static_cast<std::int64_t>(std::floor((static_cast<double>(parts.f) * to + from - 1) / from));
    std::int64_t seconds = parts.h * 3600 + parts.m * 60 + parts.s;
    if (f >= to_fps) {
        f -= to_fps;
        seconds = (seconds + 1) % 86400;
    }
    return {seconds / 3600, seconds / 60 % 60, seconds % 60, f};
}

// A movie that follows another: it starts on the label after the previous
// movie's last frame, in its own rate's labelling.
StartResult following_start(const MovieFacts& movie, const StartSettings& settings, const Following& after) {
    const auto rate = parse_rate(movie.rate);
    if (!rate) return std::unexpected(failure("movie", rate.error()));
    Labelling labelling = choose_drop(settings.mode, *rate, std::nullopt);
    LabelParts parts = carry_label(after.parts, after.fps, fps_of(*rate));
    if (labelling.drop) parts = next_shown_label(parts, *rate);
    return StartTimecode{label_text(parts, labelling.drop ? ';' : ':'), labelling.drop, std::move(labelling.note),
                         std::nullopt, std::nullopt};
}

// Where the next movie of the list starts after this one, placed at its
// typed start or its derived one; nothing when the movie has neither or no
// frame count.
std::optional<Following> following(const ListedMovie& item, const StartResult& result) {
    std::optional<std::string> placed;
    if (item.typed && validate_start(item.movie, *item.typed))
        placed = item.typed;
    else if (result)
        placed = result->timecode;
    if (!placed) return std::nullopt;
    const auto count = frame_count(item.movie);
    if (!count) return std::nullopt;
    const auto next = label_after(item.movie, *placed, *count);
    if (!next) return std::nullopt;
    return Following{label_parts(*next), fps_of(*parse_rate(item.movie.rate))};
}

}  // namespace

StartResult derive_start(const MovieFacts& movie, const StartSettings& settings) {
    const auto rate = parse_rate(movie.rate);
    if (!rate) return std::unexpected(failure("movie", rate.error()));

    auto source = source_label(movie, settings, *rate);
    if (!source) return std::unexpected(failure(settings.source == "custom" ? "start" : "movie", source.error()));
    Labelling labelling = choose_drop(settings.mode, *rate, source->embedded_drop);
    LabelParts parts = source->parts;
    if (labelling.drop && !source->typed) parts = next_shown_label(parts, *rate);

    const auto start = parse_label(label_text(parts, labelling.drop ? ';' : ':'), *rate);
    if (!start) return std::unexpected(failure(source->typed ? "start" : "movie", start.error()));
    const auto offset = offset_frames(settings, *rate);
    if (!offset) return std::unexpected(failure("offset", offset.error()));

    const double day = frames_per_day(*rate, labelling.drop);
    const double frame = std::fmod(std::fmod(start->frame + *offset, day) + day, day);
    auto text = format_timecode(to_u32(frame), rate->timescale, rate->frame_duration, labelling.drop);
    if (!text) return std::unexpected(failure("movie", text.error()));
    return StartTimecode{std::move(*text), labelling.drop, std::move(labelling.note), std::move(source->basis),
                         std::nullopt};
}

Result<std::string> validate_start(const MovieFacts& movie, std::string_view text) {
    TRY(const Rate rate, parse_rate(movie.rate));
    TRY_VOID(parse_label(text, rate));
    return std::string(text);
}

Result<std::string> end_label(const MovieFacts& movie, std::string_view start) {
    TRY(const double count, frame_count(movie));
    return label_after(movie, start, count - 1);
}

std::vector<StartResult> derive_continuous(const std::vector<ListedMovie>& movies, const StartSettings& settings) {
    std::vector<StartResult> results;
    std::optional<Following> after;
    for (const ListedMovie& item : movies) {
        StartResult result = after ? following_start(item.movie, settings, *after) : derive_start(item.movie, settings);
        if (result) {
            auto end = end_label(item.movie, result->timecode);
            if (end)
                result->end = std::move(*end);
            else
                result = std::unexpected(failure("movie", end.error()));
        }
        if (auto next = following(item, result)) after = *next;
        results.push_back(std::move(result));
    }
    return results;
}

bool is_continuous(const StartSettings& settings) { return settings.continuous && settings.source == "custom"; }

}  // namespace velmora
