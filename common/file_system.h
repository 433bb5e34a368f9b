#pragma once

// Folder creation and whole-file replacement; descriptors and paths come
// from their own headers.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include <sys/types.h>

#include "descriptor.h"
#include "paths.h"
#include "result.h"

namespace velmora {

// Creates `folder` and its missing ancestors (0777 before the umask); an
// existing folder is fine, anything else in the way fails.
Status create_folders(const std::string& folder);

// The first `limit` bytes of the file `path` (all of it by default), read
// to its end; fails with the system's error text.
Result<std::string> read_file(const std::string& path, std::size_t limit = SIZE_MAX);

// A new file under a hidden name beside its target, holding the whole text
// and flushed to disk; removed when dropped unless renamed into place.
class HiddenFile {
public:
    // Creates `path` exclusively with `mode`, writes `text`, flushes and
    // closes it; fails with the system's error text (the file then removed).
    static Result<HiddenFile> write(std::string path, std::string_view text, mode_t mode);

    HiddenFile(HiddenFile&& other) noexcept;
    HiddenFile& operator=(HiddenFile&&) = delete;
    HiddenFile(const HiddenFile&) = delete;
    HiddenFile& operator=(const HiddenFile&) = delete;
    ~HiddenFile();

    const std::string& path() const { return path_; }
    // Renames it over `target`; it is no longer removed then.
    Status rename_to(const std::string& target);

private:
    explicit HiddenFile(std::string path) : path_(std::move(path)) {}

    std::string path_;
    bool owned_ = true;
};

// Replaces the file `path` with `text` so that a reader (also after a power
// cut) finds either the old file or the whole new one: the folders are
// created, the text goes to a temporary created exclusively with `mode`
// beside the target (the target's name with its extension replaced by
// "PID-NANOS-COUNT.tmp"), is flushed and renamed over the target. The
// temporary is removed on every failure. A failing flush of the folder after
// the rename is ignored, as the file is in place by then. Fails with the
// system's error text.
Status write_file_atomically(const std::string& path, std::string_view text, mode_t mode);

}  // namespace velmora
