#include "processing.h"

namespace velmora {

// Placeholder until processing lands.
Result<nlohmann::json> process_movies(ServiceState&, const std::vector<std::string>&,
                                      const std::map<std::string, std::string>&, const nlohmann::json&) {
    return fail("Not available yet.");
}

}  // namespace velmora
