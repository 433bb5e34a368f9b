#pragma once

// The batch's report as the page saves it (docs/wire.md "The saved report"):
// RFC 4180 text, the same 21 columns in the same order. The page builds its
// own in resources/ui/report.js; tests/data/report_cases.json pins both.

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "batch_plan.h"

namespace velmora::cli {

// One row: fields quoted when they hold a comma, quote, CR or LF, CRLF after.
std::string csv_line(const std::vector<std::string>& fields);

// "HH:MM:SS.mmm", rounded to the millisecond; "" for no duration.
std::string duration_text(double seconds);

// One movie of the list as the report describes it; "phase" is the list's
// ("done", "error", "skipped", "left", "cancelled", "unreached", …).
struct ReportMovie {
    Json record;
    std::string phase;
    std::string timecode;  // the start sent, or that would be sent
    bool typed = false;    // typed for this movie rather than derived
    std::optional<std::string> reel;
    std::string problem;  // why a movie left out has no start
    Json result;          // the batch's result record, null when no batch took it
    Json settings;        // the settings its start was derived under
};

std::vector<std::string> report_row(const ReportMovie& movie, const std::string& local_zone);
// A file the import refused: its name and why.
std::vector<std::string> refused_row(const Json& file);
extern const std::vector<std::string> kReportColumns;

// The header, a row per movie, then a row per file the import refused.
std::string report_csv(const std::vector<PlannedMovie>& movies, const Json& not_imported, const Json& outcome,
                       const Json& settings);

}  // namespace velmora::cli
