#include "platform.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "paths.h"

namespace velmora {

void start_writeback(const File& file, std::uint64_t offset, std::uint64_t length) {
    ::sync_file_range(file.get(), static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
}

Status flush_parent_folder(const std::string& path) {
    TRY(const std::optional<File> folder, open_parent_folder(path));
    if (!folder) return {};
    if (::fsync(folder->get()) != 0 && errno != EINVAL && errno != EROFS) return fail(system_error_text(errno));
    return {};
}

Result<std::optional<File>> create_unnamed_beside(const std::string& path) {
    int fd;
    do {
        fd = ::open(folder_of(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) return std::optional<File>{File(fd)};
    // File systems without unnamed files answer EOPNOTSUPP; kernels that do
    // not know the flag see a folder opened for writing.
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return std::optional<File>{};
    return fail(system_error_text(errno));
}

std::string reopen_path(const File& file) { return "/proc/self/fd/" + std::to_string(file.get()); }

// Linking by descriptor (AT_EMPTY_PATH) needs a privilege; the /proc link of
// the descriptor does not.
Status link_unnamed(const File& file, const std::string& path) {
    if (::linkat(AT_FDCWD, reopen_path(file).c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return fail(system_error_text(errno));
    return {};
}

Result<std::optional<std::uint64_t>> kernel_copy(const File& in, std::uint64_t in_offset, const File& out,
                                                 std::uint64_t out_offset, std::uint64_t length) {
    auto in_position = static_cast<loff_t>(in_offset);
    auto out_position = static_cast<loff_t>(out_offset);
    for (;;) {
        const ssize_t copied =
            ::copy_file_range(in.get(), &in_position, out.get(), &out_position, static_cast<std::size_t>(length), 0);
        if (copied >= 0) return std::optional<std::uint64_t>{static_cast<std::uint64_t>(copied)};
        switch (errno) {
            case EINTR: continue;
            case EXDEV:
            case EINVAL:
            case ENOSYS:
            case EOPNOTSUPP: return std::optional<std::uint64_t>{};
            default: return fail(system_error_text(errno));
        }
    }
}

}  // namespace velmora
