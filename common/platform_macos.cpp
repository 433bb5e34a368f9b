#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include "flush.h"
#include "spawn_platform.h"

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

// Descriptors named in the file actions survive; every other one is closed.
int limit_child_descriptors(posix_spawn_file_actions_t& /*actions*/, posix_spawnattr_t& attributes) {
    short flags = 0;
    if (int error = ::posix_spawnattr_getflags(&attributes, &flags); error != 0) return error;
    return ::posix_spawnattr_setflags(&attributes, static_cast<short>(flags | POSIX_SPAWN_CLOEXEC_DEFAULT));
}

int inherit_in_child(posix_spawn_file_actions_t& actions, int fd) {
    return ::posix_spawn_file_actions_addinherit_np(&actions, fd);
}

// No pipe2 here; children are spawned with POSIX_SPAWN_CLOEXEC_DEFAULT, so
// the short window before the flags are set leaks nothing into them.
int open_close_on_exec_pipe(int ends[2]) {
    if (::pipe(ends) != 0) return errno;
    for (int i = 0; i < 2; ++i) {
        if (::fcntl(ends[i], F_SETFD, FD_CLOEXEC) != 0) {
            const int error = errno;
            ::close(ends[0]);
            ::close(ends[1]);
            return error;
        }
    }
    return 0;
}

}  // namespace velmora
