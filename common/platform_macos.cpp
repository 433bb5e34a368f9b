#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "flush.h"

namespace velmora {

// fsync on macOS only reaches the drive's cache; F_FULLFSYNC empties it.
// File systems that do not support it (some network and FAT volumes) get
// the nearest call, fsync.
Status full_flush(int fd) {
    while (::fcntl(fd, F_FULLFSYNC) == -1) {
        if (errno == EINTR) continue;
        if (errno != ENOTSUP && errno != EINVAL && errno != ENOTTY) return fail(system_error_text(errno));
        while (::fsync(fd) != 0) {
            if (errno != EINTR) return fail(system_error_text(errno));
        }
        return {};
    }
    return {};
}

}  // namespace velmora
