#pragma once

// Making written data and new directory entries survive a power cut.

#include <string>

#include "descriptor.h"
#include "result.h"

namespace velmora {

// Forces a file's data and metadata to stable storage with the strongest
// flush the platform has (F_FULLFSYNC on macOS, fsync on Linux); retried
// while interrupted. Fails with the system's error text.
Status full_flush(int fd);
inline Status full_flush(const UniqueFd& fd) { return full_flush(fd.get()); }

// Makes a rename or creation inside `folder` survive a power cut.
Status flush_folder(const std::string& folder);

}  // namespace velmora
