// velmora-mac-backend RESOURCES: the service behind the desktop shell, talking
// JSON lines over standard input and output.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "protocol.h"

namespace {

// A standard stream the shell left closed gets the null device: otherwise the
// next file the service opens would take its number, and replies meant for
// standard output would be written into that file.
void fill_closed_standard_streams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int null_device = ::open("/dev/null", O_RDWR);
        if (null_device < 0) return;
        if (null_device != fd) {
            ::dup2(null_device, fd);
            ::close(null_device);
        }
    }
}

int run(int argc, char** argv) {
    fill_closed_standard_streams();
    // A vanished reader of standard output must not kill the service.
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    velmora::Status outcome = [&]() -> velmora::Status {
        TRY(auto state, velmora::start_service(arguments, std::getenv("HOME")));
        return velmora::serve_requests(state);
    }();
    if (outcome) return 0;
    std::fprintf(stderr, "Error: %s\n", outcome.error().c_str());
    std::fflush(stderr);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const int status = run(argc, argv);
    // Running requests are abandoned, not waited for: leave without joining
    // their threads or running destructors under them.
    std::fflush(nullptr);
    std::_Exit(status);
}
