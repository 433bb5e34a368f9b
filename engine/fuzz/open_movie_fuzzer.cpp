// libFuzzer entry: any bytes as a movie file, through the reader and, when it
// accepts them, the probe report. The input lives in a memory file so that the
// reader opens it by path like any other movie.
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "file_io.h"
#include "movie.h"
#include "probe_report.h"

namespace {

const velmora::File& memory_file() {
    static const velmora::File file(::memfd_create("velmora-fuzz-input", MFD_CLOEXEC));
    return file;
}

bool store(const std::uint8_t* data, std::size_t size) {
    const int fd = memory_file().fd();
    if (fd < 0 || ::ftruncate(fd, 0) != 0) return false;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t wrote = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!store(data, size)) return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(memory_file().fd());
    auto movie = velmora::open_movie(path);
    if (movie) {
        const std::string report = velmora::probe_report(*movie);
        if (report.empty() || report.front() != '{' || report.back() != '}') __builtin_trap();
    } else if (movie.error().empty()) {
        __builtin_trap();  // every refusal carries a message
    }
    return 0;
}
