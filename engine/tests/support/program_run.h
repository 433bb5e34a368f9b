#pragma once
// Runs a program without a shell and collects what it printed:
//
//   ProgramOutput result = run_program({VELMORA_ENGINE, "probe", path});
//   EXPECT_EQ(result.status, 0);
//
// Arguments are raw bytes. `status` is the exit status, or 128 plus the
// signal number when the program was killed.

#include <string>
#include <vector>

namespace velmora::testing {

struct ProgramOutput {
    int status = -1;
    std::string out;
    std::string err;
};

ProgramOutput run_program(const std::vector<std::string>& argv);

}  // namespace velmora::testing
