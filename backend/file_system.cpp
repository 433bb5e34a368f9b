#include "file_system.h"

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

void UniqueFd::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

Status UniqueFd::close() {
    const int fd = std::exchange(fd_, -1);
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) return fail(system_error_text(errno));
    return {};
}

Status write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return fail(system_error_text(errno));
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

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

std::string join_path(std::string_view base, std::string_view relative) {
    if (base.empty()) return std::string(relative);
    if (base.back() == '/') return std::string(base) + std::string(relative);
    return std::string(base) + "/" + std::string(relative);
}

std::string parent_folder(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string_view last_component(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string with_extension(std::string_view path, std::string_view extension) {
    const std::string_view name = last_component(path);
    const auto dot = name.rfind('.');
    std::string result(path);
    if (dot != std::string_view::npos && dot != 0) {
        result.resize(path.size() - name.size() + dot);
    }
    return result + "." + std::string(extension);
}

}  // namespace velmora
