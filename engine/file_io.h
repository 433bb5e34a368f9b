#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "descriptor.h"
#include "result.h"

namespace velmora {

// The engine's open files: one owned descriptor each.
using File = UniqueFd;

// Paths are raw bytes: std::string holds them unconverted.
// Opens a regular file for reading; anything else (a folder, a FIFO, a
// device) fails with "Input is not a regular file" without blocking.
Result<File> open_read_only(const std::string& path);
// The same for a file changed in place.
Result<File> open_read_write(const std::string& path);
Result<std::uint64_t> file_size_of(const File& file);
// Reads exactly out.size() bytes at the offset; a short file gives
// "failed to fill whole buffer".
inline Status read_exact_at(const File& file, std::uint64_t offset, std::span<std::uint8_t> out) {
    return read_exact_at(file.get(), offset, out);
}

// Opens the folder that holds `path`, for flushing its entries. A folder we
// may write into but not read answers nullopt: the file itself is already on
// stable storage then.
Result<std::optional<File>> open_parent_folder(const std::string& path);

}  // namespace velmora
