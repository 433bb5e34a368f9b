#pragma once

// Where the resources folder (bin/, ui/, notices/) is, seen from the program
// that needs it: the shell and the command line look in the same places.

#include <functional>
#include <string>
#include <vector>

namespace velmora {

// Where the resources folder may be, relative to the executable: the build
// tree's "resources" beside the program's folder, then the installed layouts.
std::vector<std::string> resource_candidates(const std::string& executable);

// The first candidate holding the backend, else the first one at all (the
// launch then fails with a message that names what is missing).
std::string choose_resources(const std::vector<std::string>& candidates,
                             const std::function<bool(const std::string&)>& exists);

// The first candidate of `executable` holding the backend, resolved.
std::string find_resources(const std::string& executable);

}  // namespace velmora
