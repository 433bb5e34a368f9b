#pragma once

// Test harness for the real velmora-mac-backend program.
//
//   TempDir dir;                         // mkdtemp folder, removed (even when read-only) on destruction
//   dir.path(); dir.join("a/b");
//
//   write_file(path, bytes, mode);       // creates missing parent folders
//   read_file(path);                     // whole file, std::nullopt when it cannot be read
//   path_exists(path);                   // lstat succeeds
//
//   ResourcesDir res = ResourcesDir::with_engine_script("#!/bin/sh\necho '{}'\n");
//   ResourcesDir res = ResourcesDir::with_real_engine();   // bin/velmora-engine -> the built engine
//   ResourcesDir res = ResourcesDir::without_engine();
//   res.path(); res.engine_path(); res.bin_path();
//
//   BackendOptions options;              // all optional
//   options.resources = res.path();      // the program's first argument (default: an empty temp folder)
//   options.home = "/some/home";         // HOME (default: a fresh temp folder owned by the Backend)
//   options.unset_home = true;           // start without HOME
//   options.arguments = {...};           // replaces the whole argument list after the program name
//   options.environment = {"PATH=..."};  // extra or overriding NAME=VALUE entries
//   options.run_as_uid = 65534;          // run through setpriv as that user and group (needs root)
//   Backend backend(options);            // spawns the program; SIGKILLs and reaps it on destruction
//
//   backend.send_line("{...}");          // writes the text plus "\n"; false once the pipe is gone
//   backend.send_raw(bytes);             // writes bytes exactly
//   backend.send(json);                  // compact JSON plus "\n"
//   backend.read_line(limit);            // next stdout line without its "\n"; nullopt on EOF or timeout
//   backend.read_message(limit);         // next line parsed as JSON (ADD_FAILURE on a non-JSON line)
//   backend.read_reply(id, limit);       // next reply whose "id" equals id; events met on the way go to events()
//   backend.call("busy", args, limit);   // sends {"args","command","id"} with a fresh integer id and returns its reply
//   backend.events();                    // every {"event",...} line read so far, in order
//   backend.close_stdin();
//   backend.close_stdout();              // the service's later writes then fail with a broken pipe
//   backend.wait_exit(limit);            // ExitStatus once the child has ended, nullopt on timeout
//   backend.stderr_text();               // everything the child wrote to stderr so far
//   backend.home(); backend.data_dir();  // HOME and HOME/Library/Application Support/Velmora
//
// Every limit is a std::chrono::milliseconds; the default is kDefaultLimit.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

#include <nlohmann/json.hpp>

namespace velmora::testing {

inline constexpr std::chrono::milliseconds kDefaultLimit{10000};

// Paths of the programs under test, as built.
std::string backend_program();
// Empty when the engine is not part of the build.
std::string engine_program();

class TempDir {
public:
    explicit TempDir(std::string_view label = "velmora-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    TempDir(TempDir&& other) noexcept;
    TempDir& operator=(TempDir&& other) noexcept;

    const std::string& path() const { return path_; }
    std::string join(std::string_view relative) const;

private:
    std::string path_;
};

void write_file(const std::string& path, std::string_view bytes, unsigned mode = 0644);
std::optional<std::string> read_file(const std::string& path);
bool path_exists(const std::string& path);
// Names in a folder, sorted, without "." and "..".
std::vector<std::string> list_folder(const std::string& path);

class ResourcesDir {
public:
    static ResourcesDir with_engine_script(std::string_view script);
    static ResourcesDir with_real_engine();
    static ResourcesDir without_engine();

    const std::string& path() const { return dir_.path(); }
    std::string bin_path() const { return dir_.join("bin"); }
    std::string engine_path() const { return dir_.join("bin/velmora-engine"); }

private:
    ResourcesDir() = default;
    TempDir dir_{"velmora-resources"};
};

struct ExitStatus {
    bool exited = false;  // false: killed by a signal
    int code = -1;        // exit code when exited
    int signal = 0;       // signal number otherwise
    bool success() const { return exited && code == 0; }
};

struct BackendOptions {
    std::optional<std::string> resources;
    std::optional<std::string> home;
    bool unset_home = false;
    std::optional<std::vector<std::string>> arguments;
    std::vector<std::string> environment;
    std::optional<unsigned> run_as_uid;
};

// Gives a whole tree to a user (for run_as_uid); false if that fails.
bool give_tree_to(const std::string& path, unsigned uid);

class Backend {
public:
    explicit Backend(BackendOptions options = {});
    ~Backend();
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& home() const { return home_; }
    std::string data_dir() const;
    const std::string& resources() const { return resources_; }

    bool send_line(std::string_view text);
    bool send_raw(std::string_view bytes);
    bool send(const nlohmann::json& message);

    std::optional<std::string> read_line(std::chrono::milliseconds limit = kDefaultLimit);
    std::optional<nlohmann::json> read_message(std::chrono::milliseconds limit = kDefaultLimit);
    std::optional<nlohmann::json> read_reply(const nlohmann::json& id, std::chrono::milliseconds limit = kDefaultLimit);
    std::optional<nlohmann::json> call(const std::string& command,
                                       const nlohmann::json& args = nlohmann::json::object(),
                                       std::chrono::milliseconds limit = kDefaultLimit);
    const std::vector<nlohmann::json>& events() const { return events_; }

    void close_stdin();
    void close_stdout();
    std::optional<ExitStatus> wait_exit(std::chrono::milliseconds limit = kDefaultLimit);
    std::string stderr_text() const;

private:
    TempDir scratch_{"velmora-backend"};
    std::string home_;
    std::string resources_;
    pid_t pid_ = -1;
    int stdin_fd_ = -1;
    int stdout_fd_ = -1;
    std::string pending_;
    bool stdout_closed_ = false;
    std::optional<ExitStatus> exit_status_;
    std::vector<nlohmann::json> events_;
    long long next_id_ = 1;
};

}  // namespace velmora::testing
