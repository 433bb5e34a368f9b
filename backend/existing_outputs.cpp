#include "existing_outputs.h"

#include <string>

#include <sys/stat.h>

#include "json_text.h"

namespace velmora {

namespace {

// A name no path can carry is taken by nothing.
bool name_taken(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

Result<nlohmann::json> outputs_exist(const nlohmann::json& args) {
    TRY(auto paths, decode_string_array(member_or_null(args, "paths")));
    nlohmann::json exists = nlohmann::json::array();
    for (const std::string& path : paths) exists.push_back(name_taken(path));
    return nlohmann::json{{"exists", std::move(exists)}};
}

}  // namespace velmora
