#pragma once

// The movie record and the settings object (docs/wire.md) as start_derivation.h
// reads them. Header-only: the common library links no JSON library, the
// programs that hold these objects already do.

#include <optional>
#include <string>
#include <nlohmann/json.hpp>

#include "start_derivation.h"

namespace velmora {

namespace start_json {

inline const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

inline std::optional<std::string> text(const nlohmann::json& object, const char* key) {
    const auto* value = member(object, key);
    if (value == nullptr || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

inline std::optional<double> number(const nlohmann::json& object, const char* key) {
    const auto* value = member(object, key);
    if (value == nullptr || !value->is_number()) return std::nullopt;
    return value->get<double>();
}

// A missing member keeps its default; one of another type reads as "",
// which the derivation treats as the page does a value that is not text.
inline void setting(const nlohmann::json& object, const char* key, std::string& out) {
    if (const auto* value = member(object, key)) out = value->is_string() ? value->get<std::string>() : std::string();
}

}  // namespace start_json

inline MovieFacts movie_facts_from_json(const nlohmann::json& record) {
    using namespace start_json;
    return MovieFacts{text(record, "rate"),           text(record, "measuredRate"),   number(record, "duration"),
                      text(record, "timecode"),       text(record, "created"),        text(record, "modified"),
                      number(record, "recordedUnix"), text(record, "recordedOffset"), text(record, "creationOrigin")};
}

inline StartSettings start_settings_from_json(const nlohmann::json& object) {
    using namespace start_json;
    StartSettings settings;
    setting(object, "source", settings.source);
    setting(object, "start", settings.start);
    setting(object, "offset", settings.offset);
    setting(object, "mode", settings.mode);
    setting(object, "direction", settings.direction);
    setting(object, "timezone", settings.timezone);
    const auto* continuous = member(object, "continuous");
    settings.continuous = continuous != nullptr && continuous->is_boolean() && continuous->get<bool>();
    return settings;
}

}  // namespace velmora
