#include "backend_client.h"

#include <utility>

namespace velmora {

std::optional<Json> parse_backend_line(std::string_view line) {
    auto value = parse_json(line);
    if (!value || !value->is_object()) return std::nullopt;
    return std::move(*value);
}

Result<std::string> request_line(std::int64_t id, std::string_view command, const Json& args) {
    Json message = {{"id", id}, {"command", std::string(command)}, {"args", args}};
    auto text = compact_json(message);
    if (!text) return text;
    text->push_back('\n');
    return text;
}

void BackendClient::request(std::string_view command, const Json& args, Completion completion) {
    if (!link_.running()) {
        completion(fail(std::string(kBackendUnavailable)));
        return;
    }
    const auto id = ++sequence_;
    auto line = request_line(id, command, args);
    if (!line) {
        completion(fail(line.error()));
        return;
    }
    callbacks_.emplace(id, std::move(completion));
    if (auto written = link_.write(*line); !written) {
        auto taken = callbacks_.extract(id);
        taken.mapped()(fail(written.error()));
    }
}

void BackendClient::dispatch(const Json& message) {
    if (!message.is_object() || message.empty()) return;
    if (auto event = message.find("event"); event != message.end() && event->is_string()) {
        if (on_event_) {
            auto payload = message.find("payload");
            on_event_(event->get<std::string>(), payload != message.end() ? *payload : Json());
        }
        return;
    }
    auto id = message.find("id");
    if (id == message.end() || !id->is_number_integer()) return;
    auto entry = callbacks_.find(id->get<std::int64_t>());
    if (entry == callbacks_.end()) return;
    auto completion = std::move(entry->second);
    callbacks_.erase(entry);
    if (auto error = message.find("error"); error != message.end() && error->is_string()) {
        completion(fail(error->get<std::string>()));
        return;
    }
    auto result = message.find("result");
    completion(result != message.end() ? *result : Json());
}

void BackendClient::backend_stopped() {
    auto taken = std::exchange(callbacks_, {});
    for (auto& [id, completion] : taken) completion(fail(std::string(kBackendStopped)));
}

}  // namespace velmora
