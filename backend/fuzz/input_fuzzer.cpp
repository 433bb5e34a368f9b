// libFuzzer entry: any bytes as what the backend reads from outside, through
// every reader at once: as the shell's request stream (lines, JSON, the typed
// arguments, the settings a request may carry) and as an engine's standard
// error (progress lines and status text). The bytes reach the readers through
// a memory file, so they read a descriptor as they do in the service.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <sys/mman.h>
#include <unistd.h>

#include "engine_status.h"
#include "file_system.h"
#include "json_text.h"
#include "request_reader.h"
#include "settings.h"

namespace {

// A fresh descriptor positioned at the start of `bytes`.
velmora::UniqueFd memory_file_with(std::string_view bytes) {
    velmora::UniqueFd fd(::memfd_create("velmora-backend-fuzz", MFD_CLOEXEC));
    if (!fd || !velmora::write_all(fd.get(), bytes) || ::lseek(fd.get(), 0, SEEK_SET) != 0) return {};
    return fd;
}

// Writing a decoded value and reading it back gives the same text again.
void check_round_trip(const nlohmann::json& value) {
    const std::string compact = velmora::to_compact_json(value);
    const auto reread = velmora::parse_json(compact);
    if (!reread || velmora::to_compact_json(*reread) != compact) __builtin_trap();
    const auto pretty = velmora::parse_json(velmora::to_pretty_json(value));
    if (!pretty || velmora::to_compact_json(*pretty) != compact) __builtin_trap();
}

// Every typed argument a command decodes, as the handlers decode them.
void decode_arguments(const nlohmann::json& request) {
    const nlohmann::json args = velmora::member_or_null(request, "args");
    for (const char* key : {"id", "path", "text"}) {
        const auto text = velmora::decode_string(velmora::member_or_null(args, key));
        if (!text && text.error().rfind("invalid type: ", 0) != 0) __builtin_trap();
    }
    for (const char* key : {"paths", "ids"}) {
        const auto list = velmora::decode_string_array(velmora::member_or_null(args, key));
        if (!list && list.error().rfind("invalid type: ", 0) != 0) __builtin_trap();
    }
    for (const char* key : {"timecodes", "reels"}) {
        const auto map = velmora::decode_string_map(velmora::member_or_null(args, key));
        if (!map && map.error().rfind("invalid type: ", 0) != 0) __builtin_trap();
    }
    // Settings are normalized once; normalizing again changes nothing.
    const nlohmann::json settings = velmora::normalize_settings(velmora::member_or_null(args, "value"));
    if (!settings.is_object() || velmora::normalize_settings(settings) != settings) __builtin_trap();
}

void read_requests(std::string_view bytes) {
    const velmora::UniqueFd fd = memory_file_with(bytes);
    if (!fd) return;
    velmora::RequestReader reader(fd.get());
    for (;;) {
        auto line = reader.next_line();
        if (!line) {
            if (line.error() != "stream did not contain valid UTF-8") __builtin_trap();
            return;
        }
        const std::optional<std::string>& text = *line;
        if (!text) return;
        if (text->find('\n') != std::string::npos) __builtin_trap();
        auto request = velmora::parse_json(*text);
        if (!request) {
            if (request.error().find(" at line ") == std::string::npos) __builtin_trap();
            continue;
        }
        check_round_trip(*request);
        decode_arguments(*request);
    }
}

void read_engine_status(std::string_view bytes) {
    const velmora::UniqueFd fd = memory_file_with(bytes);
    if (!fd) return;
    const velmora::ProgressSink on_progress = [](double fraction) {
        if (!std::isnan(fraction) && (fraction < 0 || fraction > 1)) __builtin_trap();
    };
    const auto status = velmora::read_engine_status(fd.get(), on_progress);
    if (!status) {
        if (status.error() != "stream did not contain valid UTF-8") __builtin_trap();
        return;
    }
    if (!status->empty() && status->back() != '\n') __builtin_trap();
    // Collection stops once the text reaches its limit; the last line kept may be long.
    if (status->size() > velmora::status_collect_limit + velmora::status_line_keep_limit + 1) __builtin_trap();
    const auto progress = velmora::parse_progress_line(bytes);
    if (progress && !std::isnan(*progress) && (*progress < 0 || *progress > 1)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    read_requests(bytes);
    read_engine_status(bytes);
    return 0;
}
