#pragma once

// Small POSIX file helpers shared by the settings store and processing.

#include <string>
#include <string_view>
#include <utility>

#include "result.h"

namespace velmora {

// Owns one file descriptor and closes it on destruction.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    explicit operator bool() const { return fd_ >= 0; }
    int get() const { return fd_; }
    void reset();
    // Closes now and reports a failing close with the system's error text.
    Status close();

private:
    int fd_ = -1;
};

// Writes every byte, retrying short and interrupted writes.
Status write_all(int fd, std::string_view bytes);

// Creates `folder` and its missing ancestors (0777 before the umask); an
// existing folder is fine, anything else in the way fails.
Status create_folders(const std::string& folder);

// `relative` appended to `base` with one "/" between them.
std::string join_path(std::string_view base, std::string_view relative);
// Text before the last "/" ("" when there is none, "/" for a top-level entry).
std::string parent_folder(std::string_view path);
// Text after the last "/".
std::string_view last_component(std::string_view path);
// `path` with the extension of its last component (after its last dot, if
// that dot is not the first character) replaced by `extension`, or with "."
// and `extension` appended when it has none.
std::string with_extension(std::string_view path, std::string_view extension);

}  // namespace velmora
