#include "processing.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "appending.h"
#include "engine_runner.h"
#include "file_dates.h"
#include "file_system.h"
#include "json_text.h"
#include "leftovers.h"
#include "names.h"
#include "output_lines.h"
#include "output_naming_json.h"
#include "platform.h"
#include "published_outputs.h"
#include "publishing.h"
#include "restore.h"
#include "settings.h"
#include "token.h"

namespace velmora {
namespace {

constexpr std::string_view output_exists_message = "Skipped: the output already exists.";
constexpr std::string_view same_output_message = "Skipped: another movie of this batch has the same output.";
// How many numbered names a movie tries before it gives up on a crowded folder.
constexpr std::size_t numbered_name_attempts = 10'000;

// Clears the busy flag on every exit of an admitted batch.
class BusyFlagReset {
public:
    explicit BusyFlagReset(std::atomic<bool>& busy) : busy_(busy) {}
    ~BusyFlagReset() { busy_.store(false); }
    BusyFlagReset(const BusyFlagReset&) = delete;
    BusyFlagReset& operator=(const BusyFlagReset&) = delete;

private:
    std::atomic<bool>& busy_;
};

// Removes the hidden temporary file when the movie is finished, whatever the
// outcome, through the folder it was made in; after publishing the name is
// already gone.
class TemporaryFileRemoval {
public:
    TemporaryFileRemoval(const HeldFolder& folder, std::string name) : folder_(folder), name_(std::move(name)) {}
    ~TemporaryFileRemoval() { ::unlinkat(folder_.fd(), name_.c_str(), 0); }
    TemporaryFileRemoval(const TemporaryFileRemoval&) = delete;
    TemporaryFileRemoval& operator=(const TemporaryFileRemoval&) = delete;

private:
    const HeldFolder& folder_;
    std::string name_;
};

struct Movie {
    std::string id;
    std::string timecode;
    std::string reel;  // empty: none
    MovieRecord record;
};

struct Batch {
    ServiceState& state;
    const ProgressEventSink& emit;
    OutputOptions options;
    std::size_t total = 0;
    // The outputs earlier movies of this batch took (comparison keys): a
    // later movie with the same output is numbered or skipped.
    std::set<std::string>* claimed = nullptr;
};

// Where one movie goes. The folder stays open until the movie is finished;
// names are relative to it.
struct OutputLocation {
    HeldFolder folder;
    std::string output;       // the published path, for the record
    std::string output_name;  // in place: the source's own name
    std::string temporary_name;
    std::string temporary_for_engine;  // the temporary file as the engine reaches it
    std::string skipped;               // why the movie is skipped; empty: it is written
};

nlohmann::json with_context(nlohmann::json payload, const Movie& movie, std::size_t index, std::size_t total) {
    payload["id"] = movie.id;
    payload["index"] = index;
    payload["total"] = total;
    return payload;
}

nlohmann::json processing_payload(nlohmann::json progress) {
    return {{"progress", std::move(progress)}, {"state", "processing"}};
}

// Every id known, then no duplicate and a timecode for each; a reel is
// optional. Records are copied so that the batch never holds the store's
// lock while it works.
Result<std::vector<Movie>> collect(ServiceState& state, const std::vector<std::string>& ids,
                                   const MovieRequests& requests) {
    std::vector<Movie> movies;
    {
        std::lock_guard lock(state.movie_store_mutex);
        for (const std::string& id : ids) {
            const auto found = state.movie_store.find(id);
            if (found == state.movie_store.end()) return fail("Import files before processing.");
            movies.push_back(Movie{id, {}, {}, found->second});
        }
    }
    std::set<std::string> seen;
    for (Movie& movie : movies) {
        const auto timecode = requests.timecodes.find(movie.id);
        if (!seen.insert(movie.id).second || timecode == requests.timecodes.end()) {
            return fail("Invalid file list or timecode settings.");
        }
        movie.timecode = timecode->second;
        if (const auto reel = requests.reels.find(movie.id); reel != requests.reels.end()) movie.reel = reel->second;
    }
    return movies;
}

// The same status call as import, so that both read the same clock fields
// on every platform.
Status source_unchanged(const MovieRecord& record) {
    TRY(auto status, read_file_status(record.source_path));
    if (!record.unchanged_in(status)) return fail(std::string(source_changed_message));
    return {};
}

bool same_path(const std::string& a, const std::string& b) { return path_comparison_key(a) == path_comparison_key(b); }

bool would_overwrite_source(const std::string& output, const std::string& source) {
    if (same_path(output, source)) return true;
    struct stat info {};
    if (::stat(output.c_str(), &info) != 0) return false;
    const auto resolved = canonical_path(output);
    return resolved && same_path(*resolved, source);
}

// The folder's own limit for one name, where the system tells it.
std::size_t name_limit_of(const HeldFolder& folder) {
    const long limit = ::fpathconf(folder.fd(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<std::size_t>(limit) : default_name_limit;
}

// "card" of the movie's record: empty for a file given directly.
std::string card_of(const MovieRecord& record) {
    const auto card = record.record.find("card");
    return card != record.record.end() && card->is_string() ? card->get<std::string>() : std::string();
}

// The folders this batch will make temporary files in, as far as they exist
// already: the output folder of each movie, or the source's folder in place.
std::set<std::string> temporary_folders_of(const std::vector<Movie>& movies, const OutputOptions& options) {
    std::set<std::string> folders;
    for (const Movie& movie : movies) {
        std::string folder = parent_folder(movie.record.source_path);
        if (options.copy) {
            auto chosen =
                output_folder_for(movie.record.source_path, movie.record.relative_dir, card_of(movie.record), options);
            if (!chosen) continue;
            folder = chosen->string();
        }
        if (auto canonical = canonical_path(folder)) folders.insert(std::move(*canonical));
    }
    return folders;
}

// Temporary files of backends that were killed mid-movie go before this
// batch adds its own; those of a backend still running stay.
void remove_leftovers_of_earlier_runs(const std::vector<Movie>& movies, const OutputOptions& options) {
    for (const std::string& folder : temporary_folders_of(movies, options)) (void)remove_leftover_temporaries(folder);
}

bool name_taken(const HeldFolder& folder, const std::string& name) {
    struct stat info {};
    return ::fstatat(folder.fd(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

// The output name a movie gets in its folder, or why it is skipped: a name
// an earlier movie of the batch took or an existing file is never a
// failure. Under "number" the first free " N" name is taken.
struct NameChoice {
    std::string name;
    std::string skipped;
};
Result<NameChoice> choose_free_name(const Batch& batch, const HeldFolder& folder, const std::string& wanted,
                                    const std::string& source) {
    const auto claimed = [&](const std::string& name) {
        return batch.claimed->contains(path_comparison_key(folder.path_of(name)));
    };
    const bool by_batch = claimed(wanted);
    if (!by_batch && !name_taken(folder, wanted)) return NameChoice{wanted, {}};
    if (!batch.options.number_existing) {
        return NameChoice{wanted, std::string(by_batch ? same_output_message : output_exists_message)};
    }
    for (std::size_t n = 2; n < numbered_name_attempts; ++n) {
        std::string name = numbered_file_name(wanted, n);
        if (claimed(name) || name_taken(folder, name) || would_overwrite_source(folder.path_of(name), source)) {
            continue;
        }
        return NameChoice{std::move(name), {}};
    }
    return fail(std::string(output_exists_message));
}

Result<OutputLocation> locate_output(const Batch& batch, const Movie& movie, std::size_t position) {
    const OutputOptions& options = batch.options;
    const std::string& source = movie.record.source_path;
    TRY(auto folder, output_folder_for(source, movie.record.relative_dir, card_of(movie.record), options));
    const std::string folder_text = folder.string();
    if (folder_text.find('\0') != std::string::npos) return fail(std::string(nul_path_message));
    TRY_VOID(create_folders(folder_text));
    TRY(auto canonical_folder, canonical_path(folder_text));

    const std::string source_name(last_component(source));
    std::string output_name = source_name;
    if (options.copy) {
        TRY(auto name, output_file_name(source_name, options, position));
        output_name = std::move(name);
        if (empty_suffix_beside_source(canonical_folder, source, options)) {
            return fail(std::string(empty_suffix_message));
        }
        if (would_overwrite_source(join_path(canonical_folder, output_name), source)) {
            return fail("Output would overwrite the source.");
        }
    }
    TRY(auto held, HeldFolder::open(canonical_folder));
    std::string skipped;
    if (options.copy) {
        TRY(auto chosen, choose_free_name(batch, held, output_name, source));
        output_name = std::move(chosen.name);
        skipped = std::move(chosen.skipped);
        if (skipped.empty()) batch.claimed->insert(path_comparison_key(held.path_of(output_name)));
    }
    std::string temporary_name = temporary_file_name(make_unique_token(), source_name, name_limit_of(held));
    std::string output = options.copy ? held.path_of(output_name) : source;
    std::string for_engine = held.engine_path_of(temporary_name);
    return OutputLocation{std::move(held),           std::move(output),     std::move(output_name),
                          std::move(temporary_name), std::move(for_engine), std::move(skipped)};
}

// A new file whose name another program took while the engine wrote:
// skipped, or under "number" published under the next free name.
Result<nlohmann::json> publish_copy(const Batch& batch, const Movie& movie, OutputLocation& location) {
    const CopyGuards guards{batch.state.cancel, [&movie] { return source_unchanged(movie.record); }};
    for (;;) {
        auto published = publish_new_file(location.folder, location.temporary_name, location.output_name, guards);
        if (published) return nullptr;
        if (!name_taken(location.folder, location.output_name) || batch.state.cancel.load()) {
            return fail(published.error());
        }
        // Another program holds the name now, not this movie.
        batch.claimed->erase(path_comparison_key(location.output));
        TRY(auto chosen, choose_free_name(batch, location.folder, location.output_name, movie.record.source_path));
        if (!chosen.skipped.empty()) {
            location.skipped = std::move(chosen.skipped);
            return nullptr;
        }
        location.output_name = std::move(chosen.name);
        location.output = location.folder.path_of(location.output_name);
        batch.claimed->insert(path_comparison_key(location.output));
    }
}

Result<nlohmann::json> publish(const Batch& batch, const Movie& movie, OutputLocation& location) {
    if (batch.options.copy) return publish_copy(batch, movie, location);
    const std::string backup =
        backup_path_for(movie.record.source_path, make_unique_token(), name_limit_of(location.folder));
    TRY_VOID(publish_in_place(location.folder, location.temporary_name, location.output_name,
                              std::string(last_component(backup))));
    remember_in_place_result(batch.state, movie.id, movie.record, backup);
    return backup;
}

Status cancelled_check(const ServiceState& state) {
    if (state.cancel.load()) return fail("Cancelled.");
    return {};
}

// Write into the hidden file, prove it, check the source again, publish.
nlohmann::json skipped_record(const Movie& movie, const OutputLocation& location) {
    return {{"id", movie.id},
            {"message", location.skipped},
            {"output", location.output},
            {"progress", 0},
            {"state", "skipped"}};
}

Result<nlohmann::json> write_verify_publish(const Batch& batch, const Movie& movie, OutputLocation& location,
                                            const FileDates& source_dates, std::size_t index) {
    const ProgressSink on_progress = [&](double fraction) {
        nlohmann::json progress = std::isnan(fraction) ? nlohmann::json(nullptr) : nlohmann::json(fraction);
        batch.emit(with_context(processing_payload(std::move(progress)), movie, index, batch.total));
    };
    const std::string& engine = batch.state.engine_path;
    TRY_VOID(write_timecode(engine, movie.record.source_path, location.temporary_for_engine, movie.timecode,
                            batch.state.cancel, on_progress, movie.reel));
    TRY_VOID(cancelled_check(batch.state));
    TRY(auto report, probe_movie(engine, location.temporary_for_engine, batch.state.probe_time_limit));
    TRY_VOID(verify_written_report(report, movie.timecode, movie.record.record, movie.reel));
    TRY_VOID(stamp_source_dates(location.folder.fd(), location.temporary_name, source_dates));
    TRY_VOID(source_unchanged(movie.record));
    TRY_VOID(cancelled_check(batch.state));
    TRY(auto backup, publish(batch, movie, location));
    if (!location.skipped.empty()) return skipped_record(movie, location);
    batch.emit(with_context(processing_payload(1.0), movie, index, batch.total));
    return nlohmann::json{{"backup", std::move(backup)},
                          {"id", movie.id},
                          {"output", location.output},
                          {"progress", 1},
                          {"state", "done"},
                          {"timecode", movie.timecode}};
}

// Stamped where it lies: no temporary, no backup. The store then holds the
// stamped file's record, so that a later batch or "restore" sees the truth.
Result<nlohmann::json> append_in_place(const Batch& batch, const Movie& movie, std::size_t index) {
    TRY(MovieRecord stamped, append_timecode(batch.state, movie.record, movie.timecode, movie.reel));
    {
        std::lock_guard lock(batch.state.movie_store_mutex);
        batch.state.movie_store.insert_or_assign(movie.id, std::move(stamped));
    }
    record_published_output(batch.state, movie.record.source_path);
    batch.emit(with_context(processing_payload(1.0), movie, index, batch.total));
    return nlohmann::json{{"appended", true},
                          {"backup", nullptr},
                          {"id", movie.id},
                          {"output", movie.record.source_path},
                          {"progress", 1},
                          {"state", "done"},
                          {"timecode", movie.timecode}};
}

Result<nlohmann::json> process_movie(const Batch& batch, const Movie& movie, std::size_t index) {
    TRY_VOID(source_unchanged(movie.record));
    if (batch.options.append) {
        TRY_VOID(cancelled_check(batch.state));
        return append_in_place(batch, movie, index);
    }
    // Read before the engine reads the source; the later checks prove the
    // modification time still current.
    TRY(auto source_dates, read_file_dates(movie.record.source_path));
    TRY_VOID(cancelled_check(batch.state));
    TRY(auto location, locate_output(batch, movie, index));
    if (!location.skipped.empty()) return skipped_record(movie, location);
    Result<nlohmann::json> done;
    {
        const TemporaryFileRemoval removal(location.folder, location.temporary_name);
        done = write_verify_publish(batch, movie, location, source_dates, index);
    }
    if (done && done->value("state", "") == "done") record_published_output(batch.state, location.output);
    return done;
}

nlohmann::json error_record(const Movie& movie, const std::string& message) {
    return {{"error", message}, {"id", movie.id}, {"progress", 0}, {"state", "error"}};
}

bool is_timecode_track(const nlohmann::json& stream) {
    if (!stream.is_object()) return false;
    const auto tag = stream.find(report_key::kTag);
    return tag != stream.end() && tag->is_string() && tag->get<std::string>() == "tmcd";
}

std::string string_member(const nlohmann::json& stream, std::string_view key) {
    if (!stream.is_object()) return {};
    const auto member = stream.find(key);
    return member != stream.end() && member->is_string() ? member->get<std::string>() : std::string();
}

}  // namespace

std::vector<std::string> stream_signatures(const nlohmann::json& report) {
    std::vector<std::string> signatures;
    if (!report.is_object()) return signatures;
    const auto streams = report.find(report_key::kStreams);
    if (streams == report.end() || !streams->is_array()) return signatures;
    for (const nlohmann::json& stream : *streams) {
        if (is_timecode_track(stream)) continue;
        signatures.push_back(to_compact_json(member_or_null(stream, report_key::kTrackId)) + ":" +
                             string_member(stream, report_key::kType) + ":" + string_member(stream, report_key::kTag));
    }
    std::sort(signatures.begin(), signatures.end());
    return signatures;
}

Status verify_written_report(const nlohmann::json& report, const std::string& timecode,
                             const nlohmann::json& source_record, const std::string& reel) {
    if (!report.is_object()) return fail("Missing verified streams");
    const auto streams = report.find(report_key::kStreams);
    if (streams == report.end() || !streams->is_array()) return fail("Missing verified streams");
    const auto written_timecode = report.find(report_key::kTimecode);
    const bool timecode_matches = written_timecode != report.end() && written_timecode->is_string() &&
                                  written_timecode->get<std::string>() == timecode;
    // The reel belongs to the timecode track: byte for byte as asked, or none.
    const auto written_reel = report.find(report_key::kReel);
    const bool reel_matches = reel.empty() ? written_reel == report.end()
                                           : written_reel != report.end() && written_reel->is_string() &&
                                                 written_reel->get<std::string>() == reel;
    const auto timecode_tracks = std::count_if(streams->begin(), streams->end(), is_timecode_track);
    if (!timecode_matches || !reel_matches || timecode_tracks != 1) {
        return fail(std::string(timecode_verification_message));
    }
    if (stream_signatures(report) != stream_signatures(source_record)) {
        return fail(std::string(stream_verification_message));
    }
    return {};
}

Result<nlohmann::json> run_batch(ServiceState& state, const std::vector<std::string>& ids,
                                 const MovieRequests& requests, const nlohmann::json& options,
                                 const ProgressEventSink& emit) {
    {
        std::lock_guard gate(state.batch_gate);
        if (state.busy.exchange(true)) return fail("A batch is already running.");
        state.cancel.store(false);
    }
    const BusyFlagReset reset(state.busy);

    TRY(auto movies, collect(state, ids, requests));
    std::set<std::string> claimed;
    const Batch batch{state, emit, output_options_from(normalize_settings(options)), movies.size(), &claimed};
    if (!batch.options.append) remove_leftovers_of_earlier_runs(movies, batch.options);

    nlohmann::json results = nlohmann::json::array();
    for (std::size_t index = 0; index < movies.size(); ++index) {
        if (state.cancel.load()) break;
        const Movie& movie = movies[index];
        emit(with_context(processing_payload(0), movie, index, batch.total));
        auto outcome = process_movie(batch, movie, index);
        nlohmann::json record = outcome ? std::move(*outcome) : error_record(movie, outcome.error());
        emit(with_context(record, movie, index, batch.total));
        results.push_back(std::move(record));
    }
    return nlohmann::json{{"cancelled", state.cancel.load()}, {"results", std::move(results)}};
}

Result<nlohmann::json> process_movies(ServiceState& state, const std::vector<std::string>& ids,
                                      const MovieRequests& requests, const nlohmann::json& options) {
    return run_batch(state, ids, requests, options, [](const nlohmann::json& payload) {
        emit_message(nlohmann::json{{backend_event::kEventKey, backend_event::kProgress},
                                    {backend_event::kPayloadKey, payload}});
    });
}

}  // namespace velmora
