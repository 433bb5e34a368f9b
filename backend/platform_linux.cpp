#include "platform.h"

#include <cerrno>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_system.h"

namespace velmora {

Status full_flush(int fd) {
    while (::fsync(fd) != 0) {
        if (errno != EINTR) return fail(system_error_text(errno));
    }
    return {};
}

Status flush_folder(const std::string& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return fail(system_error_text(errno));
    return full_flush(fd.get());
}

Result<FileStatus> read_file_status(const std::string& path) {
    struct statx status;
    if (::statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &status) == 0) {
        FileStatus result{status.stx_size, {status.stx_mtime.tv_sec, status.stx_mtime.tv_nsec}, std::nullopt};
        if (status.stx_mask & STATX_BTIME) result.birth = FileInstant{status.stx_btime.tv_sec, status.stx_btime.tv_nsec};
        return result;
    }
    if (errno != ENOSYS) return fail(system_error_text(errno));
    // Kernels without statx know no birth time either.
    struct stat plain;
    if (::stat(path.c_str(), &plain) != 0) return fail(system_error_text(errno));
    return FileStatus{static_cast<std::uint64_t>(plain.st_size), {plain.st_mtim.tv_sec, plain.st_mtim.tv_nsec}, std::nullopt};
}

int limit_child_descriptors(posix_spawn_file_actions_t& actions, posix_spawnattr_t&) {
    return ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
}

}  // namespace velmora
