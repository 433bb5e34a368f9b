#include "publishing.h"

#include <cerrno>
#include <cstdio>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_dates.h"
#include "platform.h"

namespace velmora {
namespace {

// Error numbers with which a file system says it has no hard links at all,
// as opposed to failing one for this file.
bool hard_link_unsupported(int error) {
    return error == EPERM || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP || error == EMLINK;
}

int errno_of(int return_value) { return return_value == 0 ? 0 : errno; }

Result<UniqueFd> create_exclusively(const HeldFolder& folder, const std::string& name) {
    int fd;
    do {
        fd = ::openat(folder.fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return fail(system_error_text(errno));
    return UniqueFd(fd);
}

Status copy_chunks(int from, int to, const CopyGuards& guards) {
    // Before the copy reads the file, which may move its access time.
    TRY(auto dates, read_descriptor_dates(from));
    std::vector<char> buffer(publish_copy_buffer_size);
    while (true) {
        if (guards.cancel.load()) return fail("Cancelled.");
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return fail(system_error_text(errno));
        }
        if (got == 0) break;
        if (auto written = write_all(to, std::string_view(buffer.data(), static_cast<std::size_t>(got))); !written) {
            return written;
        }
    }
    // After the last write, which would move the modification time again.
    TRY_VOID(set_file_dates(to, dates));
    TRY_VOID(full_flush(to));
    TRY_VOID(guards.source_unchanged());
    if (guards.cancel.load()) return fail("Cancelled.");
    return {};
}

Status copy_from(const HeldFolder& folder, const std::string& temporary, int to, const CopyGuards& guards) {
    UniqueFd from(::openat(folder.fd(), temporary.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!from) return fail(system_error_text(errno));
    return copy_chunks(from.get(), to, guards);
}

void remove_name(const HeldFolder& folder, const std::string& name) { ::unlinkat(folder.fd(), name.c_str(), 0); }

// The names one in-place publish works with, all in one held folder.
struct InPlaceNames {
    const HeldFolder& folder;
    const std::string& temporary;
    const std::string& source;
    const std::string& backup;
    const PublishCalls& calls;
};

// A route's first step failed: nullopt (try the next route) when the file
// system lacks that kind of call, else the failure itself.
std::optional<Status> next_route_or_failure(int error, bool unsupported) {
    if (unsupported) return std::nullopt;
    return fail(system_error_text(error));
}

// Backup as a second name of the source, then one atomic rename over the
// source name. Answers nullopt when the file system has no hard links.
std::optional<Status> publish_by_hard_link(const InPlaceNames& n) {
    const int fd = n.folder.fd();
    if (const int linked = n.calls.link(fd, n.source, n.backup); linked != 0) {
        return next_route_or_failure(linked, hard_link_unsupported(linked));
    }
    if (const int replaced = n.calls.rename(fd, n.temporary, n.source); replaced != 0) {
        remove_name(n.folder, n.backup);  // the source never moved: only the extra name goes
        return fail(system_error_text(replaced));
    }
    return Status{};
}

// The temporary file takes the backup name first and is then exchanged with
// the source, so the original never lies under a temporary name that the
// clean-up after a crash would remove. Answers nullopt when the file system
// cannot rename without replacing or cannot exchange.
std::optional<Status> publish_by_exchange(const InPlaceNames& n) {
    const int fd = n.folder.fd();
    if (const int named = n.calls.rename_no_replace(fd, n.temporary, n.backup); named != 0) {
        return next_route_or_failure(named, rename_kind_unsupported(named));
    }
    const int exchanged = n.calls.exchange(fd, n.backup, n.source);
    if (exchanged == 0) return Status{};
    // The source never moved: the written file goes back to its own name for
    // the two renames, or, failing that, away.
    if (rename_kind_unsupported(exchanged) && n.calls.rename(fd, n.backup, n.temporary) == 0) return std::nullopt;
    remove_name(n.folder, n.backup);
    return fail(system_error_text(exchanged));
}

Status publish_by_two_renames(const InPlaceNames& n) {
    const int fd = n.folder.fd();
    if (const int moved_aside = n.calls.rename(fd, n.source, n.backup); moved_aside != 0) {
        return fail(system_error_text(moved_aside));
    }
    const int replaced = n.calls.rename(fd, n.temporary, n.source);
    if (replaced == 0) return {};
    const std::string first = system_error_text(replaced);
    const int restored = n.calls.rename(fd, n.backup, n.source);
    if (restored == 0) return fail(first);
    return fail(first + "; restore failed: " + system_error_text(restored) + ". Original is safe at " +
                n.folder.path_of(n.backup));
}

}  // namespace

Result<HeldFolder> HeldFolder::open(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return fail(system_error_text(errno));
    return HeldFolder(UniqueFd(fd), path);
}

std::string HeldFolder::path_of(std::string_view name) const { return join_path(path_, name); }

std::string HeldFolder::engine_path_of(std::string_view name) const {
    return join_path(path_through_descriptor(fd_.get(), path_), name);
}

void HeldFolder::flush() const { (void)full_flush(fd_.get()); }

PublishCalls system_publish_calls() {
    PublishCalls calls;
    calls.rename_no_replace = [](int folder, const std::string& from, const std::string& to) {
        return rename_no_replace_at(folder, from, to);
    };
    calls.link = [](int folder, const std::string& from, const std::string& to) {
        return errno_of(::linkat(folder, from.c_str(), folder, to.c_str(), 0));
    };
    calls.rename = [](int folder, const std::string& from, const std::string& to) {
        return errno_of(::renameat(folder, from.c_str(), folder, to.c_str()));
    };
    calls.exchange = [](int folder, const std::string& a, const std::string& b) { return exchange_at(folder, a, b); };
    return calls;
}

Status copy_into_new_file(const HeldFolder& folder, const std::string& temporary, const std::string& output,
                          const CopyGuards& guards) {
    TRY(UniqueFd out, create_exclusively(folder, output));
    Status copied = copy_from(folder, temporary, out.get(), guards);
    if (Status closed = out.close(); copied && !closed) copied = closed;
    if (!copied) {
        remove_name(folder, output);
        return copied;
    }
    folder.flush();
    return {};
}

Status publish_new_file(const HeldFolder& folder, const std::string& temporary, const std::string& output,
                        const CopyGuards& guards, const PublishCalls& calls) {
    const int renamed = calls.rename_no_replace(folder.fd(), temporary, output);
    if (renamed == 0) {
        folder.flush();
        return {};
    }
    if (!rename_kind_unsupported(renamed)) return fail(system_error_text(renamed));

    const int linked = calls.link(folder.fd(), temporary, output);
    if (linked == 0) {
        // The temporary name goes with the rest of the movie's clean-up.
        remove_name(folder, temporary);
        folder.flush();
        return {};
    }
    if (!hard_link_unsupported(linked)) return fail(system_error_text(linked));

    return copy_into_new_file(folder, temporary, output, guards);
}

Status publish_in_place(const HeldFolder& folder, const std::string& temporary, const std::string& source,
                        const std::string& backup, const PublishCalls& calls) {
    const InPlaceNames names{folder, temporary, source, backup, calls};
    auto published = publish_by_hard_link(names);
    if (!published) published = publish_by_exchange(names);
    if (!published) published = publish_by_two_renames(names);
    if (*published) folder.flush();
    return *published;
}

}  // namespace velmora
