#include "flush.h"

#include <cerrno>
#include <fcntl.h>

namespace velmora {

Status flush_folder(const std::string& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return fail(system_error_text(errno));
    return full_flush(fd.get());
}

}  // namespace velmora
