#pragma once

// Hidden temporary files that a backend killed mid-movie left behind. They
// carry the process id of the backend that made them in their token, so a
// later batch can tell an orphan from the file of a movie still running.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace velmora {

// The process id in a temporary file name ".velmora-PID-NANOS-COUNT.NAME",
// or nullopt for any other name (backups, the user's own files).
std::optional<pid_t> temporary_file_owner(std::string_view name);

// True while a process with this id exists (also one of another user).
bool process_is_running(pid_t pid);

// Removes the regular files in `folder` whose names are our temporary names
// and whose process no longer runs; answers how many went. A folder that
// cannot be opened or listed is left alone.
std::size_t remove_leftover_temporaries(const std::string& folder);

}  // namespace velmora
