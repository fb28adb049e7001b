#include "extract/worker_pool.hpp"

#include "core/error.hpp"
#include "core/interrupt.hpp"
#include "core/os_error.hpp"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <string>
#include <thread>

namespace kuv::extract {

// A joined-on-destruction POSIX thread with a large stack and every signal blocked, so that
// signals keep reaching the threads of the embedding program.
class WorkerPool::Thread {
public:
    Thread(WorkerPool& pool, unsigned number) {
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, kStackBytes);
        sigset_t all_signals;
        sigset_t previous;
        sigfillset(&all_signals);
        pthread_sigmask(SIG_SETMASK, &all_signals, &previous);
        const int result = pthread_create(&handle_, &attributes, &Thread::main, &pool);
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        pthread_attr_destroy(&attributes);
        if (result != 0) throw Fatal("failed to spawn a worker thread: " + os_error_text(result));
        const std::string name = "kuv-worker-" + std::to_string(number);
        pthread_setname_np(handle_, name.c_str());
    }
    ~Thread() { pthread_join(handle_, nullptr); }
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

private:
    static void* main(void* pool) {
        static_cast<WorkerPool*>(pool)->work();
        return nullptr;
    }
    pthread_t handle_{};
};

WorkerPool::WorkerPool(unsigned thread_count) {
    try {
        for (unsigned i = 0; i < thread_count; ++i) threads_.push_back(std::make_unique<Thread>(*this, i));
    } catch (...) {
        stop();
        throw;
    }
}

WorkerPool::~WorkerPool() { stop(); }

void WorkerPool::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_available_.notify_all();
    threads_.clear();  // joins
}

void WorkerPool::enqueue(Batch& batch) {
    if (batch.queued_ || batch.next_ == batch.released_) return;
    batch.queued_ = true;
    queue_.push_back(&batch);
}

void WorkerPool::wake(std::size_t task_count) {
    // One worker per new task: waking them all for one task sends all but one back to sleep, at
    // the cost of the thread that released it.
    if (task_count >= threads_.size()) {
        work_available_.notify_all();
        return;
    }
    for (std::size_t i = 0; i < task_count; ++i) work_available_.notify_one();
}

void WorkerPool::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_available_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        Batch& batch = *queue_.front();
        const std::size_t index = batch.next_++;
        if (batch.next_ == batch.released_) {
            queue_.pop_front();
            batch.queued_ = false;
        }
        ++batch.running_;
        lock.unlock();
        std::exception_ptr failure;
        try {
            batch.task_(index);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        batch.done_[index] = true;
        if (failure) batch.failures_.emplace_back(index, std::move(failure));
        --batch.running_;
        batch.progress_.notify_all();
    }
}

WorkerPool::Batch::Batch(WorkerPool& pool, std::function<void(std::size_t)> task)
    : pool_(pool), task_(std::move(task)) {}

WorkerPool::Batch::~Batch() { cancel(); }

void WorkerPool::Batch::cancel() {
    std::unique_lock lock(pool_.mutex_);
    released_ = next_;  // nothing more is handed out
    if (queued_) std::erase(pool_.queue_, this);
    progress_.wait(lock, [&] { return running_ == 0; });
}

void WorkerPool::Batch::release(std::size_t count) {
    std::size_t added = 0;
    {
        std::lock_guard lock(pool_.mutex_);
        if (count <= released_) return;
        added = count - released_;
        released_ = count;
        done_.resize(count);
        pool_.enqueue(*this);
    }
    pool_.wake(added);
}

void WorkerPool::Batch::wait(std::size_t index) {
    std::unique_lock lock(pool_.mutex_);
    while (!done_[index]) {
        if (progress_.wait_for(lock, kInterruptPollInterval, [&] { return done_[index]; })) break;
        lock.unlock();  // the probe may take other locks
        poll_interrupt();
        lock.lock();
    }
    const auto failed = std::find_if(failures_.begin(), failures_.end(), [&](const auto& f) { return f.first == index; });
    if (failed != failures_.end()) std::rethrow_exception(failed->second);
}

bool WorkerPool::Batch::succeeded(std::size_t index) {
    std::lock_guard lock(pool_.mutex_);
    if (index >= done_.size() || !done_[index]) return false;
    return std::none_of(failures_.begin(), failures_.end(), [&](const auto& f) { return f.first == index; });
}

namespace {

unsigned core_count() {
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 0) return CPU_COUNT(&cpus);
    return std::max(1u, std::thread::hardware_concurrency());
}

// The shared pool and the lock guarding its creation. The pool is created on first use and never
// destroyed. fork() is bracketed by handlers that hold the lock, so the child never inherits it
// locked; the child then forgets the parent's pool, whose threads do not exist in the child and
// whose lock and condition variables may be left in any state, and builds its own on first use.
std::mutex registry_mutex;
WorkerPool* shared_pool = nullptr;

void lock_registry() { registry_mutex.lock(); }
void unlock_registry() { registry_mutex.unlock(); }
void reset_registry_in_child() {
    shared_pool = nullptr;
    registry_mutex.unlock();
}

}  // namespace

WorkerPool& WorkerPool::shared() {
    static std::once_flag fork_handlers;
    std::call_once(fork_handlers, [] { pthread_atfork(lock_registry, unlock_registry, reset_registry_in_child); });
    std::lock_guard lock(registry_mutex);
    if (shared_pool == nullptr) shared_pool = std::make_unique<WorkerPool>(core_count()).release();
    return *shared_pool;
}

}  // namespace kuv::extract
