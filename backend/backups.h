#pragma once

// The originals an in-place batch leaves beside its movies: finding them,
// telling whether one is still the movie's original, and deleting one that is.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "result.h"
#include "service_state.h"

namespace velmora {

inline constexpr std::string_view not_one_movie_atom_message = "The backup does not hold exactly one movie atom.";
inline constexpr std::string_view not_stamped_message = "The movie is not this backup with a timecode added.";
inline constexpr std::string_view bytes_differ_message = "The movie's bytes differ from the backup's.";

// Whether `candidate` names a backup of the movie called `movie_name` in a
// folder whose names may be `name_limit` bytes long: the movie's name, or a
// cut of it where the whole backup name would not fit, then
// ".velmora-backup-" and a token of three decimal numbers.
bool is_backup_name_of(std::string_view movie_name, std::string_view candidate, std::size_t name_limit);

struct FoundBackup {
    std::string path;
    std::uint64_t size = 0;
};

// The regular files (not links) beside the movie at `movie_path` (canonical)
// named as its backups, in byte order of their names.
Result<std::vector<FoundBackup>> backups_beside(const std::string& movie_path);

// quick: only the backup's movie atom and the first and last MiB of the
// bytes they share are compared, so that importing a card stays fast.
// full: every shared byte; used right before anything is renamed or deleted.
enum class BackupCheck { quick, full };

// The backup's size when the stamped movie at `movie_path` is the backup at
// `backup_path` with a timecode added (its movie atom retyped `free`, one
// 12-byte `mdat` and one `moov` appended); else the reason it is not.
Result<std::uint64_t> check_backup(const std::string& movie_path, const std::string& backup_path, BackupCheck form);

// Whether the movie open as `movie`, `movie_size` bytes long, holds right
// after its first `backup_size` bytes what a stamp adds: one 12-byte `mdat`,
// then one `moov` (32- or 64-bit size) that ends exactly where the movie does.
Status check_stamped_tail(int movie, std::uint64_t movie_size, std::uint64_t backup_size);

// Sets the record's "backups" from the files beside the movie now (quick
// check), or removes the key when there are none.
void describe_backups(nlohmann::json& record, const std::string& movie_path);

// Deletes a backup that passes the full check, then flushes its folder; the
// backup's size, or the reason it was kept.
Result<std::uint64_t> remove_verified_backup(const std::string& movie_path, const std::string& backup_path);

// "remove_backups" {"ids"}: for each known movie in order, deletes the
// backups its record lists as the original and the one this process made
// in place, each only after the full check. Answers {"kept", "removed"}.
Result<nlohmann::json> remove_backups(ServiceState& state, const nlohmann::json& args);

}  // namespace velmora
