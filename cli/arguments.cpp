#include "arguments.h"

#include <filesystem>
#include <functional>
#include <map>

#include "output_naming.h"
#include "reel_name.h"
#include "timecode.h"

namespace velmora::cli {

namespace {

constexpr std::string_view kStampHelp =
    "Usage: velmora stamp [options] PATH...\n"
    "Stamps a start timecode onto the movies and folders given. Defaults come from the saved settings.\n"
    "  --start embedded|creation|modification|HH:MM:SS:FF   where the start comes from\n"
    "  --continuous                each movie starts after the one before (with a typed start)\n"
    "  --drop-frame auto|on|off    drop-frame labelling at 29.97 and 59.94\n"
    "  --offset [+|-]HH:MM:SS:FF   added to (or taken from) every start\n"
    "  --zone camera|local|utc|+hh:mm   the zone a creation or modification time is read in\n"
    "  --reel TEXT | --reel-from card|folder   the reel name written with the timecode\n"
    "  --output DIR | --in-place | --append   a new file, the movie replaced, or a timecode appended\n"
    "  --keep-structure | --flat   below --output, keep each movie's folders or not\n"
    "  --suffix TEXT               after the name of a new file (\"_TC\")\n"
    "  --existing skip|number      when the output name is taken\n"
    "  --recursive | --no-recursive   walk subfolders\n"
    "  --report FILE.csv           write the batch's report\n"
    "  --dry-run                   print each movie, its start and its output path; write nothing\n"
    "  --json                      one JSON line per movie\n"
    "  --progress                  a progress line even when standard error is no terminal\n"
    "  --defaults                  ignore the saved settings\n";
constexpr std::string_view kProbeHelp =
    "Usage: velmora probe [--json] PATH...\n"
    "Prints name, rate, duration, timecode, reel, recorded or creation time and video of each movie,\n"
    "or with --json the import records, one JSON line each.\n";
constexpr std::string_view kRestoreHelp =
    "Usage: velmora restore PATH...\n"
    "Gives movies stamped in place or appended their original back.\n";
constexpr std::string_view kWindowHelp =
    "Usage: velmora window [PATH...]\n"
    "Opens the Velmora window with the movies and folders given.\n";

bool is_digits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// HH:MM:SS:FF or HH:MM:SS;FF; the derivation judges the numbers per movie.
bool is_timecode_text(std::string_view text) {
    return text.size() == 11 && is_digits(text.substr(0, 2)) && text[2] == ':' && is_digits(text.substr(3, 2)) &&
           text[5] == ':' && is_digits(text.substr(6, 2)) && (text[8] == ':' || text[8] == ';') &&
           is_digits(text.substr(9, 2));
}

bool is_zone_offset(std::string_view text) {
    if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || text[3] != ':') return false;
    if (!is_digits(text.substr(1, 2)) || !is_digits(text.substr(4, 2))) return false;
    const int minutes = std::stoi(std::string(text.substr(1, 2))) * 60 + std::stoi(std::string(text.substr(4, 2)));
    return text.substr(4, 2) < "60" && (text[0] == '+' ? minutes <= 14 * 60 : minutes <= 12 * 60);
}

std::optional<Verb> verb_named(std::string_view name) {
    static const std::map<std::string_view, Verb> verbs = {
        {"probe", Verb::kProbe}, {"stamp", Verb::kStamp}, {"restore", Verb::kRestore}, {"window", Verb::kWindow}};
    const auto found = verbs.find(name);
    if (found == verbs.end()) return std::nullopt;
    return found->second;
}

using Json = nlohmann::json;

// A typed start is read as the window's Start field reads it (10000000, 1:2:3:4, 10:00:00.00).
Status set_start(Json& changes, const std::string& value) {
    if (value == "embedded" || value == "creation" || value == "modification") {
        changes["source"] = value;
        return {};
    }
    const auto label = enter_timecode(value);
    if (!label) return fail("--start takes embedded, creation, modification or HH:MM:SS:FF");
    changes["source"] = "custom";
    changes["start"] = *label;
    return {};
}

Status set_offset(Json& changes, const std::string& value) {
    std::string_view text = value;
    changes["direction"] = text.starts_with('-') ? "subtract" : "add";
    if (text.starts_with('-') || text.starts_with('+')) text.remove_prefix(1);
    if (!is_timecode_text(text)) return fail("--offset takes [+|-]HH:MM:SS:FF");
    changes["offset"] = std::string(text);
    return {};
}

Status set_choice(Json& changes, std::string_view option, const std::string& value, const char* key,
                  const std::map<std::string, std::string>& choices) {
    const auto found = choices.find(value);
    if (found == choices.end()) {
        std::string names;
        for (const auto& [name, ignored] : choices) names += (names.empty() ? "" : "|") + name;
        return fail(std::string(option) + " takes " + names);
    }
    changes[key] = found->second;
    return {};
}

Status set_zone(Json& changes, const std::string& value) {
    if (value != "camera" && value != "local" && value != "utc" && !is_zone_offset(value)) {
        return fail("--zone takes camera, local, utc or +hh:mm");
    }
    changes["timezone"] = value;
    return {};
}

Status set_reel(Json& changes, const std::string& value) {
    if (!is_valid_reel_name(value)) {
        return fail("--reel takes 1 to " + std::to_string(kReelNameLimit) + " bytes without control characters");
    }
    changes["reelSource"] = "custom";
    changes["reel"] = value;
    return {};
}

Status set_suffix(Json& changes, const std::string& value) {
    if (!is_valid_suffix(value)) {
        return fail("--suffix takes up to " + std::to_string(max_suffix_bytes) + " bytes without \"/\"");
    }
    changes["suffix"] = value;
    return {};
}

Status set_output(Json& changes, const std::string& value) {
    if (value.empty()) return fail("--output needs a folder");
    std::error_code error;
    auto folder = std::filesystem::absolute(value, error);
    changes["copy"] = true;
    changes["destination"] = error ? value : folder.lexically_normal().string();
    return {};
}

// Options taking a value, for `stamp`.
using ValueSetter = std::function<Status(Json&, const std::string&)>;
const std::map<std::string_view, ValueSetter>& value_options() {
    static const std::map<std::string_view, ValueSetter> options = {
        {"--start", set_start},
        {"--offset", set_offset},
        {"--zone", set_zone},
        {"--reel", set_reel},
        {"--suffix", set_suffix},
        {"--output", set_output},
        {"--drop-frame",
         [](Json& c, const std::string& v) {
             return set_choice(c, "--drop-frame", v, "mode", {{"auto", "auto"}, {"on", "drop"}, {"off", "non-drop"}});
         }},
        {"--reel-from",
         [](Json& c, const std::string& v) {
             return set_choice(c, "--reel-from", v, "reelSource", {{"card", "card"}, {"folder", "folder"}});
         }},
        {"--existing",
         [](Json& c, const std::string& v) {
             return set_choice(c, "--existing", v, "existing", {{"skip", "skip"}, {"number", "number"}});
         }},
    };
    return options;
}

// Flags of `stamp` that set settings members.
const std::map<std::string_view, Json>& flag_options() {
    static const std::map<std::string_view, Json> flags = {
        {"--continuous", {{"continuous", true}}},
        {"--in-place", {{"copy", false}, {"append", false}}},
        {"--append", {{"copy", false}, {"append", true}}},
        {"--keep-structure", {{"retain", true}}},
        {"--flat", {{"retain", false}}},
        {"--recursive", {{"recursive", true}}},
        {"--no-recursive", {{"recursive", false}}},
    };
    return flags;
}

// Options that contradict each other: at most one of each group.
Status check_exclusive(const std::vector<std::string>& given) {
    const std::vector<std::vector<std::string_view>> groups = {{"--output", "--in-place", "--append"},
                                                               {"--keep-structure", "--flat"},
                                                               {"--reel", "--reel-from"},
                                                               {"--recursive", "--no-recursive"}};
    for (const auto& group : groups) {
        std::vector<std::string_view> seen;
        for (const auto& option : given) {
            if (std::find(group.begin(), group.end(), option) != group.end() &&
                std::find(seen.begin(), seen.end(), option) == seen.end()) {
                seen.push_back(option);
            }
        }
        if (seen.size() > 1) return fail(std::string(seen[0]) + " and " + std::string(seen[1]) + " exclude each other");
    }
    return {};
}

// One option of `stamp`; `at` moves past its value.
Status take_stamp_option(Arguments& out, const std::vector<std::string>& args, std::size_t& at) {
    const std::string& option = args[at];
    if (option == "--dry-run") {
        out.dry_run = true;
    } else if (option == "--defaults") {
        out.defaults = true;
    } else if (option == "--progress") {
        out.progress = true;
    } else if (const auto flag = flag_options().find(option); flag != flag_options().end()) {
        out.changes.update(flag->second);
    } else {
        const bool is_report = option == "--report";
        const auto setter = value_options().find(option);
        if (!is_report && setter == value_options().end()) return fail("unknown option " + option);
        if (at + 1 >= args.size()) return fail(option + " needs a value");
        const std::string& value = args[++at];
        if (!is_report) return setter->second(out.changes, value);
        if (value.empty()) return fail("--report needs a file");
        out.report = value;
    }
    return {};
}

Status take_option(Arguments& out, const std::vector<std::string>& args, std::size_t& at) {
    const std::string& option = args[at];
    if (option == "--help") {
        out.help_for = out.verb;
        return {};
    }
    if (option == "--json" && (out.verb == Verb::kProbe || out.verb == Verb::kStamp)) {
        out.json = true;
        return {};
    }
    if (out.verb == Verb::kStamp) return take_stamp_option(out, args, at);
    return fail("unknown option " + option);
}

}  // namespace

