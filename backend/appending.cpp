#include "appending.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "backups.h"
#include "descriptor.h"
#include "engine_runner.h"
#include "file_dates.h"
#include "import.h"
#include "json_text.h"
#include "names.h"
#include "processing.h"

namespace velmora {
namespace {

bool says_appended(const nlohmann::json& report) {
    if (!report.is_object()) return false;
    const auto appended = report.find(report_key::kAppended);
    return appended != report.end() && appended->is_boolean() && appended->get<bool>();
}

Status verified_stamp(const nlohmann::json& report, const std::string& timecode, const MovieRecord& movie,
                      const std::string& reel) {
    TRY_VOID(verify_written_report(report, timecode, movie.record, reel));
    if (!says_appended(report)) return fail(std::string(timecode_verification_message));
    return {};
}

// The stamp is taken off again; the movie then fails with `message`, unless
// the engine could not give the original back: then its words count.
Status undone(const ServiceState& state, const MovieRecord& movie, const std::string& message) {
    TRY_VOID(unstamp_in_place(state.engine_path, movie.source_path));
    return fail(message);
}

// The same file as imported (another one under the name is not ours to
// touch) with the modification time the stamp kept.
Status still_the_imported_file(const struct stat& status, const MovieRecord& movie) {
    const FileInstant modified = file_dates_of(status).modified;
    const bool same_file = static_cast<std::uint64_t>(status.st_dev) == movie.device &&
                           static_cast<std::uint64_t>(status.st_ino) == movie.inode;
    if (!same_file || modified.seconds != movie.modified_seconds ||
        modified.nanoseconds != movie.modified_nanoseconds) {
        return fail(std::string(source_changed_message));
    }
    return {};
}

// After the stamp: the imported file, its imported bytes followed by only
// what a stamp appends.
Status check_stamped_file(const ServiceState& state, const MovieRecord& movie) {
    const UniqueFd fd(::open(movie.source_path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return fail(system_error_text(errno));
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) return fail(system_error_text(errno));
    TRY_VOID(still_the_imported_file(status, movie));
    if (!check_stamped_tail(fd.get(), static_cast<std::uint64_t>(status.st_size), movie.size)) {
        return undone(state, movie, std::string(stream_verification_message));
    }
    // This read moved the access time the engine kept; it goes back. The
    // stamp is proven either way, so a refusal only costs that time.
    (void)set_file_dates(fd.get(), file_dates_of(status));
    return {};
}

}  // namespace

bool is_appended(const MovieRecord& movie) { return says_appended(movie.record); }

Result<MovieRecord> append_timecode(const ServiceState& state, const MovieRecord& movie, const std::string& timecode,
                                    const std::string& reel) {
    TRY(const std::string printed, stamp_in_place(state.engine_path, movie.source_path, timecode, reel));
    auto parsed = parse_json(printed);
    if (!parsed) return fail(undone(state, movie, parsed.error()).error());
    const nlohmann::json& report = *parsed;
    if (auto verified = verified_stamp(report, timecode, movie, reel); !verified) {
        return fail(undone(state, movie, verified.error()).error());
    }
    TRY_VOID(check_stamped_file(state, movie));
    // The stamp's own report describes the file: reading it again would move
    // the access time the engine kept.
    auto status = read_file_status(movie.source_path);
    if (!status) return fail(undone(state, movie, status.error()).error());
    auto stamped = reported_again(report, movie, *status);
    if (!stamped) return fail(undone(state, movie, stamped.error()).error());
    return stamped;
}

}  // namespace velmora
