#include "output_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"

namespace velmora {

OutputFile::OutputFile(std::string path, File file, bool unnamed)
    : path_(std::move(path)), file_(std::move(file)), unnamed_(unnamed) {
    readable_path_ = unnamed_ ? reopen_path(file_) : path_;
}

Result<OutputFile> OutputFile::create(const std::string& path) {
    // The same refusal an exclusive creation gives, before anything is made.
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0) return fail(system_error_text(EEXIST));
    if (errno != ENOENT) return fail(system_error_text(errno));
    TRY(std::optional<File> unnamed, create_unnamed_beside(path));
    if (!unnamed) return create_exclusive(path);
    return OutputFile(path, std::move(*unnamed), true);
}

Result<OutputFile> OutputFile::create_exclusive(const std::string& path) {
    TRY(File file, velmora::create_exclusive(path, 0666));
    return OutputFile(path, std::move(file), false);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : path_(std::move(other.path_)),
      file_(std::move(other.file_)),
      unnamed_(other.unnamed_),
      readable_path_(std::move(other.readable_path_)),
      keep_(other.keep_) {
    other.keep_ = true;  // the moved-from owner removes nothing
}

OutputFile::~OutputFile() {
    if (keep_ || unnamed_) return;  // an unnamed file goes with its descriptor
    file_.reset();
    ::unlink(path_.c_str());  // a failure to remove is ignored: the first message stands
}

void OutputFile::close() {
    if (!unnamed_) file_.reset();
}

Status OutputFile::publish() {
    if (unnamed_) {
        TRY_VOID(link_unnamed(file_, path_));
        unnamed_ = false;  // from here on removed by path like a named file
    }
    file_.reset();
    TRY_VOID(flush_parent_folder(path_));
    keep_ = true;
    return {};
}

Status OutputFile::write_all_at(std::uint64_t offset, ByteView bytes) {
    return velmora::write_all_at(file_.get(), offset, bytes);
}

}  // namespace velmora
