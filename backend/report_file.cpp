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
    TRY(HiddenFile hidden,
        HiddenFile::write(join_path(folder, temporary_file_name(make_unique_token(), name)), text, 0666));
    if (replace) {
        TRY_VOID(hidden.rename_to(path));
    } else if (const int published = publish_without_replacing(hidden.path(), path); published != 0) {
        return fail(system_error_text(published));
    }
    // Published either way; a lost folder flush only costs durability.
    (void)flush_folder(folder);
    return {};
}

Result<nlohmann::json> save_report(const nlohmann::json& args) {
    TRY(auto path, decode_string(member_or_null(args, "path")));
    TRY(auto text, decode_string(member_or_null(args, "text")));
    const nlohmann::json replace = member_or_null(args, "replace");
    TRY_VOID(write_report_file(path, text, replace.is_boolean() && replace.get<bool>()));
    return nlohmann::json();
}

}  // namespace velmora
