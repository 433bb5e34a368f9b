#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>

#include <pthread.h>

#include "result.h"

namespace velmora {

// A joinable thread with a chosen stack size (std::thread cannot set one).
// A thread still running when its handle is destroyed is detached.
class WorkerThread {
public:
    static Result<WorkerThread> start(std::function<void()> body, std::size_t stack_bytes);

    WorkerThread(WorkerThread&& other) noexcept;
    WorkerThread& operator=(WorkerThread&& other) noexcept;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread();

    // True once the body has returned (joining is then immediate).
    bool finished() const;
    void join();

private:
    struct Shared {
        std::function<void()> body;
        std::atomic<bool> finished{false};
    };
    WorkerThread(pthread_t thread, std::shared_ptr<Shared> shared);
    static void* run(void* raw);

    pthread_t thread_{};
    bool joinable_ = false;
    std::shared_ptr<Shared> shared_;
};

}  // namespace velmora
