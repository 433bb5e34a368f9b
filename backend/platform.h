#pragma once

// Everything that differs between macOS and Linux, behind one small interface.

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include <sys/stat.h>

#include "flush.h"
#include "result.h"

namespace velmora {

// The renames plain rename() cannot do.
// no_replace never replaces: EEXIST when the target exists.
// exchange swaps two names atomically (exFAT and older FAT drivers cannot).
enum class RenameKind { no_replace, exchange };

// A rename of names inside one open folder, so that a folder renamed or
// replaced by a symbolic link meanwhile changes nothing. Answers 0 or the
// error number: EINVAL, ENOSYS or ENOTSUP where the file system cannot.
int rename_at(int folder, const std::string& from, const std::string& to, RenameKind kind);
inline int rename_no_replace_at(int folder, const std::string& from, const std::string& to) {
    return rename_at(folder, from, to, RenameKind::no_replace);
}
inline int exchange_at(int folder, const std::string& a, const std::string& b) {
    return rename_at(folder, a, b, RenameKind::exchange);
}
// True for the error numbers with which a file system says it cannot do
// such a rename at all, as opposed to failing it for these names.
inline bool rename_kind_unsupported(int error) {
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

// A path under which another process (the engine) reaches the folder this
// process holds open as `folder`, also after it was renamed or replaced;
// `opened_as` is the path it was opened by, the answer where the platform
// has no better one.
std::string path_through_descriptor(int folder, const std::string& opened_as);

// A program found on PATH and its arguments.
struct OpenerCommand {
    std::string program;
    std::vector<std::string> arguments;
};
// How this desktop shows something; the fallback runs when the first command
// cannot be started or ends unsuccessfully.
struct OpenerPlan {
    OpenerCommand first;
    std::optional<OpenerCommand> fallback;
};
// Selects the file in the file manager.
OpenerPlan reveal_in_file_manager(const std::string& file);
// Opens the file with the desktop's default application.
OpenerPlan open_with_default_application(const std::string& file);

// A point in time as seconds and nanoseconds since the Unix epoch.
struct FileInstant {
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;
};

// What import compares and records of a file; `birth` only where the file
// system keeps a creation time.
struct FileStatus {
    std::uint64_t size = 0;
    FileInstant modified;
    std::optional<FileInstant> birth;
    // Which file it is: a movie stamped where it lies must still be the same one.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

// Status of `path`, following symbolic links. Fails with the system's error text.
Result<FileStatus> read_file_status(const std::string& path);

// The two dates a published file takes over from its source.
struct FileDates {
    FileInstant accessed;
    FileInstant modified;
};
// The dates in a file status; the platforms name the fields differently.
FileDates file_dates_of(const struct stat& status);

}  // namespace velmora
