#pragma once

// The settings object (docs/wire.md) as output_naming.h reads it. Header-only:
// the common library links no JSON library, the programs that hold settings
// already do.

#include <string>
#include <nlohmann/json.hpp>

#include "output_naming.h"

namespace velmora {

namespace output_json {

inline bool is_true(const nlohmann::json& settings, const char* key) {
    const auto member = settings.find(key);
    return member != settings.end() && member->is_boolean() && member->get<bool>();
}

inline std::string string_or_empty(const nlohmann::json& settings, const char* key) {
    const auto member = settings.find(key);
    if (member == settings.end() || !member->is_string()) return {};
    return member->get<std::string>();
}

}  // namespace output_json

// Reads the normalised settings; a member of the wrong type counts as absent
// and a boolean counts only when it is true.
inline OutputOptions output_options_from(const nlohmann::json& settings) {
    OutputOptions options;
    if (!settings.is_object()) return options;
    options.copy = output_json::is_true(settings, "copy");
    options.append = !options.copy && output_json::is_true(settings, "append");
    if (std::string destination = output_json::string_or_empty(settings, "destination"); !destination.empty()) {
        options.destination = std::move(destination);
    }
    options.retain = output_json::is_true(settings, "retain");
    options.rename = output_json::is_true(settings, "rename");
    options.prefix = output_json::string_or_empty(settings, "prefix");
    options.number = output_json::is_true(settings, "number");
    if (const auto suffix = settings.find("suffix");
        suffix != settings.end() && suffix->is_string() && is_valid_suffix(suffix->get_ref<const std::string&>())) {
        options.suffix = suffix->get<std::string>();
    }
    options.number_existing = output_json::string_or_empty(settings, "existing") == "number";
    return options;
}

}  // namespace velmora
