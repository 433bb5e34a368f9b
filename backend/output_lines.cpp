#include "output_lines.h"

#include <mutex>
#include <string>

#include <unistd.h>

#include "descriptor.h"
#include "json_text.h"

namespace velmora {

void emit_message(const nlohmann::json& message) {
    static std::mutex output_lock;
    const std::string line = to_compact_json(message) + "\n";
    std::lock_guard lock(output_lock);
    (void)write_all(STDOUT_FILENO, line);
}

}  // namespace velmora
