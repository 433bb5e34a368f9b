#include "platform.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace velmora {

// Linux has no separate device-cache flush: fsync reaches stable storage.
Status full_flush(const File& file) {
    while (::fsync(file.fd()) != 0) {
        if (errno != EINTR) return fail(system_error_text(errno));
    }
    return {};
}

void start_writeback(const File& file, std::uint64_t offset, std::uint64_t length) {
    ::sync_file_range(file.fd(), static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
}

Status flush_parent_folder(const std::string& path) {
    TRY(const std::optional<File> folder, open_parent_folder(path));
    if (!folder) return {};
    if (::fsync(folder->fd()) != 0 && errno != EINVAL && errno != EROFS) return fail(system_error_text(errno));
    return {};
}

Result<std::optional<std::uint64_t>> kernel_copy(const File& in, std::uint64_t in_offset, const File& out,
                                                 std::uint64_t out_offset, std::uint64_t length) {
    auto in_position = static_cast<loff_t>(in_offset);
    auto out_position = static_cast<loff_t>(out_offset);
    for (;;) {
        const ssize_t copied =
            ::copy_file_range(in.fd(), &in_position, out.fd(), &out_position, static_cast<std::size_t>(length), 0);
        if (copied >= 0) return std::optional<std::uint64_t>{static_cast<std::uint64_t>(copied)};
        switch (errno) {
            case EINTR:
                continue;
            case EXDEV:
            case EINVAL:
            case ENOSYS:
            case EOPNOTSUPP:
                return std::optional<std::uint64_t>{};
            default:
                return fail(system_error_text(errno));
        }
    }
}

}  // namespace velmora
