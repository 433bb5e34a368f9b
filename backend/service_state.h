#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform.h"

namespace velmora {

// Size and modification time of a file at one moment.
struct FileSnapshot {
    std::uint64_t size = 0;
    std::int64_t modified_seconds = 0;
    std::int64_t modified_nanoseconds = 0;
    bool operator==(const FileSnapshot&) const = default;
};

// What a status says of the file's content: two equal snapshots are taken
// to be the same bytes.
inline FileSnapshot snapshot_of(const FileStatus& status) {
    return {status.size, status.modified.seconds, status.modified.nanoseconds};
}

// What processing needs to know about one imported movie.
// The exception analysis follows nlohmann::json into throws that the implicit
// members (default construction, moves, destruction) never reach.
struct MovieRecord {           // NOLINT(bugprone-exception-escape)
    std::string source_path;   // canonical path
    std::string relative_dir;  // as "relativeDir"
    std::uint64_t size = 0;
    std::int64_t modified_seconds = 0;
    std::int64_t modified_nanoseconds = 0;
    std::uint64_t device = 0;  // which file was imported, where the system tells
    std::uint64_t inode = 0;
    nlohmann::json record;  // the record returned to the shell

    // Whether a status of the file still shows the size and modification
    // time it had when imported.
    bool unchanged_in(const FileStatus& status) const {
        return snapshot_of(status) == FileSnapshot{size, modified_seconds, modified_nanoseconds};
    }
};

// A movie that this process published in place, as "restore" needs it.
struct InPlaceResult {     // NOLINT(bugprone-exception-escape)
    std::string path;      // holds the stamped movie
    std::string backup;    // holds the original
    FileSnapshot stamped;  // both as they were right after publishing
    FileSnapshot original;
    MovieRecord imported;  // the original's record, the store's again once restored
};

// The refusal of whatever must wait while a batch runs (import, restore,
// removing backups).
inline constexpr std::string_view busy_message = "Wait for the current batch to finish.";

// Created once at start-up and shared by the reader and every worker.
struct ServiceState {
    std::string resources_dir;
    std::string engine_path;
    std::string data_dir;
    // How long one probe may take; tests shorten it.
    std::chrono::milliseconds probe_time_limit{60'000};

    std::mutex settings_mutex;
    nlohmann::json settings;

    std::atomic<bool> busy{false};
    std::atomic<bool> cancel{false};
    std::mutex batch_gate;

    std::mutex movie_store_mutex;
    std::map<std::string, MovieRecord> movie_store;
    // A copy of the movie's record as the store holds it now, or nullopt for an unknown id.
    std::optional<MovieRecord> stored_movie(const std::string& id) {
        std::lock_guard lock(movie_store_mutex);
        const auto found = movie_store.find(id);
        if (found == movie_store.end()) return std::nullopt;
        return found->second;
    }

    std::mutex published_outputs_mutex;
    std::set<std::string> published_outputs;

    // By movie id; an entry leaves when its original has been restored.
    std::mutex in_place_mutex;
    std::map<std::string, InPlaceResult> in_place_results;
};

}  // namespace velmora
