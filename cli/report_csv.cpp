#include "report_csv.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <numeric>

#include "start_derivation_json.h"
#include "utf8.h"
#include "wall_clock.h"

namespace velmora::cli {

// clang-format off
const std::vector<std::string> kReportColumns = {
    "Status", "Message", "Start timecode", "End timecode", "Duration", "Duration (frames)", "Rate", "Rate (fps)",
    "Drop-frame", "Reel", "Start source", "Time used", "Time origin", "Time zone", "Offset", "Existing timecode",
    "Source path", "Size (bytes)", "Modified", "Output path", "Backup path"};
// clang-format on

namespace {

constexpr const char* kNoReason = "The engine stopped without giving a reason.";

struct Rate {
    long long numerator = 0;
    long long denominator = 0;
};

std::optional<Rate> rate_of(const std::string& text) {
    Rate rate;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%lld/%lld%c", &rate.numerator, &rate.denominator, &rest) != 2) return std::nullopt;
    if (rate.numerator <= 0 || rate.denominator <= 0) return std::nullopt;
    return rate;
}

std::string reduced_rate(const std::string& text) {
    auto rate = rate_of(text);
    if (!rate) return text;
    const auto divisor = std::gcd(rate->numerator, rate->denominator);
    return std::to_string(rate->numerator / divisor) + "/" + std::to_string(rate->denominator / divisor);
}

std::string fps_text(const std::string& text) {
    auto rate = rate_of(text);
    if (!rate) return "";
    char out[32];
    std::snprintf(out, sizeof out, "%.3f",
                  static_cast<double>(rate->numerator) / static_cast<double>(rate->denominator));
    std::string fps = out;
    while (fps.back() == '0') fps.pop_back();
    if (fps.back() == '.') fps.pop_back();
    return fps;
}

// The frames the movie presents, at its measured rate when it has one.
std::string frame_count(const Json& record) {
    auto rate = rate_of(text_member(record, "measuredRate"));
    if (!rate) rate = rate_of(text_member(record, "rate"));
    const auto duration = record.find("duration");
    if (!rate || duration == record.end() || !duration->is_number() || duration->get<double>() < 0) return "";
    const double frames =
        duration->get<double>() * static_cast<double>(rate->numerator) / static_cast<double>(rate->denominator);
    return std::to_string(std::max(1LL, std::llround(frames)));
}

std::string zone_text(const Json& settings, const Json& record, const std::string& local_zone) {
    const auto zone = text_member(settings, "timezone");
    if (zone == "utc") return "UTC";
    if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-')) return "UTC" + zone;
    if (zone == "camera" && record.contains("recordedOffset")) return "UTC" + text_member(record, "recordedOffset");
    return local_zone.empty() ? "local" : local_zone;
}

std::string start_source(const std::string& source) {
    return source == "embedded" || source == "creation" || source == "modification" || source == "custom" ? source : "";
}

std::string size_text(const Json& record) {
    const auto size = record.find("size");
    if (size == record.end() || !size->is_number()) return "";
    return size->is_number_float() ? Json(size->get<double>()).dump() : size->dump();
}

std::string first_original(const Json& record) {
    for (const auto& backup : record.value("backups", Json::array())) {
        if (backup.value("original", false) && backup.contains("path")) return text_member(backup, "path");
    }
    return "";
}

std::string message_of(const std::string& status, const ReportMovie& movie) {
    if (status == "failed") {
        const auto error = text_member(movie.result, "error");
        return error.find_first_not_of(" \t\r\n") == std::string::npos ? kNoReason : error;
    }
    if (status == "skipped") return text_member(movie.result, "message");
    if (status == "cancelled") return text_member(movie.result, "error");
    if (status == "left out") return movie.problem;
    return "";
}

// The list's phases as the report names them.
std::string status_of(const ReportMovie& movie) {
    if (text_member(movie.result, "state") == "restored") return "restored";
    static const std::map<std::string, std::string> named = {{"done", "done"},
                                                             {"error", "failed"},
                                                             {"skipped", "skipped"},
                                                             {"left", "left out"},
                                                             {"cancelled", "cancelled"}};
    const auto found = named.find(movie.phase);
    return found == named.end() ? "not processed" : found->second;
}

// The phase a movie of this run ended in.
std::string phase_of(const PlannedMovie& movie, const Json& result) {
    if (!movie.start) return "left";
    const auto state = text_member(result, "state");
    if (state == "error") return text_member(result, "error") == "Cancelled." ? "cancelled" : "error";
    return state.empty() ? "unreached" : state;
}

// The computer's zone by its name, as the page's Intl names it: TZ, else
// where /etc/localtime points below zoneinfo/.
std::string local_zone_name() {
    if (const char* zone = std::getenv("TZ"); zone != nullptr && *zone != '\0') return zone[0] == ':' ? zone + 1 : zone;
    std::error_code error;
    const auto target = std::filesystem::read_symlink("/etc/localtime", error).string();
    const auto at = target.find("zoneinfo/");
    return error || at == std::string::npos ? std::string() : target.substr(at + 9);
}

std::string iso_text(double ms) {
    const auto whole = static_cast<long long>(std::floor(ms));
    const auto seconds = static_cast<std::time_t>(whole >= 0 ? whole / 1000 : (whole - 999) / 1000);
    std::tm parts{};
    if (::gmtime_r(&seconds, &parts) == nullptr) return "";
    char out[64];
    std::strftime(out, sizeof out, "%Y-%m-%dT%H:%M:%S", &parts);
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03lldZ", ((whole % 1000) + 1000) % 1000);
    return std::string(out) + millis;
}

// The instant a time-of-day start was read from, as the page finds it.
std::string time_used(const Json& record, const std::string& source) {
    const auto facts = movie_facts_from_json(record);
    if (source == "creation") {
        if (facts.recorded_unix) return iso_text(*facts.recorded_unix * 1000);
        const auto created = facts.created ? parse_instant(*facts.created) : std::nullopt;
        return created ? iso_text(*created) : "";
    }
    if (source != "modification" || !facts.modified || !facts.duration || *facts.duration < 0) return "";
    const auto modified = parse_instant(*facts.modified);
    if (!modified) return "";
    return iso_text(std::floor(*modified - std::round(*facts.duration * 1e6) / 1e3));
}

std::string time_origin(const std::string& source, const std::string& used, const StartResult& started) {
    if (used.empty()) return "";
    if (source == "modification") return "modification time minus duration";
    return started && started->basis ? *started->basis : "";
}

}  // namespace

std::string csv_line(const std::vector<std::string>& fields) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out += ',';
        const auto text = decode_utf8_lossy(fields[i]);
        if (text.find_first_of(",\"\r\n") == std::string::npos) {
            out += text;
            continue;
        }
        out += '"';
        for (const char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
        out += '"';
    }
    return out + "\r\n";
}

