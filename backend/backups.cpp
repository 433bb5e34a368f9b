#include "backups.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "descriptor.h"
#include "flush.h"
#include "json_text.h"
#include "output_naming.h"
#include "paths.h"
#include "top_level_atoms.h"

namespace velmora {

namespace {

constexpr std::string_view backup_marker = ".velmora-backup-";
// Reads go through buffers of this size, and the quick check compares this
// much at each end of the shared bytes.
constexpr std::uint64_t chunk_bytes = std::uint64_t{1} << 20;
constexpr std::uint64_t stamped_mdat_size = 12;
// The appended `mdat` and at least a `moov` header.
constexpr std::uint64_t min_added_bytes = stamped_mdat_size + 8;

// Three decimal numbers joined by "-", as make_unique_token writes them.
bool is_token(std::string_view text) {
    for (int number = 1;; ++number) {
        const auto digits = static_cast<std::size_t>(
            std::find_if(text.begin(), text.end(), [](char c) { return c < '0' || c > '9'; }) - text.begin());
        if (digits == 0) return false;
        text.remove_prefix(digits);
        if (text.empty()) return number == 3;
        if (number == 3 || text.front() != '-') return false;
        text.remove_prefix(1);
    }
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

std::size_t name_limit_of(DIR* dir) {
    const long limit = ::fpathconf(::dirfd(dir), _PC_NAME_MAX);
    return limit > 0 ? static_cast<std::size_t>(limit) : default_name_limit;
}

struct OpenFile {
    UniqueFd fd;
    std::uint64_t size = 0;
};

Result<OpenFile> open_for_reading(const std::string& path, int extra_flags) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | extra_flags));
    if (!fd) return fail(system_error_text(errno));
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) return fail(system_error_text(errno));
    return OpenFile{std::move(fd), static_cast<std::uint64_t>(status.st_size)};
}

// The backup's one `moov`; a top level that cannot be walked holds none.
Result<AtomSpan> only_movie_atom(const OpenFile& backup) {
    auto atoms = list_top_level_atoms(backup.fd.get(), backup.size);
    if (!atoms) return fail(std::string(not_one_movie_atom_message));
    std::optional<AtomSpan> found;
    for (const AtomSpan& atom : *atoms) {
        if (atom.atom_type != FourCC("moov")) continue;
        if (found) return fail(std::string(not_one_movie_atom_message));
        found = atom;
    }
    if (!found) return fail(std::string(not_one_movie_atom_message));
    return *found;
}

struct ByteRange {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
};

// What the byte comparison covers, in order and without overlaps, leaving
// out the movie atom's type, which is compared on its own.
std::vector<ByteRange> compared_ranges(std::uint64_t backup_size, const AtomSpan& moov, BackupCheck form) {
    std::vector<ByteRange> wanted;
    if (form == BackupCheck::full) {
        wanted = {{0, backup_size}};
    } else {
        const std::uint64_t edge = std::min(chunk_bytes, backup_size);
        wanted = {{0, edge}, {moov.offset, moov.offset + moov.size}, {backup_size - edge, backup_size}};
        std::ranges::sort(wanted, {}, &ByteRange::begin);
    }
    std::vector<ByteRange> merged;
    for (const ByteRange& range : wanted) {
        if (!merged.empty() && range.begin <= merged.back().end) {
            merged.back().end = std::max(merged.back().end, range.end);
        } else {
            merged.push_back(range);
        }
    }
    const ByteRange type{moov.offset + 4, moov.offset + 8};
    std::vector<ByteRange> ranges;
    for (const ByteRange& range : merged) {
        if (range.end <= type.begin || range.begin >= type.end) {
            ranges.push_back(range);
            continue;
        }
        if (range.begin < type.begin) ranges.push_back({range.begin, type.begin});
        if (type.end < range.end) ranges.push_back({type.end, range.end});
    }
    return ranges;
}

struct Buffers {
    std::vector<std::uint8_t> movie = std::vector<std::uint8_t>(chunk_bytes);
    std::vector<std::uint8_t> backup = std::vector<std::uint8_t>(chunk_bytes);
};

