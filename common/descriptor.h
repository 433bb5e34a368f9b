#pragma once

// Descriptor ownership and the read and write loops around it.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <sys/types.h>

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
    // Gives the descriptor up without closing it.
    int release() { return std::exchange(fd_, -1); }
    // Closes now, ignoring a failing close.
    void reset();
    // Closes now and reports a failing close with the system's error text.
    Status close();

private:
    int fd_ = -1;
};

// Writes every byte, retrying short and interrupted writes.
Status write_all(int fd, std::string_view bytes);

// Writes every byte at the offset, retrying short and interrupted writes; a
// write that moves nothing gives "failed to write whole buffer".
Status write_all_at(int fd, std::uint64_t offset, std::span<const std::uint8_t> bytes);

// Reads exactly out.size() bytes at the offset; a short file gives
// "failed to fill whole buffer".
Status read_exact_at(int fd, std::uint64_t offset, std::span<std::uint8_t> out);

// Creates `path` for writing, failing with the system's file-exists text
// when anything (also a dangling link) is there already.
Result<UniqueFd> create_exclusive(const std::string& path, mode_t mode);

}  // namespace velmora
