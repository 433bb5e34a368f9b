#include "json_text.h"

namespace velmora {

namespace {

// nlohmann prefixes its messages with "[json.exception.<kind>.<n>] ".
std::string without_library_prefix(const char* what) {
    std::string_view text(what);
    if (text.starts_with("[json.exception.")) {
        if (auto end = text.find("] "); end != std::string_view::npos) text.remove_prefix(end + 2);
    }
    return std::string(text);
}

}  // namespace

Result<Json> parse_json(std::string_view text) {
    try {
        return Json::parse(text.begin(), text.end());
    } catch (const Json::exception& error) {
        return fail(without_library_prefix(error.what()));
    }
}

Result<std::string> compact_json(const Json& value) {
    try {
        return value.dump(-1, ' ', false, Json::error_handler_t::strict);
    } catch (const Json::exception& error) {
        return fail(without_library_prefix(error.what()));
    }
}

}  // namespace velmora
