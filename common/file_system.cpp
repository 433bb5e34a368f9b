#include "file_system.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "flush.h"
#include "token.h"

namespace velmora {

namespace {

bool is_folder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

Result<HiddenFile> HiddenFile::write(std::string path, std::string_view text, mode_t mode) {
    TRY(UniqueFd fd, create_exclusive(path, mode));
    HiddenFile file(std::move(path));
    TRY_VOID(write_all(fd.get(), text));
    TRY_VOID(full_flush(fd.get()));
    TRY_VOID(fd.close());
    return file;
}

HiddenFile::HiddenFile(HiddenFile&& other) noexcept : path_(std::move(other.path_)), owned_(other.owned_) {
    other.owned_ = false;
}

HiddenFile::~HiddenFile() {
    // Also after a hard link has given the file its real name.
    if (owned_) ::unlink(path_.c_str());
}

Status HiddenFile::rename_to(const std::string& target) {
    if (::rename(path_.c_str(), target.c_str()) != 0) return fail(system_error_text(errno));
    owned_ = false;
    return {};
}

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

Result<std::string> read_file(const std::string& path, std::size_t limit) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return fail(system_error_text(errno));
    std::string text;
    std::array<char, 65536> buffer{};
    while (text.size() < limit) {
        const std::size_t wanted = std::min(buffer.size(), limit - text.size());
        const ssize_t got = ::read(fd.get(), buffer.data(), wanted);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return fail(system_error_text(errno));
        if (got == 0) break;
        text.append(buffer.data(), static_cast<std::size_t>(got));
    }
    return text;
}

Status write_file_atomically(const std::string& path, std::string_view text, mode_t mode) {
    if (last_component(path).empty()) return fail(system_error_text(EINVAL));
    const std::string parent = parent_folder(path);
    TRY_VOID(create_folders(parent));

    TRY(HiddenFile temporary, HiddenFile::write(with_extension(path, make_unique_token() + ".tmp"), text, mode));
    TRY_VOID(temporary.rename_to(path));
    // The rename is done; syncing the folder only makes it survive a power
    // cut, so a failure here must not report the completed write as failed.
    (void)flush_folder(parent.empty() ? "." : parent);
    return {};
}

}  // namespace velmora
