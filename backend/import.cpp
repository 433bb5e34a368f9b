#include "import.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>

#include "backups.h"
#include "engine_runner.h"
#include "names.h"
#include "output_naming.h"
#include "paths.h"
#include "platform.h"
#include "timestamps.h"
#include "token.h"

namespace velmora {

namespace {

constexpr std::string_view unsupported_message = "Supported formats: MOV, MP4, M4V.";
constexpr std::string_view changed_message = "Source changed during import. Import it again.";
constexpr std::string_view not_an_object_message = "The engine's report is not a JSON object.";
constexpr std::string_view not_a_movie_message = "Not a movie file or folder.";

// The state of one "import_movies" call.
struct ImportRun {
    ServiceState& state;
    bool recursive = false;
    nlohmann::json files = nlohmann::json::array();
    nlohmann::json errors = nlohmann::json::array();
    std::set<std::string> seen;  // canonical paths met in this call

    void add_error(std::string_view name, std::string_view message) {
        errors.push_back({{"message", message}, {"name", name}});
    }
};

// The path's components without empty and "." parts, so that "a/b/" and
// "a/./b/." both end in "b".
std::vector<std::string_view> path_components(std::string_view path) {
    std::vector<std::string_view> components;
    while (!path.empty()) {
        std::size_t slash = path.find('/');
        std::string_view part = path.substr(0, slash);
        if (!part.empty() && part != ".") components.push_back(part);
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return components;
}

// The last component; empty when there is none or it is "..".
std::string_view final_name(std::string_view path) {
    auto components = path_components(path);
    if (components.empty() || components.back() == "..") return {};
    return components.back();
}

bool has_movie_extension(std::string_view name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    std::string extension(name.substr(dot + 1));
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension == "mov" || extension == "mp4" || extension == "m4v";
}

// "relativeDir": the folder holding `canonical_file` below the root folder
// of the walk, or empty when it lies elsewhere.
std::string relative_folder(const std::optional<std::string>& root, const std::string& canonical_file) {
    if (!root) return {};
    auto canonical_root = canonical_path(*root);
    if (!canonical_root) return {};
    auto root_parts = path_components(*canonical_root);
    auto file_parts = path_components(canonical_file);
    if (file_parts.empty()) return {};
    file_parts.pop_back();
    if (root_parts.size() > file_parts.size() || !std::equal(root_parts.begin(), root_parts.end(), file_parts.begin()))
        return {};
    std::string relative;
    for (std::size_t i = root_parts.size(); i < file_parts.size(); ++i) {
        if (!relative.empty()) relative.push_back('/');
        relative.append(file_parts[i]);
    }
    return relative;
}

// "card": the name of the folder the user gave, for a movie found in it
// (a card or a camera folder names its clips' reel); null for a file given
// directly. A given "." or ".." is named by the folder it reaches.
nlohmann::json card_name(const std::optional<std::string>& root) {
    if (!root) return nullptr;
    if (auto given = final_name(*root); !given.empty()) return given;
    auto canonical = canonical_path(*root);
    if (!canonical) return nullptr;
    if (auto reached = final_name(*canonical); !reached.empty()) return reached;
    return nullptr;  // the file system's root has no name
}

// "created" from the report's "createdUnix" when it is a JSON integer that
// names a representable instant.
std::optional<std::string> metadata_creation(const nlohmann::json& report) {
    auto member = report.find(report_key::kCreatedUnix);
    if (member == report.end() || !member->is_number_integer()) return std::nullopt;
    std::int64_t seconds = 0;
    if (member->is_number_unsigned()) {
        auto value = member->get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        seconds = static_cast<std::int64_t>(value);
    } else {
        seconds = member->get<std::int64_t>();
    }
    return format_timestamp(seconds);
}

nlohmann::json file_creation(const FileStatus& status) {
    if (!status.birth) return nullptr;
    auto text = format_timestamp(status.birth->seconds, status.birth->nanoseconds);
    if (!text) return nullptr;
    return *text;
}

void import_path(ImportRun& run, const std::string& path, const std::optional<std::string>& root);

struct KnownMovie {
    std::string id;
    MovieRecord movie;
};

// A file this backend imported before, found by its canonical path: it keeps
// its id, so importing a folder again lists each movie once.
std::optional<KnownMovie> known_movie(ServiceState& state, const std::string& canonical) {
    std::lock_guard lock(state.movie_store_mutex);
    const auto found = std::find_if(state.movie_store.begin(), state.movie_store.end(),
                                    [&](const auto& entry) { return entry.second.source_path == canonical; });
    if (found == state.movie_store.end()) return std::nullopt;
    return KnownMovie{found->first, found->second};
}

// How the movie was given this time: the latest import says its name, folder
// and card.
void place_record(MovieRecord& movie, const std::string& id, std::string_view name,
                  const std::optional<std::string>& root) {
    movie.relative_dir = relative_folder(root, movie.source_path);
    movie.record["id"] = id;
    movie.record["name"] = name;
    movie.record["relativeDir"] = movie.relative_dir;
    movie.record["card"] = card_name(root);
}

void keep_in_store(ImportRun& run, const std::string& id, MovieRecord movie) {
    run.files.push_back(movie.record);
    std::lock_guard lock(run.state.movie_store_mutex);
    run.state.movie_store.insert_or_assign(id, std::move(movie));
}

void import_file(ImportRun& run, const std::string& path, std::string_view name,
                 const std::optional<std::string>& root) {
    if (!has_movie_extension(name)) return run.add_error(name, unsupported_message);
    auto canonical = canonical_path(path);
    if (!canonical) return run.add_error(name, canonical.error());
    if (!run.seen.insert(*canonical).second) return;

    auto before = read_file_status(*canonical);
    if (!before) return run.add_error(name, before.error());
    auto known = known_movie(run.state, *canonical);
    if (known && known->movie.unchanged_in(*before)) {
        place_record(known->movie, known->id, name, root);
        // Backups may have come or gone since the last import.
        describe_backups(known->movie.record, *canonical);
        return keep_in_store(run, known->id, std::move(known->movie));
    }
    // A changed file is probed again; its record replaces the old one.
    auto movie = probed_movie(run.state, *canonical, *before);
    if (!movie) return run.add_error(name, movie.error());
    const std::string id = known ? known->id : make_unique_token();
    place_record(*movie, id, name, root);
    describe_backups(movie->record, *canonical);
    keep_in_store(run, id, std::move(*movie));
}

struct FolderEntry {
    std::string name;
    unsigned char type;  // d_type; DT_UNKNOWN when the listing does not tell
};

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

Result<std::vector<FolderEntry>> list_folder(const std::string& path) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
    if (!dir) return fail(system_error_text(errno));
    std::vector<FolderEntry> entries;
    for (;;) {
        errno = 0;
        dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0) return fail(system_error_text(errno));
            break;
        }
        std::string_view entry_name = entry->d_name;
        if (entry_name == "." || entry_name == "..") continue;
        entries.push_back({std::string(entry_name), entry->d_type});
    }
    // Byte order, so the result does not depend on the file system.
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return entries;
}

