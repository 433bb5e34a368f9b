#include "probe_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "batch_plan.h"
#include "utf8.h"

namespace velmora::cli {

namespace {

using Row = std::vector<std::string>;

std::string duration_text(const Json& record) {
    const auto duration = record.find("duration");
    if (duration == record.end() || !duration->is_number()) return "";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", duration->get<double>());
    return text;
}

std::string video_text(const Json& record) {
    const auto codec = text_member(record, "codec");
    const auto width = record.value("width", Json());
    const auto height = record.value("height", Json());
    if (!width.is_number() || !height.is_number()) return codec;
    return codec + " " + width.dump() + "x" + height.dump();
}

// "+03:00" as minutes east of UTC.
std::optional<int> offset_minutes(const std::string& offset) {
    int hours = 0;
    int minutes = 0;
    if (offset.size() != 6 || std::sscanf(offset.c_str() + 1, "%2d:%2d", &hours, &minutes) != 2) return std::nullopt;
    return (offset[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
}

Row row_of(const Json& record) {
    return {text_member(record, "name"), rate_text(text_member(record, "rate")),
            duration_text(record),       text_member(record, "timecode"),
            text_member(record, "reel"), time_text(record),
            video_text(record)};
}

std::size_t shown_width(const std::string& text) {
    return is_valid_utf8(text) ? count_scalar_values(text) : text.size();
}

std::string padded(const std::string& text, std::size_t width) {
    const auto shown = shown_width(text);
    return text + std::string(width > shown ? width - shown : 0, ' ');
}

}  // namespace

std::string rate_text(const std::string& rate) {
    long long numerator = 0;
    long long denominator = 0;
    if (std::sscanf(rate.c_str(), "%lld/%lld", &numerator, &denominator) != 2 || denominator <= 0) return rate;
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(numerator) / static_cast<double>(denominator));
    std::string out = text;
    while (out.back() == '0') out.pop_back();
    if (out.back() == '.') out.pop_back();
    return out;
}

std::string time_text(const Json& record) {
    const auto recorded = record.find("recordedUnix");
    const auto offset = offset_minutes(text_member(record, "recordedOffset"));
    if (recorded == record.end() || !recorded->is_number() || !offset) return text_member(record, "created");
    const auto seconds = static_cast<std::time_t>(recorded->get<double>()) + static_cast<std::time_t>(*offset) * 60;
    std::tm parts{};
    if (::gmtime_r(&seconds, &parts) == nullptr) return text_member(record, "created");
    char text[48];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S ", &parts);
    return text + text_member(record, "recordedOffset");
}

std::string probe_table(const Json& records) {
    std::vector<Row> rows = {{"Name", "Rate", "Duration", "Timecode", "Reel", "Recorded or created", "Video"}};
    for (const auto& record : records) rows.push_back(row_of(record));
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], shown_width(row[i]));
    }
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? padded(row[i], widths[i] + 2) : row[i];
        out += line + "\n";
    }
    return out;
}

}  // namespace velmora::cli
