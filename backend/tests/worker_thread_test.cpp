#include "worker_thread.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>
#include <pthread.h>

#include "protocol.h"

namespace velmora {
namespace {

TEST(WorkerThread, RunsWithTheRequestedStack) {
    std::size_t stack_bytes = 0;
    auto worker = WorkerThread::start(
        [&] {
            pthread_attr_t attributes;
            ASSERT_EQ(::pthread_getattr_np(::pthread_self(), &attributes), 0);
            ::pthread_attr_getstacksize(&attributes, &stack_bytes);
            ::pthread_attr_destroy(&attributes);
        },
        kRequestStackBytes);
    ASSERT_TRUE(worker.has_value());
    worker->join();
    EXPECT_GE(stack_bytes, kRequestStackBytes);
    EXPECT_GE(kRequestStackBytes, std::size_t{2} << 20);
}

TEST(WorkerThread, ReportsFinishedOnlyAfterTheBody) {
    std::atomic<bool> release{false};
    auto worker = WorkerThread::start(
        [&] {
            while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        },
        kRequestStackBytes);
    ASSERT_TRUE(worker.has_value());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(worker->finished());
    release.store(true);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!worker->finished() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(worker->finished());
    worker->join();
}

}  // namespace
}  // namespace velmora
