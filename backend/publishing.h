#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "result.h"

namespace velmora {

// The file system calls that publishing makes; each answers 0 or the error
// number. Tests replace them to reach the fallbacks and the failure paths.
struct PublishCalls {
    using Call = std::function<int(const std::string& from, const std::string& to)>;
    Call rename_no_replace;  // fails with EEXIST instead of replacing
    Call link;
    Call rename;
};
PublishCalls system_publish_calls();

// What a copy into a new output file checks once the bytes are flushed, and
// between chunks: the batch's cancel flag and the source-unchanged check.
struct CopyGuards {
    const std::atomic<bool>& cancel;
    std::function<Status()> source_unchanged;
};

inline constexpr std::size_t publish_copy_buffer_size = 1 << 20;

// Moves the verified, flushed temporary file to the output path without ever
// replacing an existing file, then makes the new name durable. Where the file
// system cannot rename without replacing, a hard link stands in; where it
// has no hard links either, the output is created exclusively and filled
// from the temporary file. An existing output fails with the system's
// file-exists text and is left untouched.
Status publish_new_file(const std::string& temporary, const std::string& output, const CopyGuards& guards,
                        const PublishCalls& calls = system_publish_calls());

// The last fallback on its own: exclusive creation, a copy in 1 MiB chunks,
// a full flush, then the guards; a partial output is deleted again.
Status copy_into_new_file(const std::string& temporary, const std::string& output, const CopyGuards& guards);

// Replaces the source by the temporary file, keeping the previous file at
// the backup path. When the second rename fails the backup is renamed back;
// the message then says what happened and, if that failed too, where the
// original is.
Status publish_in_place(const std::string& temporary, const std::string& source, const std::string& backup,
                        const PublishCalls& calls = system_publish_calls());

}  // namespace velmora
