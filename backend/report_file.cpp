#include "report_file.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine_runner.h"
#include "file_system.h"
#include "json_text.h"
#include "output_naming.h"
#include "platform.h"
#include "token.h"

namespace velmora {
namespace {

constexpr std::string_view relative_path_message = "Choose a full path for the report.";

// Removes the hidden file on every outcome; once published the name is gone
// already, or after a hard link it is a second name for the report.
class HiddenFile {
public:
    explicit HiddenFile(std::string path) : path_(std::move(path)) {}
    ~HiddenFile() { ::unlink(path_.c_str()); }
    HiddenFile(const HiddenFile&) = delete;
    HiddenFile& operator=(const HiddenFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

Status fill_exclusively(const std::string& path, std::string_view text) {
    auto created = create_exclusive(path, 0666);
    if (!created) return fail(std::move(created).error());
    UniqueFd fd = std::move(*created);
    if (auto written = write_all(fd.get(), text); !written) return written;
    if (auto flushed = full_flush(fd.get()); !flushed) return flushed;
    return fd.close();
}

// Without replacing: a no-replace rename, or where the file system has
// none, a hard link (which fails on an existing name too).
int publish_without_replacing(const std::string& hidden, const std::string& path) {
    const int renamed = rename_no_replace_at(AT_FDCWD, hidden, path);
    if (!rename_kind_unsupported(renamed)) return renamed;
    return ::link(hidden.c_str(), path.c_str()) == 0 ? 0 : errno;
}

}  // namespace

Status write_report_file(const std::string& path, std::string_view text, bool replace) {
    if (!path.starts_with('/')) return fail(std::string(relative_path_message));
    if (path.find('\0') != std::string::npos) return fail(std::string(nul_path_message));
    const std::string_view name = last_component(path);
    if (name.empty() || name == "." || name == "..") return fail(std::string(relative_path_message));

    const std::string folder = parent_folder(path);
    HiddenFile hidden(join_path(folder, temporary_file_name(make_unique_token(), name)));
    if (auto filled = fill_exclusively(hidden.path(), text); !filled) return filled;
    const int published = replace ? (::rename(hidden.path().c_str(), path.c_str()) == 0 ? 0 : errno)
                                  : publish_without_replacing(hidden.path(), path);
    if (published != 0) return fail(system_error_text(published));
    // Published either way; a lost folder flush only costs durability.
    (void)flush_folder(folder);
    return {};
}

Result<nlohmann::json> save_report(const nlohmann::json& args) {
    auto path = decode_string(member_or_null(args, "path"));
    if (!path) return fail(std::move(path).error());
    auto text = decode_string(member_or_null(args, "text"));
    if (!text) return fail(std::move(text).error());
    const nlohmann::json replace = member_or_null(args, "replace");
    if (auto written = write_report_file(*path, *text, replace.is_boolean() && replace.get<bool>()); !written) {
        return fail(written.error());
    }
    return nlohmann::json();
}

}  // namespace velmora
