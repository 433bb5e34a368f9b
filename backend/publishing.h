#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "file_system.h"
#include "result.h"

namespace velmora {

// A movie's output folder, held open from the creation of its temporary
// file until that file is published or removed. Every name is created,
// published and removed relative to it, so a folder renamed or replaced by a
// symbolic link meanwhile neither strands the temporary file nor redirects
// the output.
class HeldFolder {
public:
    // Opens `path` (symbolic links followed) as a folder.
    static Result<HeldFolder> open(const std::string& path);

    int fd() const { return fd_.get(); }
    // The path it was opened by; results and messages name files by it.
    const std::string& path() const { return path_; }
    std::string path_of(std::string_view name) const;
    // Where the engine, another process, reaches `name` inside this folder.
    std::string engine_path_of(std::string_view name) const;
    // Makes the folder's new names survive a power cut; a failure only
    // costs durability and is not reported.
    void flush() const;

private:
    HeldFolder(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}
    UniqueFd fd_;
    std::string path_;
};

// The file system calls that publishing makes on names inside one folder;
// each answers 0 or the error number. Tests replace them to reach every
// route and every failure path.
struct PublishCalls {
    using Call = std::function<int(int folder, const std::string& from, const std::string& to)>;
    Call rename_no_replace;  // fails with EEXIST instead of replacing
    Call link;               // a second name, never replacing
    Call rename;             // replaces an existing target atomically
    Call exchange;           // swaps the two names atomically
};
PublishCalls system_publish_calls();

// What a copy into a new output file checks once the bytes are flushed, and
// between chunks: the batch's cancel flag and the source-unchanged check.
struct CopyGuards {
    const std::atomic<bool>& cancel;
    std::function<Status()> source_unchanged;
};

inline constexpr std::size_t publish_copy_buffer_size = 1 << 20;

// Moves the verified, flushed temporary file to the output name without ever
// replacing an existing file, then makes the new name durable. Where the file
// system cannot rename without replacing, a hard link stands in; where it
// has no hard links either, the output is created exclusively and filled
// from the temporary file. An existing output fails with the system's
// file-exists text and is left untouched.
Status publish_new_file(const HeldFolder& folder, const std::string& temporary, const std::string& output,
                        const CopyGuards& guards, const PublishCalls& calls = system_publish_calls());

// The last fallback on its own: exclusive creation, a copy in 1 MiB chunks,
// a full flush, then the guards; a partial output is deleted again.
Status copy_into_new_file(const HeldFolder& folder, const std::string& temporary, const std::string& output,
                          const CopyGuards& guards);

// Replaces the source by the temporary file and keeps the previous file
// under the backup name, with the source name present at every moment where
// the file system allows: the backup is a hard link to the source and the
// temporary file is renamed over the source; without hard links the
// temporary file takes the backup name and is then exchanged with the
// source; without either, two renames (source to backup, temporary to
// source), the backup renamed back when the second fails.
Status publish_in_place(const HeldFolder& folder, const std::string& temporary, const std::string& source,
                        const std::string& backup, const PublishCalls& calls = system_publish_calls());

}  // namespace velmora
