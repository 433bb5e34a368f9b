#pragma once

// A service child spoken to in lines: requests on its standard input, replies
// on its standard output, its standard error ours. The shell and the command
// line start the backend through this one path.

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "descriptor.h"
#include "result.h"

namespace velmora {

struct ServicePipes {
    pid_t pid = -1;
    UniqueFd input;   // the service's standard input, ours to write
    UniqueFd output;  // the service's standard output, ours to read
};

// Starts `executable` with `arguments`; the caller reaps it. Without a process
// group of its own the service gets the terminal's Ctrl+C with its parent.
// `environment` ("NAME=value") replaces or adds to ours for the service alone.
Result<ServicePipes> start_service(const std::string& executable, const std::vector<std::string>& arguments,
                                   bool own_process_group, std::vector<std::string> environment = {});

// "bin/velmora-mac-backend" under the resources folder; it takes the folder
// as its only argument.
std::string backend_program(std::string_view resources);

// Cuts a service's output into lines; bytes after the last line feed wait
// for the next read.
class LineSplitter {
public:
    std::vector<std::string> feed(std::string_view bytes);
    std::size_t pending_bytes() const { return buffer_.size(); }

private:
    std::string buffer_;
};

}  // namespace velmora
