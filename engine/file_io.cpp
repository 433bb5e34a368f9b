#include "file_io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

File::~File() { close(); }

int File::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void File::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

// Opening without blocking keeps a FIFO (or a device) from holding the
// engine in open() forever; only a regular file is read, in blocking mode.
Result<File> open_read_only(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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

Result<std::uint64_t> file_size_of(const File& file) {
    struct stat status {};
    if (::fstat(file.fd(), &status) != 0) return fail(system_error_text(errno));
    return static_cast<std::uint64_t>(status.st_size);
}

Status read_exact_at(const File& file, std::uint64_t offset, std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t got = ::pread(file.fd(), out.data() + done, out.size() - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return fail(system_error_text(errno));
        }
        if (got == 0) return fail("failed to fill whole buffer");
        done += static_cast<std::size_t>(got);
    }
    return {};
}

namespace {

std::string parent_folder(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

Result<std::optional<File>> open_parent_folder(const std::string& path) {
    int fd;
    do {
        fd = ::open(parent_folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == EACCES) return std::optional<File>{};
        return fail(system_error_text(errno));
    }
    return std::optional<File>{File(fd)};
}

}  // namespace velmora
