// velmora-engine: probe a movie, write a copy with a start timecode, or stamp
// one in place and undo that.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "in_place.h"
#include "movie.h"
#include "names.h"
#include "probe_report.h"
#include "reel_name.h"
#include "rewriter.h"
#include "utf8.h"

namespace {

constexpr const char* kUsage =
    "Usage: velmora-engine probe INPUT | write INPUT OUTPUT HH:MM:SS:FF | stamp INPUT HH:MM:SS:FF | unstamp INPUT | "
    "--version";
constexpr const char* kVersion = "velmora-engine 0.5.0 (Velmora's own container engine; no external media framework)";

int report_failure(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
    return 1;
}

int print_line(const std::string& line) {
    if (std::fprintf(stdout, "%s\n", line.c_str()) < 0 || std::fflush(stdout) != 0) return 1;
    return 0;
}

int run_probe(const std::string& input) {
    auto movie = velmora::open_movie(input);
    if (!movie) return report_failure(movie.error());
    const std::string report = velmora::probe_report(*movie);
    const int status = print_line(report);
    *movie = velmora::Movie{};  // closes the input
    return status;
}

// The checks both write and stamp make before any file is touched.
velmora::Status check_timecode_and_reel(const std::string& timecode, const std::optional<std::string>& reel) {
    if (!velmora::is_valid_utf8(timecode)) return velmora::fail("Invalid timecode string");
    if (reel && !velmora::is_valid_reel_name(*reel)) return velmora::fail("Invalid reel name");
    return {};
}

int report_status(const velmora::Status& status) { return status ? 0 : report_failure(status.error()); }

int run_write(const std::string& input, const std::string& output, const std::string& timecode,
              const std::optional<std::string>& reel) {
    if (const velmora::Status checked = check_timecode_and_reel(timecode, reel); !checked)
        return report_failure(checked.error());
    return report_status(velmora::write_movie(input, output, timecode, reel));
}

int run_stamp(const std::string& input, const std::string& timecode, const std::optional<std::string>& reel) {
    if (const velmora::Status checked = check_timecode_and_reel(timecode, reel); !checked)
        return report_failure(checked.error());
    return report_status(velmora::stamp_movie(input, timecode, reel, velmora::standard_stream_events().report));
}

std::optional<std::string> argument(const std::vector<std::string>& args, std::size_t index) {
    return index < args.size() ? std::optional(args[index]) : std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    if (args.size() < 2 || !velmora::is_valid_utf8(args[1])) return report_failure(kUsage);
    const std::string& command = args[1];
    if (command == velmora::engine_command::kVersion) return print_line(kVersion);
    if (command == velmora::engine_command::kProbe && args.size() == 3) return run_probe(args[2]);
    if (command == velmora::engine_command::kWrite && (args.size() == 5 || args.size() == 6)) {
        return run_write(args[2], args[3], args[4], argument(args, 5));
    }
    if (command == velmora::engine_command::kStamp && (args.size() == 4 || args.size() == 5))
        return run_stamp(args[2], args[3], argument(args, 4));
    if (command == velmora::engine_command::kUnstamp && args.size() == 3)
        return report_status(velmora::unstamp_movie(args[2]));
    return report_failure(kUsage);
}
