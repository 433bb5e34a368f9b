#include "platform.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/param.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_system.h"

namespace velmora {

int rename_at(int folder, const std::string& from, const std::string& to, RenameKind kind) {
    const unsigned flags = kind == RenameKind::exchange ? RENAME_SWAP : RENAME_EXCL;
    return ::renameatx_np(folder, from.c_str(), folder, to.c_str(), flags) == 0 ? 0 : errno;
}

// No /proc: the kernel's current path of the held folder follows a rename,
// which leaves only the moment between this call and the engine's open.
std::string path_through_descriptor(int folder, const std::string& opened_as) {
    char path[MAXPATHLEN];
    if (::fcntl(folder, F_GETPATH, path) != 0) return opened_as;
    return path;
}

OpenerPlan reveal_in_file_manager(const std::string& file) {
    return {OpenerCommand{"open", {"-R", file}}, std::nullopt};
}

OpenerPlan open_with_default_application(const std::string& file) {
    return {OpenerCommand{"open", {file}}, std::nullopt};
}

Result<FileStatus> read_file_status(const std::string& path) {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) return fail(system_error_text(errno));
    FileStatus result{static_cast<std::uint64_t>(status.st_size),
                      {status.st_mtimespec.tv_sec, status.st_mtimespec.tv_nsec},
                      std::nullopt,
                      0,
                      0};
    result.birth = FileInstant{status.st_birthtimespec.tv_sec, status.st_birthtimespec.tv_nsec};
    result.device = static_cast<std::uint64_t>(status.st_dev);
    result.inode = status.st_ino;
    return result;
}

FileDates file_dates_of(const struct stat& status) {
    return {{status.st_atimespec.tv_sec, status.st_atimespec.tv_nsec},
            {status.st_mtimespec.tv_sec, status.st_mtimespec.tv_nsec}};
}

}  // namespace velmora
