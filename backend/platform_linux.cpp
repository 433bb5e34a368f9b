#include "platform.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "file_system.h"

namespace velmora {

int rename_at(int folder, const std::string& from, const std::string& to, RenameKind kind) {
    const unsigned flags = kind == RenameKind::exchange ? RENAME_EXCHANGE : RENAME_NOREPLACE;
    return ::renameat2(folder, from.c_str(), folder, to.c_str(), flags) == 0 ? 0 : errno;
}

// Our own /proc entry, so the engine child resolves the folder through the
// backend's descriptor; without /proc the path it was opened by must do.
std::string path_through_descriptor(int folder, const std::string& opened_as) {
    std::string through = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(folder);
    struct stat status {};
    if (::stat(through.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return opened_as;
    return through;
}

namespace {

// "file://" and the path with every byte outside the unreserved set and "/"
// percent-encoded, so the URI also needs no quoting inside a GVariant string.
std::string file_uri(std::string_view path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            uri.push_back(c);
        } else {
            uri.push_back('%');
            uri.push_back(hex[byte >> 4]);
            uri.push_back(hex[byte & 0x0F]);
        }
    }
    return uri;
}

}  // namespace

// The freedesktop file-manager interface selects the file; a desktop without
// it still gets the folder opened. Never "open": on Debian that can be openvt.
OpenerPlan reveal_in_file_manager(const std::string& file) {
    OpenerCommand show_items{"gdbus",
                             {"call", "--session", "--dest", "org.freedesktop.FileManager1", "--object-path",
                              "/org/freedesktop/FileManager1", "--method", "org.freedesktop.FileManager1.ShowItems",
                              "['" + file_uri(file) + "']", ""}};
    std::string folder = parent_folder(file);
    if (folder.empty()) folder = ".";
    return {std::move(show_items), OpenerCommand{"xdg-open", {std::move(folder)}}};
}

OpenerPlan open_with_default_application(const std::string& file) {
    return {OpenerCommand{"xdg-open", {file}}, std::nullopt};
}

Result<FileStatus> read_file_status(const std::string& path) {
    struct statx status;
    if (::statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &status) == 0) {
        FileStatus result{status.stx_size, {status.stx_mtime.tv_sec, status.stx_mtime.tv_nsec}, std::nullopt, 0, 0};
        if (status.stx_mask & STATX_BTIME)
            result.birth = FileInstant{status.stx_btime.tv_sec, status.stx_btime.tv_nsec};
        result.device = makedev(status.stx_dev_major, status.stx_dev_minor);
        result.inode = status.stx_ino;
        return result;
    }
    if (errno != ENOSYS) return fail(system_error_text(errno));
    // Kernels without statx know no birth time either.
    struct stat plain;
    if (::stat(path.c_str(), &plain) != 0) return fail(system_error_text(errno));
    FileStatus result{
        static_cast<std::uint64_t>(plain.st_size), {plain.st_mtim.tv_sec, plain.st_mtim.tv_nsec}, std::nullopt, 0, 0};
    result.device = plain.st_dev;
    result.inode = plain.st_ino;
    return result;
}

FileDates file_dates_of(const struct stat& status) {
    return {{status.st_atim.tv_sec, status.st_atim.tv_nsec}, {status.st_mtim.tv_sec, status.st_mtim.tv_nsec}};
}

}  // namespace velmora
