#include "file_system.h"

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

bool is_folder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

Status create_folders(const std::string& folder) {
    if (folder.empty() || is_folder(folder)) return {};
    if (::mkdir(folder.c_str(), 0777) == 0) return {};
    int error = errno;
    if (error == ENOENT) {
        const std::string parent = parent_folder(folder);
        if (parent != folder) {
            if (auto made = create_folders(parent); !made) return made;
            if (::mkdir(folder.c_str(), 0777) == 0) return {};
            error = errno;
        }
    }
    // Someone else may have made it meanwhile.
    if (is_folder(folder)) return {};
    return fail(system_error_text(error));
}

}  // namespace velmora
