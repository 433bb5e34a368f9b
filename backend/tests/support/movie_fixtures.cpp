#include "movie_fixtures.h"

#include <filesystem>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmora::testing {
namespace {

int run_quietly(const std::vector<std::string>& argv) {
    std::vector<char*> raw;
    raw.reserve(argv.size() + 1);
    for (const std::string& a : argv) raw.push_back(const_cast<char*>(a.c_str()));
    raw.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int error = ::posix_spawnp(&pid, raw[0], &actions, nullptr, raw.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void make_movie(const std::string& path, const std::vector<std::string>& arguments) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    argv.push_back(path);
    if (run_quietly(argv) != 0) throw std::runtime_error("ffmpeg could not make " + path);
}

}  // namespace

void make_small_movie(const std::string& path) {
    make_movie(path, {"-f", "lavfi", "-i", "testsrc2=size=128x96:rate=25", "-f", "lavfi", "-i",
                      "sine=frequency=440:sample_rate=48000", "-t", "1", "-c:v", "mjpeg", "-c:a", "pcm_s16le"});
}

void make_large_movie(const std::string& path, int seconds) {
    make_movie(path, {"-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25", "-t", std::to_string(seconds), "-c:v",
                      "rawvideo", "-pix_fmt", "uyvy422"});
}

void make_medium_movie(const std::string& path) {
    make_movie(path, {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25", "-t", "1", "-c:v", "rawvideo", "-pix_fmt",
                      "uyvy422"});
}

std::optional<std::uint64_t> file_digest(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::vector<unsigned char> buffer(1 << 20);
    std::uint64_t hash = 14695981039346656037ull;
    while (true) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0) break;
        for (ssize_t i = 0; i < got; ++i) hash = (hash ^ buffer[static_cast<std::size_t>(i)]) * 1099511628211ull;
    }
    ::close(fd);
    return hash;
}

void set_modified(const std::string& path, long seconds) {
    const struct timeval times[2] = {{seconds, 0}, {seconds, 0}};
    if (::utimes(path.c_str(), times) != 0) throw std::runtime_error("cannot touch " + path);
}

}  // namespace velmora::testing
