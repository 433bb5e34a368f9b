#pragma once

// Published movies keep their source's access and modification times, so a
// start taken from "modification time - duration" and date-sorted bins still
// work after stamping. The birth time cannot be set everywhere and is left.

#include <string>

#include "platform.h"
#include "result.h"

namespace velmora {

// Of `path` (symbolic links followed) and of an open file; the system's
// error text on failure.
Result<FileDates> read_file_dates(const std::string& path);
Result<FileDates> read_descriptor_dates(int fd);

// Sets both dates of an open file, to the nanosecond.
Status set_file_dates(int fd, const FileDates& dates);

// Gives the finished temporary file the source's dates, read before the
// engine's read could move the access time, and flushes it again so the
// dates are as durable as the bytes before it is published.
// The file is named relative to its held output folder.
Status stamp_source_dates(int folder, const std::string& temporary_name, const FileDates& source_dates);

}  // namespace velmora
