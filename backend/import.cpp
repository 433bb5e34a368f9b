#include "import.h"

namespace velmora {

// Placeholder until the import lands.
Result<nlohmann::json> import_movies(ServiceState&, const std::vector<std::string>&, const nlohmann::json&) {
    return fail("Not available yet.");
}

}  // namespace velmora
