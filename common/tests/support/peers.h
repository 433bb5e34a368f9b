#pragma once

// The programs the interop tests compare against (ffmpeg, ffprobe,
// MediaInfo, strace). A developer's machine may lack them: the test then
// skips and says what is missing. CI installs them all and sets CI, so
// there a missing one fails the test instead of passing it unseen.
//
//   VELMORA_REQUIRE_PROGRAMS("ffmpeg", "ffprobe");  // in a test or in SetUp

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace velmora::testing {

// Whether an executable file of that name lies in a folder of PATH.
bool program_on_path(std::string_view name);
// "not installed: a, b" for the programs not on PATH; nothing when all are.
std::optional<std::string> missing_programs(std::initializer_list<std::string_view> names);
// True when the variable CI is set and not empty.
bool peers_required();

}  // namespace velmora::testing

// Returns from the enclosing void function (a test body or SetUp) unless
// every named program is on PATH: a failure under CI, else a skip.
#define VELMORA_REQUIRE_PROGRAMS(...)                                                            \
    do {                                                                                         \
        if (const auto velmora_missing_ = ::velmora::testing::missing_programs({__VA_ARGS__})) { \
            if (::velmora::testing::peers_required())                                            \
                FAIL() << *velmora_missing_ << " (CI is set: every peer must be there)";         \
            GTEST_SKIP() << *velmora_missing_;                                                   \
        }                                                                                        \
    } while (0)
