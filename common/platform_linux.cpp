#include <cerrno>
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

}  // namespace velmora
