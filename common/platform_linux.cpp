#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include "flush.h"
#include "spawn_platform.h"

namespace velmora {

// Linux has no separate device-cache flush: fsync reaches stable storage.
Status full_flush(int fd) {
    while (::fsync(fd) != 0) {
        if (errno != EINTR) return fail(system_error_text(errno));
    }
    return {};
}

int limit_child_descriptors(posix_spawn_file_actions_t& actions, posix_spawnattr_t& /*attributes*/) {
    return ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
}

// Closing from 3 upwards already leaves the standard streams alone.
int inherit_in_child(posix_spawn_file_actions_t& /*actions*/, int fd) { return fd >= 0 && fd <= 2 ? 0 : EINVAL; }

int open_close_on_exec_pipe(int ends[2]) { return ::pipe2(ends, O_CLOEXEC) == 0 ? 0 : errno; }

}  // namespace velmora
