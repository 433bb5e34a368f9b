#include "platform.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

#include "file_system.h"

namespace velmora {

// fsync on macOS only reaches the drive's cache; F_FULLFSYNC empties it.
Status full_flush(int fd) {
    while (::fcntl(fd, F_FULLFSYNC) == -1) {
        if (errno != EINTR) return fail(system_error_text(errno));
    }
    return {};
}

Status flush_folder(const std::string& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return fail(system_error_text(errno));
    return full_flush(fd.get());
}

}  // namespace velmora
