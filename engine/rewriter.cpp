#include "rewriter.h"

namespace velmora {

Status write_movie(const std::string&, const std::string&, const std::string&) {
    return fail("write is not available yet");
}

}  // namespace velmora
