#include "token.h"

#include <atomic>
#include <chrono>
#include <cstdint>

#include <unistd.h>

namespace velmora {

namespace {

std::atomic<std::uint64_t> token_counter{0};

std::int64_t nanoseconds_since_epoch() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count();
    return nanoseconds < 0 ? 0 : static_cast<std::int64_t>(nanoseconds);
}

}  // namespace

std::string make_unique_token() {
    const std::uint64_t count = token_counter.fetch_add(1);
    return std::to_string(::getpid()) + "-" + std::to_string(nanoseconds_since_epoch()) + "-" + std::to_string(count);
}

}  // namespace velmora