Status same_bytes(int movie, int backup, const ByteRange& range, Buffers& buffers) {
    for (std::uint64_t at = range.begin; at < range.end;) {
        const auto count = static_cast<std::size_t>(std::min(chunk_bytes, range.end - at));
        const auto movie_bytes = std::span(buffers.movie).first(count);
        const auto backup_bytes = std::span(buffers.backup).first(count);
        TRY_VOID(read_exact_at(movie, at, movie_bytes));
        TRY_VOID(read_exact_at(backup, at, backup_bytes));
        if (!std::ranges::equal(movie_bytes, backup_bytes)) return fail(std::string(bytes_differ_message));
        at += count;
    }
    return {};
}

// The movie's bytes up to the backup's length are the backup's, but for the
// movie atom's type: `free` in the movie where the backup says `moov`.
Status check_shared_bytes(const OpenFile& movie, const OpenFile& backup, const AtomSpan& moov, BackupCheck form) {
    std::array<std::uint8_t, 4> type{};
    TRY_VOID(read_exact_at(movie.fd.get(), moov.offset + 4, type));
    if (FourCC::from_bytes(type) != FourCC("free")) return fail(std::string(bytes_differ_message));
    Buffers buffers;
    for (const ByteRange& range : compared_ranges(backup.size, moov, form)) {
        TRY_VOID(same_bytes(movie.fd.get(), backup.fd.get(), range, buffers));
    }
    return {};
}

std::optional<std::string> session_backup(ServiceState& state, const std::string& id) {
    std::lock_guard lock(state.in_place_mutex);
    const auto found = state.in_place_results.find(id);
    if (found == state.in_place_results.end()) return std::nullopt;
    return found->second.backup;
}

// A deleted backup can no longer be restored: neither the record nor the
// in-place memory may offer it.
void forget_backup(ServiceState& state, const std::string& id, const std::string& path) {
    {
        std::lock_guard lock(state.movie_store_mutex);
        const auto found = state.movie_store.find(id);
        if (found != state.movie_store.end() && found->second.record.contains("backups")) {
            nlohmann::json& listed = found->second.record["backups"];
            if (listed.is_array()) {
                listed.erase(
                    std::remove_if(listed.begin(), listed.end(),
                                   [&](const nlohmann::json& entry) { return entry.value("path", "") == path; }),
                    listed.end());
            }
            if (!listed.is_array() || listed.empty()) found->second.record.erase("backups");
        }
    }
    std::lock_guard lock(state.in_place_mutex);
    const auto found = state.in_place_results.find(id);
    if (found != state.in_place_results.end() && found->second.backup == path) state.in_place_results.erase(found);
}

struct RemovalReport {
    nlohmann::json removed = nlohmann::json::array();
    nlohmann::json kept = nlohmann::json::array();
};

void remove_backups_of(ServiceState& state, const std::string& id, RemovalReport& report) {
    const auto movie = state.stored_movie(id);
    if (!movie) return;  // unknown ids are passed over
    std::vector<std::string> tried;
    std::vector<std::string> listed_paths;
    const auto listed = movie->record.find("backups");
    if (listed != movie->record.end() && listed->is_array()) {
        for (const nlohmann::json& entry : *listed) {
            const std::string path = entry.value("path", "");
            listed_paths.push_back(path);
            if (entry.value("original", false)) {
                tried.push_back(path);
            } else {
                report.kept.push_back({{"id", id}, {"path", path}, {"reason", entry.value("reason", "")}});
            }
        }
    }
    // The import's word on a file stands over what the batch remembers of it.
    if (auto made = session_backup(state, id); made && std::ranges::find(listed_paths, *made) == listed_paths.end()) {
        tried.push_back(std::move(*made));
    }
    for (const std::string& path : tried) {
        const auto removed = remove_verified_backup(movie->source_path, path);
        if (!removed) {
            report.kept.push_back({{"id", id}, {"path", path}, {"reason", removed.error()}});
            continue;
        }
        report.removed.push_back({{"id", id}, {"path", path}, {"size", *removed}});
        forget_backup(state, id, path);
    }
}

}  // namespace

bool is_backup_name_of(std::string_view movie_name, std::string_view candidate, std::size_t name_limit) {
    const std::size_t mark = candidate.rfind(backup_marker);
    if (mark == std::string_view::npos || mark == 0) return false;
    const std::string_view token = candidate.substr(mark + backup_marker.size());
    if (!is_token(token)) return false;
    const std::string_view prefix = candidate.substr(0, mark);
    if (prefix == movie_name) return true;
    // A cut name only where the whole one would not fit.
    const bool cut = movie_name.size() + backup_marker.size() + token.size() > name_limit;
    return cut && prefix.size() < movie_name.size() && movie_name.starts_with(prefix);
}

