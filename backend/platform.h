#pragma once

// Everything that differs between macOS and Linux, behind one small interface.

#include <string>

#include "result.h"

namespace velmora {

// Forces a file's data to stable storage with the strongest flush the
// platform has (F_FULLFSYNC on macOS, fsync on Linux); retried while
// interrupted. Fails with the system's error text.
Status full_flush(int fd);

// Makes a rename or creation inside `folder` survive a power cut.
Status flush_folder(const std::string& folder);

}  // namespace velmora
