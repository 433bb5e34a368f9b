#pragma once

// The fake gdbus and xdg-open of tests/fake_openers, copied into a temporary
// bin folder; each run appends one line to a log:
//
//   FakeOpeners fakes;
//   fakes.bin();                 // put first on PATH (or use environment())
//   fakes.environment();         // {"PATH=...", "VELMORA_OPENER_LOG=..."} for a Backend
//   fakes.wait_for_lines(2);     // the log's lines once there are at least 2 (or the limit passed)
//   fakes.remove("gdbus");       // as if it was not installed

#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

#include "backend_harness.h"

namespace velmora::testing {

struct OpenerRun {
    std::string arguments;  // program name and arguments joined by "|"
    pid_t pid = -1;
    std::string stdin_target;
    std::string stdout_target;
    // With VELMORA_OPENER_PROBE_FD set: "inherited" or "closed".
    std::string probe;
};

class FakeOpeners {
public:
    FakeOpeners();

    std::string bin() const { return dir_.join("bin"); }
    std::string log() const { return dir_.join("openers.log"); }
    std::vector<std::string> environment() const;

    std::vector<OpenerRun> lines() const;
    std::vector<OpenerRun> wait_for_lines(std::size_t count,
                                          std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) const;
    void remove(const std::string& program) const;

private:
    TempDir dir_{"velmora-openers"};
};

// True once no process with this id exists any more (a zombie still does).
bool wait_until_gone(pid_t pid, std::chrono::milliseconds limit);

}  // namespace velmora::testing
