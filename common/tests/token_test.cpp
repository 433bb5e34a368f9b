#include "token.h"

#include <charconv>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

namespace velmora {
namespace {

struct TokenParts {
    long long pid = -1;
    long long nanos = -1;
    unsigned long long count = 0;
};

// Splits "PID-NANOS-COUNT", failing the test on any other shape.
TokenParts split(const std::string& token) {
    TokenParts parts;
    const char* at = token.data();
    const char* end = token.data() + token.size();
    auto number = [&](auto& into, bool last) {
        const auto [next, error] = std::from_chars(at, end, into);
        EXPECT_EQ(error, std::errc()) << token;
        EXPECT_NE(next, at) << token;
        at = next;
        if (!last) {
            EXPECT_TRUE(at < end && *at == '-') << token;
            ++at;
        }
    };
    number(parts.pid, false);
    number(parts.nanos, false);
    number(parts.count, true);
    EXPECT_EQ(at, end) << token;
    return parts;
}

TEST(UniqueToken, IsPidNanosecondsAndAGrowingCounter) {
    const auto first = split(make_unique_token());
    const auto second = split(make_unique_token());
    EXPECT_EQ(first.pid, ::getpid());
    EXPECT_GT(first.nanos, 1'600'000'000'000'000'000LL);  // after 2020
    EXPECT_GE(second.nanos, first.nanos);
    EXPECT_EQ(second.count, first.count + 1);
}

TEST(UniqueToken, ThreadsNeverShareACounterValue) {
    constexpr int kThreads = 8;
    constexpr int kPerThread = 2000;
    std::vector<std::vector<std::string>> made(kThreads);
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&made, t] {
            for (int i = 0; i < kPerThread; ++i) made[t].push_back(make_unique_token());
        });
    }
    for (auto& thread : threads) thread.join();
    std::set<unsigned long long> counts;
    for (const auto& list : made) {
        for (const auto& token : list) counts.insert(split(token).count);
    }
    EXPECT_EQ(counts.size(), static_cast<std::size_t>(kThreads * kPerThread));
    EXPECT_EQ(*counts.rbegin() - *counts.begin() + 1, counts.size());  // no gaps either
}

}  // namespace
}  // namespace velmora
