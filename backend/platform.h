#pragma once

// Everything that differs between macOS and Linux, behind one small interface.

#include <optional>
#include <string>
#include <cstdint>
#include <spawn.h>
#include <vector>

#include "result.h"

namespace velmora {

// Forces a file's data to stable storage with the strongest flush the
// platform has (F_FULLFSYNC on macOS, fsync on Linux); retried while
// interrupted. Fails with the system's error text.
Status full_flush(int fd);

// Makes a rename or creation inside `folder` survive a power cut.
Status flush_folder(const std::string& folder);

// Renames on names inside one open folder, so that a folder renamed or
// replaced by a symbolic link meanwhile changes nothing. Each answers 0 or
// the error number.
// Never replaces: EEXIST when the target exists; EINVAL, ENOSYS or ENOTSUP
// where the file system cannot.
int rename_no_replace_at(int folder, const std::string& from, const std::string& to);
// Swaps two names atomically; EINVAL, ENOSYS or ENOTSUP where the file
// system cannot (exFAT and older FAT drivers among them).
int exchange_at(int folder, const std::string& a, const std::string& b);

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
};

// Status of `path`, following symbolic links. Fails with the system's error text.
Result<FileStatus> read_file_status(const std::string& path);

// Makes a spawned child start with only the descriptors its file actions
// set up (0, 1 and 2), whatever else this process holds open. Returns 0 or
// an error number.
int limit_child_descriptors(posix_spawn_file_actions_t& actions, posix_spawnattr_t& attributes);
// Keeps one of this process's descriptors open, unchanged, in a child whose
// descriptors limit_child_descriptors limits. Returns 0 or an error number.
int inherit_in_child(posix_spawn_file_actions_t& actions, int fd);

// A pipe whose two ends are close-on-exec: ends[0] reads, ends[1] writes.
// Returns 0 or an error number.
int open_close_on_exec_pipe(int ends[2]);

}  // namespace velmora
