#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "file_io.h"
#include "flush.h"
#include "result.h"

namespace velmora {

// Starts writing the given range of the file to the device without waiting,
// so that the final flush finds little left to do. Advisory: never fails.
void start_writeback(const File& file, std::uint64_t offset, std::uint64_t length);

// Makes a new directory entry durable: flushes the folder that holds `path`.
Status flush_parent_folder(const std::string& path);

// Creates a file without a name, for writing (0666 before the umask), in the
// folder that is to hold `path`, so that nothing appears under `path` until
// link_unnamed. Answers nullopt where the platform or the file system cannot
// make such a file; the caller then creates `path` itself.
Result<std::optional<File>> create_unnamed_beside(const std::string& path);

// Gives a file from create_unnamed_beside the name `path`; fails with the
// system's file-exists text when something appeared there meanwhile.
Status link_unnamed(const File& file, const std::string& path);

// A path that opens `file` again, also when it has no name.
std::string reopen_path(const File& file);

// Copies up to `length` bytes from `in` at `in_offset` to `out` at
// `out_offset` inside the kernel. Answers the count copied (0 at the end of
// the input), or nullopt when the kernel or file system cannot copy between
// these files, in which case the caller copies through a buffer.
Result<std::optional<std::uint64_t>> kernel_copy(const File& in, std::uint64_t in_offset, const File& out,
                                                 std::uint64_t out_offset, std::uint64_t length);

}  // namespace velmora
