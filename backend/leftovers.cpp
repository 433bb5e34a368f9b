#include "leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <limits>
#include <memory>
#include <vector>

namespace velmora {
namespace {

constexpr std::string_view temporary_prefix = ".velmora-";

// One run of decimal digits at the front of `text`, consumed.
std::optional<std::string_view> take_digits(std::string_view& text) {
    std::size_t count = 0;
    while (count < text.size() && text[count] >= '0' && text[count] <= '9') ++count;
    if (count == 0) return std::nullopt;
    const std::string_view digits = text.substr(0, count);
    text.remove_prefix(count);
    return digits;
}

bool take(std::string_view& text, char expected) {
    if (text.empty() || text.front() != expected) return false;
    text.remove_prefix(1);
    return true;
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

std::optional<pid_t> temporary_file_owner(std::string_view name) {
    if (!name.starts_with(temporary_prefix)) return std::nullopt;
    name.remove_prefix(temporary_prefix.size());
    const auto pid_digits = take_digits(name);
    if (!pid_digits || !take(name, '-') || !take_digits(name) || !take(name, '-') || !take_digits(name) ||
        !take(name, '.')) {
        return std::nullopt;
    }
    long long pid = 0;
    const auto [end, error] = std::from_chars(pid_digits->data(), pid_digits->data() + pid_digits->size(), pid);
    if (error != std::errc() || pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return std::nullopt;
    return static_cast<pid_t>(pid);
}

bool process_is_running(pid_t pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

std::size_t remove_leftover_temporaries(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
    if (!dir) {
        ::close(fd);
        return 0;
    }
    std::vector<std::string> orphans;
    while (const dirent* entry = ::readdir(dir.get())) {
        const auto owner = temporary_file_owner(entry->d_name);
        if (owner && !process_is_running(*owner)) orphans.emplace_back(entry->d_name);
    }
    std::size_t removed = 0;
    for (const std::string& name : orphans) {
        struct stat status {};
        if (::fstatat(fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode)) continue;
        if (::unlinkat(fd, name.c_str(), 0) == 0) ++removed;
    }
    return removed;
}

}  // namespace velmora
