#include "request_reader.h"

#include <cerrno>

#include <unistd.h>

#include "utf8.h"

namespace velmora {

namespace {

constexpr std::size_t kReadChunk = std::size_t{64} * 1024;

void strip_line_ending(std::string& line) {
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
}

}  // namespace

Result<std::optional<std::string>> RequestReader::next_line() {
    for (;;) {
        const auto end = buffer_.find('\n', start_ + scanned_);
        const bool have_rest = ended_ && start_ < buffer_.size();
        if (end != std::string::npos || have_rest) {
            const std::size_t stop = end == std::string::npos ? buffer_.size() : end + 1;
            std::string line = buffer_.substr(start_, stop - start_);
            start_ = stop;
            scanned_ = 0;
            if (!is_valid_utf8(line)) return fail("stream did not contain valid UTF-8");
            strip_line_ending(line);
            return line;
        }
        if (ended_) return std::optional<std::string>();
        // Drop what was handed out before growing the buffer.
        buffer_.erase(0, start_);
        start_ = 0;
        scanned_ = buffer_.size();
        const std::size_t old_size = buffer_.size();
        buffer_.resize(old_size + kReadChunk);
        const ssize_t got = ::read(fd_, buffer_.data() + old_size, kReadChunk);
        buffer_.resize(old_size + (got > 0 ? static_cast<std::size_t>(got) : 0));
        if (got < 0) {
            if (errno == EINTR) continue;
            return fail(system_error_text(errno));
        }
        if (got == 0) ended_ = true;
    }
}

}  // namespace velmora
