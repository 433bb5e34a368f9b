#pragma once

// A movie's start timecode under the timecode settings, by the rules the
// page applies (resources/ui/timecode.js), for programs that derive starts
// without the page. Both sides read the cases of tests/data/timecode_cases.json
// and must give the same labels, notes, bases and messages.

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result.h"

namespace velmora {

// What the derivation reads of a movie record (docs/wire.md). An absent
// member is one the record lacks or holds with another type.
struct MovieFacts {
    std::optional<std::string> rate;             // "rate": "30000/1001"
    std::optional<std::string> measured_rate;    // "measuredRate"
    std::optional<double> duration;              // "duration", seconds
    std::optional<std::string> timecode;         // "timecode": the embedded label
    std::optional<std::string> created;          // "created": RFC 3339
    std::optional<std::string> modified;         // "modified": RFC 3339
    std::optional<double> recorded_unix;         // "recordedUnix"
    std::optional<std::string> recorded_offset;  // "recordedOffset": "+03:00"
    std::optional<std::string> creation_origin;  // "creationOrigin"
};

// The timecode members of the settings object, at their defaults. A value
// not among a member's choices acts as the page's code treats it: an
// unknown source as "embedded", mode as "auto", direction as "add" and
// timezone as "local".
struct StartSettings {
    std::string source = "embedded";
    std::string start = "01:00:00:00";
    std::string offset = "00:00:00:00";
    std::string mode = "auto";
    std::string direction = "add";
    std::string timezone = "camera";
    bool continuous = false;
};

struct StartTimecode {
    std::string timecode;
    bool drop = false;
    std::optional<std::string> note;   // why the labelling is not the one the mode asked for
    std::optional<std::string> basis;  // which time a "creation" start used
    std::optional<std::string> end;    // the label of the last frame (continuous starts only)
};

// A message and what it is about: "movie", or the setting at fault, "start"
// or "offset"; the page marks that field.
struct StartFailure {
    std::string field;
    std::string message;
};

using StartResult = std::expected<StartTimecode, StartFailure>;

// One movie's start under the settings ("continuous" aside).
StartResult derive_start(const MovieFacts& movie, const StartSettings& settings);

// A timecode typed for one movie: the text when the engine would accept it
// at the movie's rate, else the engine's message.
Result<std::string> validate_start(const MovieFacts& movie, std::string_view text);

// The label of the movie's last frame when it starts at `start`.
Result<std::string> end_label(const MovieFacts& movie, std::string_view start);

// A movie of a list in the order shown, with the start typed for its row.
struct ListedMovie {
    MovieFacts movie;
    std::optional<std::string> typed;
};

// Starts under a continuous Custom start: the first movie starts where the
// settings say, each other one on the first frame after the previous one
// ends. A valid typed start holds its row's place; a movie without a start
// is passed over. Each start carries its end label.
std::vector<StartResult> derive_continuous(const std::vector<ListedMovie>& movies, const StartSettings& settings);

// Only a Custom start runs on from movie to movie.
bool is_continuous(const StartSettings& settings);

}  // namespace velmora
