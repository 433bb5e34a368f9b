#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bridge.h"

namespace velmora {

// The desktop's own file choosers, modal over `parent`. `done` runs once the
// chooser closes: with the chosen paths (none when cancelled) or the place
// to save (nothing when cancelled).
void show_open_chooser(GtkWindow* parent, const ChooserSpec& recipe,
                       std::function<void(std::vector<std::string>)> done);
void show_save_chooser(GtkWindow* parent, const SaveSpec& recipe, std::function<void(std::optional<SaveChoice>)> done);

}  // namespace velmora
