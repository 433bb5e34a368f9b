#include "restore.h"

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string_view>

#include <fcntl.h>

#include "appending.h"
#include "backups.h"
#include "engine_runner.h"
#include "file_system.h"
#include "import.h"
#include "json_text.h"
#include "output_naming.h"
#include "platform.h"
#include "token.h"

namespace velmora {
namespace {

constexpr std::string_view unknown_message = "Unknown movie. Import it again.";
constexpr std::string_view unchanged_suffix = " Nothing was changed.";
constexpr std::string_view no_backup_message = "This movie has no backup to restore. Nothing was changed.";

std::optional<FileSnapshot> snapshot_at(const std::string& path) {
    auto status = read_file_status(path);
    if (!status) return std::nullopt;
    return snapshot_of(*status);
}

// Both files present and as the batch left them; `what` names the file in
// the refusal.
Status still_as_published(const std::string& path, const FileSnapshot& expected, std::string_view what) {
    auto status = read_file_status(path);
    if (!status) {
        if (status.error().ends_with("(os error " + std::to_string(ENOENT) + ")")) {
            return fail("The " + std::string(what) + " is missing: " + path + "." + std::string(unchanged_suffix));
        }
        return fail(status.error() + std::string(unchanged_suffix));
    }
    if (snapshot_of(*status) != expected) {
        return fail("The " + std::string(what) + " changed since the batch: " + path + "." +
                    std::string(unchanged_suffix));
    }
    return {};
}

std::optional<InPlaceResult> find_in_place_result(ServiceState& state, const std::string& id) {
    std::lock_guard lock(state.in_place_mutex);
    const auto found = state.in_place_results.find(id);
    if (found == state.in_place_results.end()) return std::nullopt;
    return found->second;
}

Status unchanged_since_import(const MovieRecord& movie) {
    auto status = read_file_status(movie.source_path);
    if (!status || !movie.unchanged_in(*status)) {
        return fail("The stamped movie changed since the import: " + movie.source_path + "." +
                    std::string(unchanged_suffix));
    }
    return {};
}

// The first backup the record lists as the movie's original, or why none is.
Result<std::string> listed_original(const MovieRecord& movie) {
    const auto listed = movie.record.find("backups");
    if (listed == movie.record.end() || !listed->is_array() || listed->empty()) {
        return fail(std::string(no_backup_message));
    }
    for (const nlohmann::json& backup : *listed) {
        if (backup.value("original", false)) return backup.value("path", "");
    }
    return fail(listed->front().value("reason", "") + std::string(unchanged_suffix));
}

// The original is back under the movie's name: its record, read again,
// becomes the store's. `backup` is where the stamped movie now is, if anywhere.
Result<nlohmann::json> read_restored(ServiceState& state, const MovieRecord& movie, const std::string& id,
                                     nlohmann::json backup) {
    auto restored = probed_again(state, movie);
    std::lock_guard lock(state.movie_store_mutex);
    if (!restored) {
        // The stamped movie's record no longer describes the file.
        state.movie_store.erase(id);
        return fail(restored.error());
    }
    state.movie_store.insert_or_assign(id, *restored);
    return nlohmann::json{
        {"backup", std::move(backup)}, {"id", id}, {"path", movie.source_path}, {"record", restored->record}};
}

// After a relaunch the record's listed backups are all there is to go by;
// the full check decides, right before the names are exchanged.
Result<nlohmann::json> restore_listed_backup(ServiceState& state, const MovieRecord& movie, const std::string& id,
                                             const ExchangeCalls& calls) {
    TRY_VOID(unchanged_since_import(movie));
    TRY(const std::string backup, listed_original(movie));
    if (auto checked = check_backup(movie.source_path, backup, BackupCheck::full); !checked) {
        return fail(checked.error() + std::string(unchanged_suffix));
    }
    TRY_VOID(exchange_files(movie.source_path, backup, calls));
    return read_restored(state, movie, id, backup);
}

// A movie stamped where it lies: the engine takes the stamp off, and the
// file read again is the store's record.
Result<nlohmann::json> restore_appended(ServiceState& state, const MovieRecord& movie, const std::string& id) {
    TRY_VOID(unchanged_since_import(movie));
    if (auto unstamped = unstamp_in_place(state.engine_path, movie.source_path); !unstamped) {
        return fail(unstamped.error() + std::string(unchanged_suffix));
    }
    return read_restored(state, movie, id, nullptr);
}

std::string where_they_are(const std::string& original, const std::string& stamped) {
    return ". The original is at " + original + " and the stamped movie at " + stamped + ".";
}

// Stamped movie to a hidden name, original back, stamped movie to the
// backup's name. The original is never under the hidden name.
Status exchange_through_hidden_name(const std::string& path, const std::string& backup, const ExchangeCalls& calls) {
    const std::string hidden =
        join_path(parent_folder(path), temporary_file_name(make_unique_token(), last_component(path)));
    if (const int error = calls.rename_no_replace(path, hidden); error != 0) {
        return fail(system_error_text(error) + std::string(unchanged_suffix));
    }
    if (const int error = calls.rename_no_replace(backup, path); error != 0) {
        const std::string first = system_error_text(error);
        if (const int undo = calls.rename_no_replace(hidden, path); undo != 0) {
            return fail(first + "; undo failed: " + system_error_text(undo) + where_they_are(backup, hidden));
        }
        return fail(first + std::string(unchanged_suffix));
    }
    if (const int error = calls.rename_no_replace(hidden, backup); error != 0) {
        const std::string first = system_error_text(error);
        const int undo_original = calls.rename_no_replace(path, backup);
        const int undo_stamped = undo_original == 0 ? calls.rename_no_replace(hidden, path) : undo_original;
        if (undo_stamped != 0) {
            const std::string original = undo_original == 0 ? backup : path;
            return fail(first + "; undo failed: " + system_error_text(undo_stamped) + where_they_are(original, hidden));
        }
        return fail(first + std::string(unchanged_suffix));
    }
    return {};
}

}  // namespace

ExchangeCalls system_exchange_calls() {
    ExchangeCalls calls;
    calls.exchange = [](const std::string& first, const std::string& second) {
        return exchange_at(AT_FDCWD, first, second);
    };
    calls.rename_no_replace = [](const std::string& from, const std::string& to) {
        return rename_no_replace_at(AT_FDCWD, from, to);
    };
    return calls;
}

void remember_in_place_result(ServiceState& state, const std::string& id, const MovieRecord& imported,
                              const std::string& backup) {
    const std::string& path = imported.source_path;
    const auto stamped = snapshot_at(path);
    const auto original = snapshot_at(backup);
    std::lock_guard lock(state.in_place_mutex);
    if (!stamped || !original) {
        state.in_place_results.erase(id);
        return;
    }
    state.in_place_results[id] = InPlaceResult{path, backup, *stamped, *original, imported};
}

Status exchange_files(const std::string& path, const std::string& backup, const ExchangeCalls& calls) {
    const int exchanged = calls.exchange(path, backup);
    if (exchanged == 0) {
        // Done either way; a lost folder flush only costs durability.
        (void)flush_folder(parent_folder(path));
        return {};
    }
    if (!rename_kind_unsupported(exchanged)) return fail(system_error_text(exchanged) + std::string(unchanged_suffix));
    auto swapped = exchange_through_hidden_name(path, backup, calls);
    if (swapped) (void)flush_folder(parent_folder(path));
    return swapped;
}

Result<nlohmann::json> restore_original(ServiceState& state, const nlohmann::json& args, const ExchangeCalls& calls) {
    TRY(auto id, decode_string(member_or_null(args, "id")));

    // No batch may publish meanwhile, and two restores never interleave.
    std::lock_guard gate(state.batch_gate);
    if (state.busy.load()) return fail(std::string(busy_message));
    const auto movie = state.stored_movie(id);
    if (!movie) return fail(std::string(unknown_message));
    // The latest stamp comes off first: an appended movie may also have a backup.
    if (is_appended(*movie)) return restore_appended(state, *movie, id);
    const auto result = find_in_place_result(state, id);
    if (!result) return restore_listed_backup(state, *movie, id, calls);
    TRY_VOID(still_as_published(result->path, result->stamped, "stamped movie"));
    TRY_VOID(still_as_published(result->backup, result->original, "backup of the original"));
    TRY_VOID(exchange_files(result->path, result->backup, calls));
    {
        std::lock_guard lock(state.in_place_mutex);
        state.in_place_results.erase(id);
    }
    // An import since the batch gave the id the stamped movie's record; the
    // original is back exactly as it was imported, so its record is again.
    {
        std::lock_guard lock(state.movie_store_mutex);
        state.movie_store.insert_or_assign(id, result->imported);
    }
    return nlohmann::json{
        {"backup", result->backup}, {"id", id}, {"path", result->path}, {"record", result->imported.record}};
}

}  // namespace velmora
