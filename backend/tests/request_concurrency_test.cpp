// Requests run on threads of their own: ordering of replies, "shutdown"
// joining running work, end of input abandoning it.

#include <chrono>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/backend_harness.h"

namespace velmora::testing {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;

// An engine whose probe takes `seconds` and then reports an empty movie.
ResourcesDir slow_engine(const char* seconds) {
    return ResourcesDir::with_engine_script(std::string("#!/bin/sh\nsleep ") + seconds +
                                            "\nprintf '{\"streams\":[]}\\n'\n");
}

// A request that keeps its thread busy for a while: an import of one movie
// through the slow engine.
json slow_import(const TempDir& movies, int id) {
    return {{"id", id}, {"command", "import_movies"}, {"args", {{"paths", {movies.join("clip.mov")}}}}};
}

// The long-running request needs the import handler; until it is part of the
// build these tests have nothing to wait for.
bool import_available(Backend& backend) {
    const auto reply = backend.call("import_movies", {{"paths", json::array()}});
    return reply && reply->contains("result");
}

struct SlowSetup {
    ResourcesDir resources;
    TempDir movies;
    explicit SlowSetup(const char* seconds) : resources(slow_engine(seconds)) {
        write_file(movies.join("clip.mov"), "movie");
    }
    BackendOptions options() const {
        BackendOptions options;
        options.resources = resources.path();
        return options;
    }
};

TEST(Concurrency, RepliesComeInTheOrderTheWorkFinishes) {
    SlowSetup setup("1");
    Backend backend(setup.options());
    if (!import_available(backend)) GTEST_SKIP() << "import_movies is not built yet";
    ASSERT_TRUE(backend.send(slow_import(setup.movies, 10)));
    ASSERT_TRUE(backend.send_line(R"({"id":11,"command":"busy"})"));
    const auto first = backend.read_message();
    const auto second = backend.read_message(milliseconds(15000));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(*first, json::parse(R"({"id":11,"result":false})"));
    EXPECT_EQ((*second)["id"], 10);
    EXPECT_TRUE(second->contains("result")) << second->dump();
}

TEST(Concurrency, ShutdownWaitsForRunningRequestsBeforeItsReply) {
    SlowSetup setup("1");
    Backend backend(setup.options());
    if (!import_available(backend)) GTEST_SKIP() << "import_movies is not built yet";
    ASSERT_TRUE(backend.send(slow_import(setup.movies, 20)));
    ASSERT_TRUE(backend.send_line(R"({"id":21,"command":"shutdown"})"));
    const auto first = backend.read_message(milliseconds(15000));
    const auto second = backend.read_line();
    ASSERT_TRUE(first && second);
    EXPECT_EQ((*first)["id"], 20);
    EXPECT_EQ(*second, R"({"id":21,"result":null})");
    const auto status = backend.wait_exit();
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->success());
}

TEST(Concurrency, EndOfInputExitsAtOnceWithoutTheRunningReply) {
    SlowSetup setup("5");
    Backend backend(setup.options());
    if (!import_available(backend)) GTEST_SKIP() << "import_movies is not built yet";
    ASSERT_TRUE(backend.send(slow_import(setup.movies, 30)));
    std::this_thread::sleep_for(milliseconds(200));  // the import is under way
    const auto closed_at = std::chrono::steady_clock::now();
    backend.close_stdin();
    const auto status = backend.wait_exit(milliseconds(3000));
    ASSERT_TRUE(status) << "the service waited for the running import";
    EXPECT_TRUE(status->success());
    EXPECT_LT(std::chrono::steady_clock::now() - closed_at, milliseconds(3000));
    EXPECT_EQ(backend.read_line(milliseconds(500)), std::nullopt);
}

TEST(Concurrency, ManySimultaneousRequestsEachGetOneWholeReply) {
    Backend backend;
    constexpr int kRequests = 300;
    std::string burst;
    for (int i = 0; i < kRequests; ++i) {
        burst +=
            (i % 2 ? R"({"command":"load_settings","id":)" : R"({"command":"busy","id":)") + std::to_string(i) + "}\n";
    }
    ASSERT_TRUE(backend.send_raw(burst));
    std::set<int> seen;
    for (int i = 0; i < kRequests; ++i) {
        const auto reply = backend.read_message();  // a torn line would fail to parse here
        ASSERT_TRUE(reply);
        const int id = (*reply)["id"].get<int>();
        EXPECT_TRUE(seen.insert(id).second) << "second reply for " << id;
        if (id % 2) {
            EXPECT_EQ((*reply)["result"].size(), 20u);
        } else {
            EXPECT_EQ((*reply)["result"], false);
        }
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kRequests));
    ASSERT_TRUE(backend.send_line(R"({"id":"end","command":"shutdown"})"));
    EXPECT_EQ(backend.read_line(), R"({"id":"end","result":null})");
    ASSERT_TRUE(backend.wait_exit());
}

}  // namespace
}  // namespace velmora::testing
