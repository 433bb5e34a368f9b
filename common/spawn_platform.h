#pragma once

// The parts of starting a child that differ between macOS and Linux.

#include <spawn.h>

namespace velmora {

// Makes a spawned child start with only the descriptors its file actions
// set up (0, 1 and 2), whatever else this process holds open. Returns 0 or
// an error number.
int limit_child_descriptors(posix_spawn_file_actions_t& actions, posix_spawnattr_t& attributes);
// Keeps one of this process's standard streams open, unchanged, in a child
// whose descriptors limit_child_descriptors limits. Returns 0 or an error
// number.
int inherit_in_child(posix_spawn_file_actions_t& actions, int fd);

// A pipe whose two ends are close-on-exec: ends[0] reads, ends[1] writes.
// Returns 0 or an error number.
int open_close_on_exec_pipe(int ends[2]);

}  // namespace velmora
