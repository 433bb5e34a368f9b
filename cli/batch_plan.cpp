#include "batch_plan.h"

#include "output_naming_json.h"
#include "paths.h"
#include "reel_name.h"
#include "start_derivation_json.h"

namespace velmora::cli {

namespace {

ReelSettings reel_settings_from(const Json& settings) {
    ReelSettings out;
    out.reel_source = text_member(settings, "reelSource");
    out.reel = text_member(settings, "reel");
    out.source = text_member(settings, "source");
    return out;
}

ReelFacts reel_facts_from(const Json& record) {
    ReelFacts out;
    if (const auto card = record.find("card"); card != record.end() && card->is_string()) out.card = *card;
    out.path = text_member(record, "path");
    if (const auto reel = record.find("reel"); reel != record.end() && reel->is_string()) out.reel = *reel;
    return out;
}

std::vector<StartResult> derive_starts(const Json& files, const StartSettings& settings) {
    std::vector<StartResult> starts;
    if (is_continuous(settings)) {
        std::vector<ListedMovie> listed;
        for (const auto& record : files) listed.push_back({movie_facts_from_json(record), std::nullopt});
        return derive_continuous(listed, settings);
    }
    for (const auto& record : files) starts.push_back(derive_start(movie_facts_from_json(record), settings));
    return starts;
}

}  // namespace

std::string text_member(const Json& object, const char* key) {
    const auto member = object.find(key);
    return member != object.end() && member->is_string() ? member->get<std::string>() : std::string();
}

std::uint64_t size_member(const Json& object) {
    const auto member = object.find("size");
    return member != object.end() && member->is_number_unsigned() ? member->get<std::uint64_t>() : 0;
}

std::vector<PlannedMovie> plan_batch(const Json& files, const Json& settings) {
    std::vector<PlannedMovie> movies;
    if (!files.is_array()) return movies;
    const auto starts = derive_starts(files, start_settings_from_json(settings));
    const auto reels = reel_settings_from(settings);
    for (std::size_t i = 0; i < files.size(); ++i) {
        PlannedMovie movie{files[i], std::nullopt, {}, reel_for(reel_facts_from(files[i]), reels)};
        if (i < starts.size() && starts[i])
            movie.start = starts[i]->timecode;
        else
            movie.problem = i < starts.size() ? starts[i].error().message : "No start timecode.";
        movies.push_back(std::move(movie));
    }
    return movies;
}

Json batch_request(const std::vector<PlannedMovie>& movies, const Json& settings) {
    Json ids = Json::array();
    Json timecodes = Json::object();
    Json reels = Json::object();
    for (const auto& movie : movies) {
        if (!movie.start) continue;
        const auto id = text_member(movie.record, "id");
        ids.push_back(id);
        timecodes[id] = *movie.start;
        if (movie.reel) reels[id] = *movie.reel;
    }
    return {{"ids", ids}, {"timecodes", timecodes}, {"reels", reels}, {"options", settings}};
}

Result<std::string> planned_output(const PlannedMovie& movie, const Json& settings, std::size_t position) {
    const auto options = output_options_from(settings);
    const auto path = text_member(movie.record, "path");
    if (!options.copy) return path;
    const auto card = text_member(movie.record, "card");
    TRY(const auto folder, output_folder_for(path, text_member(movie.record, "relativeDir"), card, options));
    TRY(const auto name, output_file_name(last_component(path), options, position));
    if (empty_suffix_beside_source(folder, path, options)) return fail(std::string(empty_suffix_message));
    return join_path(folder.string(), name);
}

}  // namespace velmora::cli