Result<unsigned char> entry_type(const std::string& folder, const FolderEntry& entry) {
    if (entry.type != DT_UNKNOWN) return entry.type;
    struct stat status;
    if (::lstat(join_path(folder, entry.name).c_str(), &status) != 0) return fail(system_error_text(errno));
    if (S_ISREG(status.st_mode)) return static_cast<unsigned char>(DT_REG);
    if (S_ISDIR(status.st_mode)) return static_cast<unsigned char>(DT_DIR);
    return static_cast<unsigned char>(DT_LNK);  // anything else is passed over alike
}

void import_folder(ImportRun& run, const std::string& path, std::string_view name,
                   const std::optional<std::string>& root) {
    auto entries = list_folder(path);
    if (!entries) return run.add_error(name, entries.error());
    // Everything below a given folder reports its place relative to that folder.
    const std::optional<std::string> walk_root = root ? root : std::optional<std::string>(path);
    for (const auto& entry : *entries) {
        auto type = entry_type(path, entry);
        if (!type) return run.add_error(name, type.error());
        if (*type == DT_REG || (*type == DT_DIR && run.recursive))
            import_path(run, join_path(path, entry.name), walk_root);
    }
}

// A path the user dropped or picked is what they meant: a symbolic link
// there is followed (to the end of its chain) to the file or folder it names.
// Links met inside a folder are not.
Result<struct stat> given_path_status(const std::string& path, const struct stat& own) {
    if (!S_ISLNK(own.st_mode)) return own;
    struct stat target;
    if (::stat(path.c_str(), &target) != 0) return fail(system_error_text(errno));
    return target;
}

