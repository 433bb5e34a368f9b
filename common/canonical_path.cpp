#include <cerrno>
#include <cstdlib>
#include <memory>

#include "paths.h"

// A file of its own: the shell still defines a function of this name and
// signature (navigation.h), and a program that takes other path helpers must
// not pull this one in beside it.
namespace velmora {

Result<std::string> canonical_path(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return fail(system_error_text(errno));
    return std::string(resolved.get());
}

}  // namespace velmora
