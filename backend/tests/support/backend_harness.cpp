#include "support/backend_harness.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

extern char** environ;

namespace velmora::testing {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

[[noreturn]] void die(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

// Folders made read-only by a test must become writable again to be removed.
void make_tree_writable(const fs::path& root) {
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(root, ec))) return;
    ::chmod(root.c_str(), 0700);
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        make_tree_writable(it->path());
    }
}

void ignore_broken_pipes_once() {
    static const bool done = [] {
        std::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)done;
}

int remaining_ms(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

ExitStatus decode_wait_status(int status) {
    ExitStatus result;
    if (WIFEXITED(status)) {
        result.exited = true;
        result.code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

}  // namespace

std::string backend_program() { return VELMORA_BACKEND; }

std::string engine_program() {
#ifdef VELMORA_ENGINE
    return VELMORA_ENGINE;
#else
    return {};
#endif
}

TempDir::TempDir(std::string_view label) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + std::string(label) + ".XXXXXX";
    if (!::mkdtemp(pattern.data())) die("mkdtemp " + pattern);
    path_ = pattern;
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    make_tree_writable(path_);
    std::error_code ec;
    fs::remove_all(path_, ec);
}

TempDir::TempDir(TempDir&& other) noexcept : path_(std::exchange(other.path_, {})) {}

TempDir& TempDir::operator=(TempDir&& other) noexcept {
    if (this != &other) {
        TempDir doomed(std::move(*this));
        path_ = std::exchange(other.path_, {});
    }
    return *this;
}

std::string TempDir::join(std::string_view relative) const { return path_ + "/" + std::string(relative); }

void write_file(const std::string& path, std::string_view bytes, unsigned mode) {
    fs::create_directories(fs::path(path).parent_path());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out) die("open " + path);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) die("write " + path);
    }
    if (::chmod(path.c_str(), static_cast<mode_t>(mode)) != 0) die("chmod " + path);
}

std::optional<std::string> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool path_exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> list_folder(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool give_tree_to(const std::string& path, unsigned uid) {
    const auto owner = static_cast<uid_t>(uid);
    if (::lchown(path.c_str(), owner, static_cast<gid_t>(uid)) != 0) return false;
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(path, ec))) return true;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        if (!give_tree_to(it->path().string(), uid)) return false;
    }
    return !ec;
}

ResourcesDir ResourcesDir::with_engine_script(std::string_view script) {
    ResourcesDir resources;
    write_file(resources.engine_path(), script, 0755);
    return resources;
}

ResourcesDir ResourcesDir::with_real_engine() {
    ResourcesDir resources;
    const std::string engine = engine_program();
    if (engine.empty()) throw std::runtime_error("the engine is not part of this build");
    fs::create_directories(resources.bin_path());
    fs::create_symlink(engine, resources.engine_path());
    return resources;
}

ResourcesDir ResourcesDir::without_engine() {
    ResourcesDir resources;
    fs::create_directories(resources.bin_path());
    return resources;
}

Backend::Backend(BackendOptions options) {
    ignore_broken_pipes_once();

    home_ = options.home.value_or(scratch_.join("home"));
    if (!options.home && !options.unset_home) fs::create_directories(home_);
    if (options.resources) {
        resources_ = *options.resources;
    } else {
        resources_ = scratch_.join("resources");
        fs::create_directories(resources_);
    }

    std::vector<std::string> argv_text;
    if (options.run_as_uid) {
        const std::string id = std::to_string(*options.run_as_uid);
        argv_text = {"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups"};
    }
    argv_text.push_back(backend_program());
    if (options.arguments) {
        argv_text.insert(argv_text.end(), options.arguments->begin(), options.arguments->end());
    } else {
        argv_text.push_back(resources_);
    }

    std::vector<std::string> env_text;
    auto overridden = [&](std::string_view entry) {
        const auto name = entry.substr(0, entry.find('=') + 1);
        if (name == "HOME=") return true;
        for (const auto& extra : options.environment) {
            if (extra.compare(0, name.size(), name) == 0) return true;
        }
        return false;
    };
    for (char** entry = environ; *entry; ++entry) {
        if (!overridden(*entry)) env_text.emplace_back(*entry);
    }
    if (!options.unset_home) env_text.push_back("HOME=" + home_);
    env_text.insert(env_text.end(), options.environment.begin(), options.environment.end());

    std::vector<char*> argv;
    argv.reserve(argv_text.size() + 1);
    for (auto& arg : argv_text) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(env_text.size() + 1);
    for (auto& entry : env_text) envp.push_back(entry.data());
    envp.push_back(nullptr);

    int to_child[2];
    int from_child[2];
    if (::pipe2(to_child, O_CLOEXEC) != 0) die("pipe");
    if (::pipe2(from_child, O_CLOEXEC) != 0) die("pipe");
    const std::string stderr_path = scratch_.join("stderr");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
    posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(to_child[0]);
    ::close(from_child[1]);
    stdin_fd_ = to_child[1];
    stdout_fd_ = from_child[0];
    if (spawned != 0) {
        errno = spawned;
        pid_ = -1;
        die("posix_spawn " + argv_text[0]);
    }
}

