#include "platform.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace velmora {

namespace {

// F_FULLFSYNC asks the drive to empty its cache; file systems that do not
// support it (some network and FAT volumes) get the nearest call, fsync.
Status flush_descriptor(int fd) {
    if (::fcntl(fd, F_FULLFSYNC) == 0) return {};
    if (errno != ENOTSUP && errno != EINVAL && errno != ENOTTY) return fail(system_error_text(errno));
    while (::fsync(fd) != 0) {
        if (errno != EINTR) return fail(system_error_text(errno));
    }
    return {};
}

}  // namespace

Status full_flush(const File& file) { return flush_descriptor(file.fd()); }

// No range writeback on macOS: F_FULLFSYNC at the end does all of it.
void start_writeback(const File&, std::uint64_t, std::uint64_t) {}

Status flush_parent_folder(const std::string& path) {
    TRY(const std::optional<File> folder, open_parent_folder(path));
    if (!folder) return {};
    return flush_descriptor(folder->fd());
}

// macOS has no in-kernel range copy between two open files; the caller
// copies through its buffer.
Result<std::optional<std::uint64_t>> kernel_copy(const File&, std::uint64_t, const File&, std::uint64_t,
                                                 std::uint64_t) {
    return std::optional<std::uint64_t>{};
}

}  // namespace velmora
