#include "service_process.h"

#include "child_process.h"
#include "paths.h"

namespace velmora {

Result<ServicePipes> start_service(const std::string& executable, const std::vector<std::string>& arguments,
                                   bool own_process_group, std::vector<std::string> environment) {
    TRY(Pipe input, make_pipe());
    TRY(Pipe output, make_pipe());
    SpawnOptions options;
    options.streams = {input.read_end.get(), output.write_end.get(), ChildStreams::kInherit};
    options.own_process_group = own_process_group;
    options.environment = std::move(environment);
    TRY(const pid_t pid, spawn_child(executable, arguments, options));
    // The child holds its own ends now; ours would keep the pipes open forever.
    return ServicePipes{pid, std::move(input.write_end), std::move(output.read_end)};
}

std::string backend_program(std::string_view resources) { return join_path(resources, "bin/velmora-mac-backend"); }

std::vector<std::string> LineSplitter::feed(std::string_view bytes) {
    buffer_.append(bytes);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (auto end = buffer_.find('\n'); end != std::string::npos; end = buffer_.find('\n', start)) {
        lines.emplace_back(buffer_, start, end - start);
        start = end + 1;
    }
    buffer_.erase(0, start);
    return lines;
}

}  // namespace velmora
