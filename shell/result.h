#pragma once

#include <expected>
#include <string>

namespace velmora {

// Every shell operation answers a value or one message; the message reaches
// the page unchanged as the rejection of its promise.
template <typename T>
using Result = std::expected<T, std::string>;

using Status = Result<void>;

inline std::unexpected<std::string> fail(std::string message) {
    return std::unexpected<std::string>(std::move(message));
}

// "<strerror text> (os error N)" for the given errno value.
std::string system_error_text(int error_number);

}  // namespace velmora