std::string duration_text(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return "";
    const auto ms = std::llround(seconds * 1000);
    char out[48];
    std::snprintf(out, sizeof out, "%02lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                  ms % 1000);
    return out;
}

std::vector<std::string> report_row(const ReportMovie& movie, const std::string& local_zone) {
    const Json& record = movie.record;
    const Json& settings = movie.settings;
    const auto status = status_of(movie);
    const auto timecode = status == "left out" ? std::string() : movie.timecode;
    const auto facts = movie_facts_from_json(record);
    const auto end = timecode.empty() ? Result<std::string>(fail("")) : end_label(facts, timecode);
    const auto source = text_member(settings, "source");
    const auto used = movie.typed ? std::string() : time_used(record, source);
    const bool published = status == "done" || status == "skipped" || status == "restored";
    return {status,
            message_of(status, movie),
            timecode,
            end ? *end : "",
            facts.duration ? duration_text(*facts.duration) : "",
            frame_count(record),
            reduced_rate(text_member(record, "rate")),
            fps_text(text_member(record, "rate")),
            timecode.size() == 11 ? (timecode[8] == ';' ? "yes" : "no") : "",
            movie.reel.value_or(""),
            movie.typed ? "typed override" : start_source(source),
            used,
            time_origin(source, used, derive_start(facts, start_settings_from_json(settings))),
            zone_text(settings, record, local_zone),
            (text_member(settings, "direction") == "subtract" ? "-" : "+") + text_member(settings, "offset"),
            text_member(record, "timecode"),
            text_member(record, "path"),
            size_text(record),
            text_member(record, "modified"),
            published ? text_member(movie.result, "output") : "",
            movie.result.is_object() ? text_member(movie.result, "backup") : first_original(record)};
}

std::vector<std::string> refused_row(const Json& file) {
    std::vector<std::string> fields(kReportColumns.size());
    fields[0] = "not imported";
    fields[1] = text_member(file, "message");
    fields[16] = text_member(file, "name");
    return fields;
}

std::string report_csv(const std::vector<PlannedMovie>& movies, const Json& not_imported, const Json& outcome,
                       const Json& settings) {
    std::string out = csv_line(kReportColumns);
    const auto results = outcome.value("results", Json::array());
    const auto zone = local_zone_name();
    for (const auto& planned : movies) {
        Json result;
        for (const auto& candidate : results) {
            if (text_member(candidate, "id") == text_member(planned.record, "id")) result = candidate;
        }
        const ReportMovie movie{planned.record,
                                phase_of(planned, result),
                                planned.start.value_or(""),
                                false,
                                planned.reel,
                                planned.problem,
                                result,
                                settings};
        out += csv_line(report_row(movie, zone));
    }
    for (const auto& file : not_imported) out += csv_line(refused_row(file));
    return out;
}

}  // namespace velmora::cli
