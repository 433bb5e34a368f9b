#pragma once

#include <nlohmann/json.hpp>

#include "result.h"
#include "service_state.h"

namespace velmora {

// "reveal": shows an output that this process published in the file manager;
// fails with "No file manager answered" when every opener failed to start or
// exited unsuccessfully.
Result<nlohmann::json> reveal(ServiceState& state, const nlohmann::json& args);
// "third_party_notices": opens the notices page under the resources folder.
Result<nlohmann::json> third_party_notices(ServiceState& state);

}  // namespace velmora
