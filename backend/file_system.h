#pragma once

// Folder creation for the settings store and processing; descriptors and
// paths come from the common library.

#include <string>
#include <string_view>
#include <utility>

#include "descriptor.h"
#include "paths.h"
#include "result.h"

namespace velmora {

// Creates `folder` and its missing ancestors (0777 before the umask); an
// existing folder is fine, anything else in the way fails.
Status create_folders(const std::string& folder);

}  // namespace velmora
