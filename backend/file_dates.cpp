#include "file_dates.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>

#include "file_system.h"

namespace velmora {

Result<FileDates> read_file_dates(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return fail(system_error_text(errno));
    return file_dates_of(status);
}

Result<FileDates> read_descriptor_dates(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return fail(system_error_text(errno));
    return file_dates_of(status);
}

Status set_file_dates(int fd, const FileDates& dates) {
    const struct timespec times[2] = {
        {static_cast<time_t>(dates.accessed.seconds), static_cast<long>(dates.accessed.nanoseconds)},
        {static_cast<time_t>(dates.modified.seconds), static_cast<long>(dates.modified.nanoseconds)},
    };
    if (::futimens(fd, times) != 0) return fail(system_error_text(errno));
    return {};
}

Status stamp_source_dates(int folder, const std::string& temporary_name, const FileDates& source_dates) {
    UniqueFd fd(::openat(folder, temporary_name.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return fail(system_error_text(errno));
    TRY_VOID(set_file_dates(fd.get(), source_dates));
    TRY_VOID(full_flush(fd.get()));
    return fd.close();
}

}  // namespace velmora