Result<std::vector<FoundBackup>> backups_beside(const std::string& movie_path) {
    const std::string folder = parent_folder(movie_path);
    const std::string_view movie_name = last_component(movie_path);
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) return fail(system_error_text(errno));
    const std::size_t limit = name_limit_of(dir.get());
    std::vector<FoundBackup> found;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) return fail(system_error_text(errno));
            break;
        }
        if (!is_backup_name_of(movie_name, entry->d_name, limit)) continue;
        struct stat status {};
        // Links are not backups; a file gone meanwhile is no backup either.
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(status.st_mode)) continue;
        found.push_back({join_path(folder, entry->d_name), static_cast<std::uint64_t>(status.st_size)});
    }
    // One folder: the paths sort as their names do.
    std::ranges::sort(found, {}, &FoundBackup::path);
    return found;
}

Status check_stamped_tail(int movie, std::uint64_t movie_size, std::uint64_t backup_size) {
    if (movie_size < backup_size || movie_size - backup_size < min_added_bytes) {
        return fail(std::string(not_stamped_message));
    }
    std::array<std::uint8_t, 16> header{};
    const auto head = std::span(header).first(8);
    TRY_VOID(read_exact_at(movie, backup_size, head));
    if (load_be(head.first(4)) != stamped_mdat_size || FourCC::from_bytes(head.subspan(4)) != FourCC("mdat")) {
        return fail(std::string(not_stamped_message));
    }
    const std::uint64_t at = backup_size + stamped_mdat_size;
    const std::uint64_t room = movie_size - at;
    TRY_VOID(read_exact_at(movie, at, head));
    std::uint64_t size = load_be(head.first(4));
    if (size == 1) {
        if (room < header.size()) return fail(std::string(not_stamped_message));
        TRY_VOID(read_exact_at(movie, at + 8, std::span(header).subspan(8)));
        size = load_be(std::span(header).subspan(8));
    }
    if (FourCC::from_bytes(head.subspan(4)) != FourCC("moov") || size != room) {
        return fail(std::string(not_stamped_message));
    }
    return {};
}

Result<std::uint64_t> check_backup(const std::string& movie_path, const std::string& backup_path, BackupCheck form) {
    TRY(const OpenFile backup, open_for_reading(backup_path, O_NOFOLLOW));
    TRY(const OpenFile movie, open_for_reading(movie_path, 0));
    TRY(const AtomSpan moov, only_movie_atom(backup));
    TRY_VOID(check_stamped_tail(movie.fd.get(), movie.size, backup.size));
    TRY_VOID(check_shared_bytes(movie, backup, moov, form));
    return backup.size;
}

void describe_backups(nlohmann::json& record, const std::string& movie_path) {
    auto found = backups_beside(movie_path);
    if (!found || found->empty()) {
        record.erase("backups");
        return;
    }
    nlohmann::json listed = nlohmann::json::array();
    for (const FoundBackup& backup : *found) {
        nlohmann::json entry{{"path", backup.path}, {"size", backup.size}};
        const auto checked = check_backup(movie_path, backup.path, BackupCheck::quick);
        entry["original"] = checked.has_value();
        if (!checked) entry["reason"] = checked.error();
        listed.push_back(std::move(entry));
    }
    record["backups"] = std::move(listed);
}

Result<std::uint64_t> remove_verified_backup(const std::string& movie_path, const std::string& backup_path) {
    TRY(const std::uint64_t size, check_backup(movie_path, backup_path, BackupCheck::full));
    if (::unlink(backup_path.c_str()) != 0) return fail(system_error_text(errno));
    // Gone either way; a lost folder flush only costs durability.
    (void)flush_folder(parent_folder(backup_path));
    return size;
}

Result<nlohmann::json> remove_backups(ServiceState& state, const nlohmann::json& args) {
    TRY(const std::vector<std::string> ids, decode_string_array(member_or_null(args, "ids")));
    // No batch may publish meanwhile, and no restore may move a backup.
    std::lock_guard gate(state.batch_gate);
    if (state.busy.load()) return fail(std::string(busy_message));
    RemovalReport report;
    for (const std::string& id : ids) remove_backups_of(state, id, report);
    return nlohmann::json{{"kept", std::move(report.kept)}, {"removed", std::move(report.removed)}};
}

}  // namespace velmora
