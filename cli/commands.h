#pragma once

// The commands of `velmora`, each answering the program's exit status.

#include <string>

#include "arguments.h"

namespace velmora::cli {

inline constexpr int kExitDone = 0;           // every movie done or skipped
inline constexpr int kExitFailed = 1;         // any movie failed or refused
inline constexpr int kExitUsage = 2;          // the command line is wrong
inline constexpr int kExitInterrupted = 130;  // Ctrl+C: the batch was cancelled

int run_probe(const Arguments& arguments, const std::string& resources);
int run_stamp(const Arguments& arguments, const std::string& resources);
int run_restore(const Arguments& arguments, const std::string& resources);
// Replaces this process with the window; answers only when it cannot.
int run_window(const Arguments& arguments, const std::string& resources);

}  // namespace velmora::cli