Backend::~Backend() {
    if (pid_ > 0 && !exit_status_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (stdin_fd_ >= 0) ::close(stdin_fd_);
    if (stdout_fd_ >= 0) ::close(stdout_fd_);
}

std::string Backend::data_dir() const { return home_ + "/Library/Application Support/Velmora"; }

bool Backend::send_raw(std::string_view bytes) {
    if (stdin_fd_ < 0) return false;
    while (!bytes.empty()) {
        const ssize_t written = ::write(stdin_fd_, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool Backend::send_line(std::string_view text) { return send_raw(std::string(text) + "\n"); }

bool Backend::send(const nlohmann::json& message) { return send_line(message.dump()); }

std::optional<std::string> Backend::read_line(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const auto end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        if (stdout_closed_) return std::nullopt;
        pollfd ready{stdout_fd_, POLLIN, 0};
        const int polled = ::poll(&ready, 1, remaining_ms(deadline));
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) return std::nullopt;
        char buffer[65536];
        const ssize_t got = ::read(stdout_fd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            stdout_closed_ = true;
            continue;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

std::optional<nlohmann::json> Backend::read_message(std::chrono::milliseconds limit) {
    auto line = read_line(limit);
    if (!line) return std::nullopt;
    auto parsed = nlohmann::json::parse(*line, nullptr, false);
    if (parsed.is_discarded()) {
        ADD_FAILURE() << "backend wrote a line that is not JSON: " << *line;
        return std::nullopt;
    }
    return parsed;
}

std::optional<nlohmann::json> Backend::read_reply(const nlohmann::json& id, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        auto message = read_message(std::chrono::milliseconds(remaining_ms(deadline)));
        if (!message) return std::nullopt;
        if (message->is_object() && message->contains("event")) {
            events_.push_back(std::move(*message));
            continue;
        }
        if (message->is_object() && message->value("id", nlohmann::json()) == id) return message;
        ADD_FAILURE() << "unexpected reply while waiting for id " << id.dump() << ": " << message->dump();
    }
}

std::optional<nlohmann::json> Backend::call(const std::string& command, const nlohmann::json& args,
                                            std::chrono::milliseconds limit) {
    const nlohmann::json id = next_id_++;
    if (!send({{"id", id}, {"command", command}, {"args", args}})) return std::nullopt;
    return read_reply(id, limit);
}

void Backend::close_stdin() {
    if (stdin_fd_ >= 0) ::close(stdin_fd_);
    stdin_fd_ = -1;
}

void Backend::close_stdout() {
    if (stdout_fd_ >= 0) ::close(stdout_fd_);
    stdout_fd_ = -1;
    stdout_closed_ = true;
}

std::optional<ExitStatus> Backend::wait_exit(std::chrono::milliseconds limit) {
    if (exit_status_) return exit_status_;
    if (pid_ <= 0) return std::nullopt;
    const auto deadline = Clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exit_status_ = decode_wait_status(status);
            return exit_status_;
        }
        if (done < 0 && errno != EINTR) return std::nullopt;
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string Backend::stderr_text() const { return read_file(scratch_.join("stderr")).value_or(""); }

}  // namespace velmora::testing
