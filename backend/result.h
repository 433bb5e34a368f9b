#pragma once

#include <expected>
#include <string>

namespace velmora {

// Every backend operation answers a value or one message; the message ends up
// unchanged in the reply's "error".
template <typename T>
using Result = std::expected<T, std::string>;

using Status = Result<void>;

inline std::unexpected<std::string> fail(std::string message) {
    return std::unexpected<std::string>(std::move(message));
}

// "<strerror text> (os error N)" for the given errno value.
std::string system_error_text(int error_number);

}  // namespace velmora
