#include "opener.h"

namespace velmora {

// Placeholders until reveal and notices land.
Result<nlohmann::json> reveal(ServiceState&, const nlohmann::json&) { return fail("Not available yet."); }
Result<nlohmann::json> third_party_notices(ServiceState&) { return fail("Not available yet."); }

}  // namespace velmora
