#pragma once

#include <expected>
#include <string>

namespace velmora {

// Every operation answers a value or one message; the message travels
// unchanged to whoever shows it (the engine's command line, the backend's
// reply "error").
template <typename T>
using Result = std::expected<T, std::string>;

using Status = Result<void>;

inline std::unexpected<std::string> fail(std::string message) {
    return std::unexpected<std::string>(std::move(message));
}

// "<strerror text> (os error N)" for the given errno value.
std::string system_error_text(int error_number);

}  // namespace velmora

// Unwraps a Result or returns its message from the enclosing function.
// `decl` is a declaration and `tmp` a name: neither can be parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define VELMORA_CONCAT_INNER(a, b) a##b
#define VELMORA_CONCAT(a, b) VELMORA_CONCAT_INNER(a, b)
#define VELMORA_TRY_IMPL(tmp, decl, expr)                     \
    auto tmp = (expr);                                        \
    if (!tmp) return std::unexpected(std::move(tmp).error()); \
    decl = std::move(*tmp)
#define TRY(decl, expr) VELMORA_TRY_IMPL(VELMORA_CONCAT(try_result_, __LINE__), decl, expr)
#define TRY_VOID(expr)                                                            \
    do {                                                                          \
        auto try_status_ = (expr);                                                \
        if (!try_status_) return std::unexpected(std::move(try_status_).error()); \
    } while (0)
// NOLINTEND(bugprone-macro-parentheses)
