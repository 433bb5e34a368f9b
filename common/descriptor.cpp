#include "descriptor.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace velmora {

namespace {

// One write call passes at most this many bytes.
constexpr std::size_t kMaxWrite = INT_MAX;

// Repeats `step(done)` (a read or write call that moves bytes from `done`
// on) until `total` bytes have moved; a call that moves none ends it with
// `short_message`.
template <typename Step>
Status move_exactly(std::size_t total, const char* short_message, Step step) {
    std::size_t done = 0;
    while (done < total) {
        const ssize_t moved = step(done);
        if (moved < 0) {
            if (errno == EINTR) continue;
            return fail(system_error_text(errno));
        }
        if (moved == 0) return fail(short_message);
        done += static_cast<std::size_t>(moved);
    }
    return {};
}

}  // namespace

void UniqueFd::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

Status UniqueFd::close() {
    const int fd = std::exchange(fd_, -1);
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) return fail(system_error_text(errno));
    return {};
}

Status write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return fail(system_error_text(errno));
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

Status write_all_at(int fd, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    return move_exactly(bytes.size(), "failed to write whole buffer", [&](std::size_t done) {
        const std::size_t count = std::min(bytes.size() - done, kMaxWrite);
        return ::pwrite(fd, bytes.data() + done, count, static_cast<off_t>(offset + done));
    });
}

Status read_exact_at(int fd, std::uint64_t offset, std::span<std::uint8_t> out) {
    return move_exactly(out.size(), "failed to fill whole buffer", [&](std::size_t done) {
        return ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
    });
}

Result<UniqueFd> create_exclusive(const std::string& path, mode_t mode) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return fail(system_error_text(errno));
    return UniqueFd(fd);
}

}  // namespace velmora
