#include "output_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace velmora {

namespace {

// One write call passes at most this many bytes.
constexpr std::size_t kMaxWrite = INT_MAX;

}  // namespace

Result<OutputFile> OutputFile::create_exclusive(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return fail(system_error_text(errno));
    return OutputFile(path, File(fd));
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : path_(std::move(other.path_)), file_(std::move(other.file_)), keep_(other.keep_) {
    other.keep_ = true;  // the moved-from owner removes nothing
}

OutputFile::~OutputFile() {
    if (keep_) return;
    file_.close();
    ::unlink(path_.c_str());  // a failure to remove is ignored: the first message stands
}

Status OutputFile::write_all_at(std::uint64_t offset, ByteView bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t count = std::min(bytes.size() - done, kMaxWrite);
        const ssize_t written = ::pwrite(file_.fd(), bytes.data() + done, count, static_cast<off_t>(offset + done));
        if (written < 0) {
            if (errno == EINTR) continue;
            return fail(system_error_text(errno));
        }
        if (written == 0) return fail("failed to write whole buffer");
        done += static_cast<std::size_t>(written);
    }
    return {};
}

}  // namespace velmora
