#include "file_io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "paths.h"

namespace velmora {

namespace {

// Opening without blocking keeps a FIFO (or a device) from holding the
// engine in open() forever; only a regular file is used, in blocking mode.
Result<File> open_regular(const std::string& path, int access) {
    int fd;
    do {
        fd = ::open(path.c_str(), access | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return fail(system_error_text(errno));
    File file(fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0) return fail(system_error_text(errno));
    if (!S_ISREG(status.st_mode)) return fail("Input is not a regular file");
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return fail(system_error_text(errno));
    return file;
}

}  // namespace

Result<File> open_read_only(const std::string& path) { return open_regular(path, O_RDONLY); }

Result<File> open_read_write(const std::string& path) { return open_regular(path, O_RDWR); }

Result<std::uint64_t> file_size_of(const File& file) {
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) return fail(system_error_text(errno));
    return static_cast<std::uint64_t>(status.st_size);
}

Result<std::optional<File>> open_parent_folder(const std::string& path) {
    int fd;
    do {
        fd = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == EACCES) return std::optional<File>{};
        return fail(system_error_text(errno));
    }
    return std::optional<File>{File(fd)};
}

}  // namespace velmora
