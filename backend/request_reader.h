#pragma once

#include <optional>
#include <string>

#include "result.h"

namespace velmora {

// Buffered line reader over a file descriptor. Each line must be UTF-8.
class RequestReader {
public:
    explicit RequestReader(int fd) : fd_(fd) {}

    // The next line without its "\n" (and a "\r" before it); nothing at the
    // end of input. Fails with the system's error text or, for a line that is
    // not UTF-8, "stream did not contain valid UTF-8".
    Result<std::optional<std::string>> next_line();

private:
    int fd_;
    std::string buffer_;
    std::size_t start_ = 0;    // first byte of buffer_ not yet handed out
    std::size_t scanned_ = 0;  // bytes from start_ known to hold no "\n"
    bool ended_ = false;
};

}  // namespace velmora
