#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

namespace velmora::platform {

// Runs work on the main thread's event loop, in submission order. Safe to call
// from any thread.
void post_to_main(std::function<void()> work);

// Calls on_exit on the main thread once the child has ended; the child is
// reaped. The returned handle cancels the watch when passed to unwatch_child.
unsigned watch_child(pid_t pid, std::function<void()> on_exit);
void unwatch_child(unsigned watch);

// The absolute path of the running executable, if the system tells it.
std::optional<std::string> executable_path();

// A write to a pipe whose reader has gone must fail with EPIPE, not kill us.
void ignore_broken_pipe();

}  // namespace velmora::platform
