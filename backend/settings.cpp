#include "settings.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <string_view>

#include <sys/stat.h>

#include "file_system.h"
#include "json_text.h"
#include "output_naming.h"
#include "reel_name.h"
#include "utf8.h"

namespace velmora {

namespace {

constexpr std::string_view kSettingsFile = "settings.json";
constexpr std::size_t kTimecodeFieldLimit = 11;  // characters
constexpr std::size_t kDestinationLimit = 4096;  // bytes
// The page's Movie column, in rem: the list stays usable at either end.
constexpr double kColumnWidthMin = 7;
constexpr double kColumnWidthMax = 60;

bool is_two_digits(std::string_view text) {
    return text.size() == 2 && text[0] >= '0' && text[0] <= '9' && text[1] >= '0' && text[1] <= '9';
}

// "+hh:mm" or "-hh:mm" from "-12:00" to "+14:00": the zones in use, for a
// shoot abroad.
bool is_fixed_offset(std::string_view text) {
    if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || text[3] != ':') return false;
    const std::string_view hours = text.substr(1, 2);
    const std::string_view minutes = text.substr(4, 2);
    if (!is_two_digits(hours) || !is_two_digits(minutes) || minutes > "59") return false;
    const std::string_view limit = text[0] == '+' ? "14" : "12";
    return hours < limit || (hours == limit && minutes == "00");
}

struct Choice {
    const char* key;
    std::initializer_list<std::string_view> accepted;
    bool (*also_accepted)(std::string_view) = nullptr;
};

const std::array<Choice, 6> kChoices{{
    {"source", {"embedded", "creation", "modification", "custom"}},
    {"mode", {"auto", "non-drop", "drop"}},
    {"direction", {"add", "subtract"}},
    {"timezone", {"camera", "local", "utc"}, is_fixed_offset},
    {"reelSource", {"none", "card", "folder", "custom"}},
    {"existing", {"skip", "number"}},
}};

constexpr std::array<const char*, 7> kSwitches{"copy",   "append",    "retain",    "rename",
                                               "number", "recursive", "continuous"};

struct BoundedText {
    const char* key;
    std::size_t max_characters;
};

constexpr std::array<BoundedText, 3> kBoundedTexts{{
    {"start", kTimecodeFieldLimit},
    {"offset", kTimecodeFieldLimit},
    {"prefix", max_prefix_characters},
}};

bool is_accepted_choice(const nlohmann::json& member, const Choice& choice) {
    if (!member.is_string()) return false;
    const auto& text = member.get_ref<const std::string&>();
    if (std::find(choice.accepted.begin(), choice.accepted.end(), text) != choice.accepted.end()) return true;
    return choice.also_accepted != nullptr && choice.also_accepted(text);
}

// Empty is "no reel"; anything else must be a name the engine writes.
bool is_accepted_reel(const nlohmann::json& member) {
    if (!member.is_string()) return false;
    const auto& text = member.get_ref<const std::string&>();
    return text.empty() || is_valid_reel_name(text);
}

bool is_accepted_destination(const nlohmann::json& member) {
    if (!member.is_string()) return false;
    const auto& text = member.get_ref<const std::string&>();
    return !text.empty() && text.size() <= kDestinationLimit && text.front() == '/';
}

// The page's own: a width it dragged the Movie column to, or null for the
// column's share of the list.
bool is_accepted_column_width(const nlohmann::json& member) {
    if (!member.is_number()) return false;
    const double width = member.get<double>();
    return width >= kColumnWidthMin && width <= kColumnWidthMax;
}

}  // namespace

nlohmann::json default_settings() {
    return {
        {"source", "embedded"}, {"start", "01:00:00:00"}, {"mode", "auto"},  {"offset", "00:00:00:00"},
        {"direction", "add"},   {"timezone", "camera"},   {"copy", true},    {"destination", nullptr},
        {"retain", true},       {"rename", false},        {"prefix", "TC_"}, {"number", false},
        {"recursive", true},    {"reelSource", "none"},   {"reel", ""},      {"continuous", false},
        {"suffix", "_TC"},      {"existing", "skip"},     {"append", false}, {"movieColumnWidth", nullptr},
    };
}

nlohmann::json normalize_settings(const nlohmann::json& value) {
    nlohmann::json settings = default_settings();
    if (!value.is_object()) return settings;
    const auto member = [&](const char* key) { return member_or_null(value, key); };

    for (const Choice& choice : kChoices) {
        if (auto given = member(choice.key); is_accepted_choice(given, choice)) settings[choice.key] = given;
    }
    for (const char* key : kSwitches) {
        if (auto given = member(key); given.is_boolean()) settings[key] = given;
    }
    for (const BoundedText& text : kBoundedTexts) {
        auto given = member(text.key);
        if (given.is_string() && count_scalar_values(given.get_ref<const std::string&>()) <= text.max_characters) {
            settings[text.key] = given;
        }
    }
    if (auto given = member("destination"); is_accepted_destination(given)) settings["destination"] = given;
    if (auto given = member("reel"); is_accepted_reel(given)) settings["reel"] = given;
    if (auto given = member("movieColumnWidth"); is_accepted_column_width(given)) settings["movieColumnWidth"] = given;
    if (auto given = member("suffix"); given.is_string() && is_valid_suffix(given.get_ref<const std::string&>())) {
        settings["suffix"] = given;
    }
    return settings;
}

std::optional<nlohmann::json> read_json_file(const std::string& path) {
    const auto text = read_file(path);
    if (!text || !is_valid_utf8(*text)) return std::nullopt;
    auto parsed = parse_json(*text);
    if (!parsed) return std::nullopt;
    return std::move(*parsed);
}

Status write_json_file_atomically(const std::string& path, const nlohmann::json& value) {
    if (last_component(path).empty() || path == "/") return fail("Invalid settings path");
    // Private: the settings name the user's folders.
    return write_file_atomically(path, to_pretty_json(value), 0600);
}

nlohmann::json read_stored_settings(const std::string& data_dir) {
    const std::string path = data_dir + "/" + std::string(kSettingsFile);
    std::optional<nlohmann::json> value = read_json_file(path);
    if (!value) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0) {
            value = nlohmann::json();
        } else {
            value = read_json_file(with_extension(path, "previous")).value_or(nlohmann::json());
        }
    }
    return normalize_settings(*value);
}

Result<nlohmann::json> load_settings(ServiceState& state) {
    std::lock_guard lock(state.settings_mutex);
    return state.settings;
}

Result<nlohmann::json> save_settings(ServiceState& state, const nlohmann::json& value) {
    std::lock_guard lock(state.settings_mutex);
    nlohmann::json normalised = normalize_settings(value);
    TRY_VOID(write_json_file_atomically(state.data_dir + "/" + std::string(kSettingsFile), normalised));
    state.settings = std::move(normalised);
    return nlohmann::json();
}

}  // namespace velmora
