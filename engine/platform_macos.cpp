#include "platform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/param.h>
#include <unistd.h>

#include <string>

namespace velmora {

// No range writeback on macOS: F_FULLFSYNC at the end does all of it.
void start_writeback(const File&, std::uint64_t, std::uint64_t) {}

Status flush_parent_folder(const std::string& path) {
    TRY(const std::optional<File> folder, open_parent_folder(path));
    if (!folder) return {};
    return full_flush(*folder);
}

// macOS has no unnamed files: OUTPUT is created exclusively under its name
// and removed again on failure.
Result<std::optional<File>> create_unnamed_beside(const std::string&) { return std::optional<File>{}; }

Status link_unnamed(const File&, const std::string&) { return fail(system_error_text(ENOTSUP)); }

// The path the kernel knows for the descriptor; it follows renames.
std::string reopen_path(const File& file) {
    char path[MAXPATHLEN];
    if (::fcntl(file.get(), F_GETPATH, path) != 0) return {};
    return path;
}

// macOS has no in-kernel range copy between two open files; the caller
// copies through its buffer.
Result<std::optional<std::uint64_t>> kernel_copy(const File&, std::uint64_t, const File&, std::uint64_t,
                                                 std::uint64_t) {
    return std::optional<std::uint64_t>{};
}

}  // namespace velmora
