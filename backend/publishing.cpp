#include "publishing.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_dates.h"
#include "file_system.h"
#include "platform.h"

namespace velmora {
namespace {

// Error numbers with which a file system says it cannot do the operation at
// all, as opposed to failing it for this file.
bool no_replace_rename_unsupported(int error) {
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

bool hard_link_unsupported(int error) {
    return error == EPERM || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP || error == EMLINK;
}

int errno_of(int return_value) { return return_value == 0 ? 0 : errno; }

// Once the new name exists the movie is published; a folder flush that
// fails then cannot be undone and only costs durability, so it is not
// reported as the movie's failure.
void make_name_durable(const std::string& path) { (void)flush_folder(parent_folder(path)); }

Result<UniqueFd> create_exclusively(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return fail(system_error_text(errno));
    return UniqueFd(fd);
}

Status copy_chunks(int from, int to, const CopyGuards& guards) {
    // Before the copy reads the file, which may move its access time.
    auto dates = read_descriptor_dates(from);
    if (!dates) return fail(dates.error());
    std::vector<char> buffer(publish_copy_buffer_size);
    while (true) {
        if (guards.cancel.load()) return fail("Cancelled.");
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return fail(system_error_text(errno));
        }
        if (got == 0) break;
        if (auto written = write_all(to, std::string_view(buffer.data(), static_cast<std::size_t>(got)));
            !written) {
            return written;
        }
    }
    // After the last write, which would move the modification time again.
    if (auto dated = set_file_dates(to, *dates); !dated) return dated;
    if (auto flushed = full_flush(to); !flushed) return flushed;
    if (auto unchanged = guards.source_unchanged(); !unchanged) return unchanged;
    if (guards.cancel.load()) return fail("Cancelled.");
    return {};
}

Status copy_from(const std::string& temporary, int to, const CopyGuards& guards) {
    UniqueFd from(::open(temporary.c_str(), O_RDONLY | O_CLOEXEC));
    if (!from) return fail(system_error_text(errno));
    return copy_chunks(from.get(), to, guards);
}

}  // namespace

PublishCalls system_publish_calls() {
    PublishCalls calls;
    calls.rename_no_replace = [](const std::string& from, const std::string& to) {
        return rename_no_replace(from, to);
    };
    calls.link = [](const std::string& from, const std::string& to) {
        return errno_of(::link(from.c_str(), to.c_str()));
    };
    calls.rename = [](const std::string& from, const std::string& to) {
        return errno_of(::rename(from.c_str(), to.c_str()));
    };
    return calls;
}

Status copy_into_new_file(const std::string& temporary, const std::string& output, const CopyGuards& guards) {
    auto created = create_exclusively(output);
    if (!created) return fail(created.error());
    UniqueFd out = std::move(*created);
    Status copied = copy_from(temporary, out.get(), guards);
    if (Status closed = out.close(); copied && !closed) copied = closed;
    if (!copied) {
        ::unlink(output.c_str());
        return copied;
    }
    make_name_durable(output);
    return {};
}

Status publish_new_file(const std::string& temporary, const std::string& output, const CopyGuards& guards,
                        const PublishCalls& calls) {
    const int renamed = calls.rename_no_replace(temporary, output);
    if (renamed == 0) {
        make_name_durable(output);
        return {};
    }
    if (!no_replace_rename_unsupported(renamed)) return fail(system_error_text(renamed));

    const int linked = calls.link(temporary, output);
    if (linked == 0) {
        // The temporary name goes with the rest of the movie's clean-up.
        ::unlink(temporary.c_str());
        make_name_durable(output);
        return {};
    }
    if (!hard_link_unsupported(linked)) return fail(system_error_text(linked));

    return copy_into_new_file(temporary, output, guards);
}

Status publish_in_place(const std::string& temporary, const std::string& source, const std::string& backup,
                        const PublishCalls& calls) {
    if (const int moved_aside = calls.rename(source, backup); moved_aside != 0) {
        return fail(system_error_text(moved_aside));
    }
    const int replaced = calls.rename(temporary, source);
    if (replaced == 0) {
        make_name_durable(source);
        return {};
    }
    const std::string first = system_error_text(replaced);
    const int restored = calls.rename(backup, source);
    if (restored == 0) return fail(first);
    return fail(first + "; restore failed: " + system_error_text(restored) + ". Original is safe at " + backup);
}

}  // namespace velmora
