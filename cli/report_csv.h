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

// A movie's row: its status and result (an empty object when no batch took it).
std::vector<std::string> report_row(const PlannedMovie& movie, const std::string& status, const Json& result,
                                    const Json& settings, const std::string& local_zone);

// The header, a row per movie, then a row per file the import refused.
std::string report_csv(const std::vector<PlannedMovie>& movies, const Json& not_imported, const Json& outcome,
                       const Json& settings);

}  // namespace velmora::cli
