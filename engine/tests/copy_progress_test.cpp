#include "copy_progress.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace velmora {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

TEST(CopyProgress, ReportsOnlyChangesOfK) {
    struct Case {
        std::uint64_t total;
        std::vector<std::uint64_t> copied;
        std::vector<unsigned> expected;
    };
    const std::vector<Case> cases = {
        {100, {100}, {90}},
        {1000, {5, 11, 12, 23, 1000}, {1, 2, 90}},
        {10 * kMiB, {4 * kMiB, 8 * kMiB, 10 * kMiB}, {36, 72, 90}},
        {90, {1, 2, 2, 90}, {1, 2, 90}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.total);
        CopyProgress progress(c.total);
        std::vector<unsigned> reported;
        for (std::uint64_t copied : c.copied)
            if (const auto k = progress.advance(copied)) reported.push_back(*k);
        EXPECT_EQ(reported, c.expected);
    }
}

TEST(CopyProgress, ShortestDecimalLines) {
    const std::vector<std::pair<unsigned, std::string>> cases = {
        {1, "progress=0.01\n"},  {7, "progress=0.07\n"},  {10, "progress=0.1\n"}, {25, "progress=0.25\n"},
        {29, "progress=0.29\n"}, {57, "progress=0.57\n"}, {90, "progress=0.9\n"}, {89, "progress=0.89\n"},
    };
    for (const auto& [k, line] : cases) EXPECT_EQ(progress_line(k), line) << k;
}

}  // namespace
}  // namespace velmora
