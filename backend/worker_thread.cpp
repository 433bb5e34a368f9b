#include "worker_thread.h"

#include <utility>

namespace velmora {

namespace {

// Owns a pthread attribute object for the duration of one start.
class ThreadAttributes {
public:
    ThreadAttributes() { ok_ = ::pthread_attr_init(&attributes_) == 0; }
    ~ThreadAttributes() {
        if (ok_) ::pthread_attr_destroy(&attributes_);
    }
    ThreadAttributes(const ThreadAttributes&) = delete;
    ThreadAttributes& operator=(const ThreadAttributes&) = delete;

    bool set_stack_size(std::size_t bytes) { return ok_ && ::pthread_attr_setstacksize(&attributes_, bytes) == 0; }
    const pthread_attr_t* get() const { return &attributes_; }

private:
    pthread_attr_t attributes_{};
    bool ok_ = false;
};

}  // namespace

Result<WorkerThread> WorkerThread::start(std::function<void()> body, std::size_t stack_bytes) {
    ThreadAttributes attributes;
    if (!attributes.set_stack_size(stack_bytes)) return fail("failed to spawn thread");
    auto shared = std::make_shared<Shared>();
    shared->body = std::move(body);
    // The new thread owns one reference until it ends, so the body outlives
    // a handle that is dropped while it runs.
    auto handed_over = std::make_unique<std::shared_ptr<Shared>>(shared);
    pthread_t thread{};
    if (::pthread_create(&thread, attributes.get(), &WorkerThread::run, handed_over.get()) != 0) {
        return fail("failed to spawn thread");
    }
    (void)handed_over.release();  // adopted by run()
    return WorkerThread(thread, std::move(shared));
}

void* WorkerThread::run(void* raw) {
    const std::unique_ptr<std::shared_ptr<Shared>> owned(static_cast<std::shared_ptr<Shared>*>(raw));
    const std::shared_ptr<Shared> shared = *owned;
    shared->body();
    shared->body = nullptr;
    shared->finished.store(true);
    return nullptr;
}

WorkerThread::WorkerThread(pthread_t thread, std::shared_ptr<Shared> shared)
    : thread_(thread), joinable_(true), shared_(std::move(shared)) {}

WorkerThread::WorkerThread(WorkerThread&& other) noexcept
    : thread_(other.thread_), joinable_(std::exchange(other.joinable_, false)), shared_(std::move(other.shared_)) {}

WorkerThread& WorkerThread::operator=(WorkerThread&& other) noexcept {
    if (this != &other) {
        if (joinable_) ::pthread_detach(thread_);
        thread_ = other.thread_;
        joinable_ = std::exchange(other.joinable_, false);
        shared_ = std::move(other.shared_);
    }
    return *this;
}

WorkerThread::~WorkerThread() {
    if (joinable_) ::pthread_detach(thread_);
}

bool WorkerThread::finished() const { return shared_ && shared_->finished.load(); }

void WorkerThread::join() {
    if (!joinable_) return;
    ::pthread_join(thread_, nullptr);
    joinable_ = false;
}

}  // namespace velmora
