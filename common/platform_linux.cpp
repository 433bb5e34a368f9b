#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "flush.h"

namespace velmora {

// Linux has no separate device-cache flush: fsync reaches stable storage.
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

}  // namespace velmora
