#pragma once

#include <string>
#include <string_view>

#include "service_state.h"

namespace velmora {

// Paths compare component by component: repeated separators, "." parts and
// a trailing separator do not count, ".." parts and letter case do.
std::string path_comparison_key(std::string_view path);

// Remembers an output that this process published, so "reveal" accepts it.
void record_published_output(ServiceState& state, const std::string& path);
bool is_published_output(ServiceState& state, const std::string& path);

}  // namespace velmora