std::string_view help_text(std::optional<Verb> verb) {
    if (verb == Verb::kStamp) return kStampHelp;
    if (verb == Verb::kProbe) return kProbeHelp;
    if (verb == Verb::kRestore) return kRestoreHelp;
    if (verb == Verb::kWindow) return kWindowHelp;
    return kSynopsis;
}

Result<Arguments> parse_arguments(const std::vector<std::string>& args) {
    Arguments out;
    if (args.empty()) return fail("missing command");
    if (args[0] == "--help") return out;
    if (args[0] == "--version") {
        out.verb = Verb::kVersion;
        return out;
    }
    const auto verb = verb_named(args[0]);
    if (!verb) return fail("unknown command " + args[0]);
    out.verb = *verb;
    std::vector<std::string> given;
    bool only_paths = false;
    for (std::size_t at = 1; at < args.size(); ++at) {
        if (!only_paths && args[at] == "--") {
            only_paths = true;
        } else if (!only_paths && args[at].starts_with("--")) {
            given.push_back(args[at]);
            TRY_VOID(take_option(out, args, at));
        } else {
            out.paths.push_back(args[at]);
        }
    }
    if (out.help_for) return out;
    TRY_VOID(check_exclusive(given));
    if (out.paths.empty() && out.verb != Verb::kWindow) return fail("missing PATH");
    return out;
}

}  // namespace velmora::cli
