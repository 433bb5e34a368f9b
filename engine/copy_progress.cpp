#include "copy_progress.h"

#include <charconv>

#include "names.h"

namespace velmora {

std::optional<unsigned> CopyProgress::advance(std::uint64_t copied) {
    const auto k = static_cast<unsigned>(copied * 90 / total_);
    if (k == last_) return std::nullopt;
    last_ = k;
    return k;
}

std::string progress_line(unsigned k) {
    char number[32];
    const auto end =
        std::to_chars(number, number + sizeof number, static_cast<double>(k) / 100.0, std::chars_format::fixed).ptr;
    return std::string(kProgressPrefix) + std::string(number, end) + "\n";
}

}  // namespace velmora
