// libFuzzer entry: any bytes as a movie file, through the reader and, when it
// accepts them, the probe report and a write into a temporary folder. The
// input lives in a memory file so that the reader opens it by path like any
// other movie.
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "file_io.h"
#include "movie.h"
#include "probe_report.h"
#include "rewriter.h"

#include <cstdlib>
#include <sys/stat.h>

namespace {

const velmora::File& memory_file() {
    static const velmora::File file(::memfd_create("velmora-fuzz-input", MFD_CLOEXEC));
    return file;
}

bool store(const std::uint8_t* data, std::size_t size) {
    const int fd = memory_file().get();
    if (fd < 0 || ::ftruncate(fd, 0) != 0) return false;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t wrote = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// A folder for the outputs of `write`, made once per process and removed
// when it ends; in memory where possible, since every write is flushed.
struct OutputFolder {
    std::string path;
    OutputFolder() {
        const char* base = std::getenv("TMPDIR");
        if (base == nullptr || *base == '\0') base = ::access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/velmora-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~OutputFolder() {
        if (!path.empty()) ::rmdir(path.c_str());
    }
};

const std::string& output_folder() {
    static const OutputFolder folder;
    return folder.path;
}

// Writing an accepted movie either yields an output that reads back with the
// requested timecode, or leaves no output at all.
void check_write(const std::string& input) {
    if (output_folder().empty()) return;
    const std::string output = output_folder() + "/out.mov";
    const std::string timecode = "00:00:00:00";
    const velmora::WriteEvents silent{[](std::string_view) {}, [](std::string_view) {}, nullptr};
    const velmora::Status written = velmora::write_movie(input, output, timecode, silent);
    struct stat status {};
    const bool exists = ::lstat(output.c_str(), &status) == 0;
    if (!written) {
        if (written.error().empty() || exists) __builtin_trap();
        return;
    }
    const auto reread = velmora::open_movie(output);
    if (!reread || reread->existing_timecode != timecode) __builtin_trap();
    ::unlink(output.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!store(data, size)) return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(memory_file().get());
    auto movie = velmora::open_movie(path);
    if (movie) {
        const std::string report = velmora::probe_report(*movie);
        if (report.empty() || report.front() != '{' || report.back() != '}') __builtin_trap();
        movie = velmora::Movie{};  // closes the input before it is written from
        check_write(path);
    } else if (movie.error().empty()) {
        __builtin_trap();  // every refusal carries a message
    }
    return 0;
}