void import_path(ImportRun& run, const std::string& path, const std::optional<std::string>& root) {
    const std::string_view name = final_name(path);
    if (name.starts_with("._") || name == ".DS_Store" || is_own_working_file(name)) return;
    for (auto component : path_components(path))
        if (component == "__MACOSX") return;

    // The system would read only up to the NUL: a different file.
    if (path.find('\0') != std::string::npos) return run.add_error(name, nul_path_message);
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) return run.add_error(name, system_error_text(errno));
    if (!root) {
        auto followed = given_path_status(path, status);
        if (!followed) return run.add_error(name, followed.error());
        status = *followed;
    }
    if (S_ISREG(status.st_mode)) return import_file(run, path, name, root);
    if (S_ISDIR(status.st_mode)) return import_folder(run, path, name, root);
    if (!root) return run.add_error(name, not_a_movie_message);
    // Inside a folder, symbolic links, devices, sockets and pipes are passed over.
}

}  // namespace

namespace {

// The record of the file at `canonical` from its report, `before` read
// before the engine read it and `after` once it had.
Result<MovieRecord> record_from_report(nlohmann::json report, const std::string& canonical, const FileStatus& before,
                                       const FileStatus& after) {
    if (!report.is_object()) return fail(std::string(not_an_object_message));
    nlohmann::json record = std::move(report);
    if (auto created = metadata_creation(record)) {
        record["created"] = *created;
        record["creationOrigin"] = "Media metadata";
    } else {
        record["created"] = file_creation(after);
        record["creationOrigin"] = "File creation date";
    }
    record["modified"] = format_timestamp(before.modified.seconds, before.modified.nanoseconds).value_or("");
    record["path"] = canonical;
    record["size"] = before.size;
    MovieRecord movie;
    movie.source_path = canonical;
    movie.size = before.size;
    movie.modified_seconds = before.modified.seconds;
    movie.modified_nanoseconds = before.modified.nanoseconds;
    movie.device = before.device;
    movie.inode = before.inode;
    movie.record = std::move(record);
    return movie;
}

// Given as `earlier` was: same id, name, folder and card; backups looked up again.
MovieRecord given_as(MovieRecord movie, const MovieRecord& earlier) {
    movie.relative_dir = earlier.relative_dir;
    for (const char* key : {"id", "name", "relativeDir", "card"}) {
        movie.record[key] = earlier.record.value(key, nlohmann::json());
    }
    describe_backups(movie.record, movie.source_path);
    return movie;
}

}  // namespace

Result<MovieRecord> probed_movie(const ServiceState& state, const std::string& canonical, const FileStatus& before) {
    TRY(auto report, probe_movie(state.engine_path, canonical, state.probe_time_limit));
    TRY(auto after, read_file_status(canonical));
    if (snapshot_of(before) != snapshot_of(after)) return fail(std::string(changed_message));
    return record_from_report(std::move(report), canonical, before, after);
}

Result<MovieRecord> reported_again(nlohmann::json report, const MovieRecord& earlier, const FileStatus& status) {
    TRY(MovieRecord movie, record_from_report(std::move(report), earlier.source_path, status, status));
    return given_as(std::move(movie), earlier);
}

Result<MovieRecord> probed_again(const ServiceState& state, const MovieRecord& earlier) {
    TRY(const FileStatus status, read_file_status(earlier.source_path));
    TRY(MovieRecord movie, probed_movie(state, earlier.source_path, status));
    return given_as(std::move(movie), earlier);
}

Result<nlohmann::json> import_movies(ServiceState& state, const std::vector<std::string>& paths,
                                     const nlohmann::json& args) {
    bool recursive = false;
    if (args.is_object()) {
        auto member = args.find("recursive");
        if (member != args.end() && member->is_boolean()) recursive = member->get<bool>();
    }

    // Held for the whole import: no batch is admitted meanwhile, and a second
    // import waits for this one.
    std::lock_guard gate(state.batch_gate);
    if (state.busy.load()) return fail(std::string(busy_message));

    ImportRun run{state, recursive, nlohmann::json::array(), nlohmann::json::array(), {}};
    for (const auto& path : paths) import_path(run, path, std::nullopt);
    return nlohmann::json{{"errors", std::move(run.errors)}, {"files", std::move(run.files)}};
}

}  // namespace velmora
