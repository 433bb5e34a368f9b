#include "progress_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace velmora::cli {

void ProgressLine::update(const nlohmann::json& payload) {
    if (!payload.is_object()) return;
    if (const auto index = payload.find("index"); index != payload.end() && index->is_number_integer()) {
        const auto at = index->get<std::int64_t>();
        index_ =
            std::min(static_cast<std::size_t>(std::max<std::int64_t>(at, 0)), sizes_.empty() ? 0 : sizes_.size() - 1);
    }
    const auto progress = payload.find("progress");
    const bool known = progress != payload.end() && progress->is_number();
    fraction_ = known ? std::clamp(progress->get<double>(), 0.0, 1.0) : 0.0;
}

double ProgressLine::done_bytes() const {
    if (sizes_.empty()) return 0;
    const auto before = std::accumulate(sizes_.begin(), sizes_.begin() + static_cast<std::ptrdiff_t>(index_), 0.0);
    return before + fraction_ * static_cast<double>(sizes_[index_]);
}

std::string clock_text(double seconds) {
    const auto whole = static_cast<long long>(std::llround(std::max(seconds, 0.0)));
    char text[48];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    }
    return text;
}

std::string ProgressLine::text(double elapsed_seconds) const {
    const double total = std::accumulate(sizes_.begin(), sizes_.end(), 0.0);
    const double done = done_bytes();
    const int percent = total > 0 ? static_cast<int>(std::floor(done * 100 / total)) : 0;
    char head[96];
    std::snprintf(head, sizeof head, "Movie %zu of %zu  %d%%", sizes_.empty() ? 0 : index_ + 1, sizes_.size(), percent);
    std::string line = head;
    if (done <= 0 || elapsed_seconds <= 0) return line;
    const double rate = done / elapsed_seconds;
    char speed[48];
    std::snprintf(speed, sizeof speed, "  %.1f MB/s  ", rate / 1e6);
    return line + speed + clock_text((total - done) / rate) + " left";
}

}  // namespace velmora::cli
