#include "extract/worker_pool.hpp"

#include "core/error.hpp"
#include "core/os_error.hpp"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <string>
#include <thread>

namespace kuv::extract {

struct WorkerPool::Batch {
    const std::function<void(std::size_t)>* task;
    std::size_t count;
    std::size_t next = 0;  // the next task to hand out
    std::size_t finished = 0;
    std::exception_ptr failure;
};

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

void WorkerPool::run(std::size_t count, const std::function<void(std::size_t)>& task) {
    if (count == 0) return;
    Batch batch{&task, count, 0, 0, nullptr};
    std::unique_lock lock(mutex_);
    queue_.push_back(&batch);
    work_available_.notify_all();
    batch_finished_.wait(lock, [&] { return batch.finished == batch.count; });
    if (batch.failure) std::rethrow_exception(batch.failure);
}

void WorkerPool::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_available_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        Batch& batch = *queue_.front();
        const std::size_t index = batch.next++;
        if (batch.next == batch.count) queue_.pop_front();
        const bool skip = static_cast<bool>(batch.failure);
        lock.unlock();
        std::exception_ptr failure;
        if (!skip) {
            try {
                (*batch.task)(index);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        lock.lock();
        finish_one(batch, failure);
    }
}

void WorkerPool::finish_one(Batch& batch, std::exception_ptr failure) {
    if (failure && !batch.failure) batch.failure = std::move(failure);
    if (++batch.finished == batch.count) batch_finished_.notify_all();
}

namespace {

unsigned core_count() {
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 0) return CPU_COUNT(&cpus);
    return std::max(1u, std::thread::hardware_concurrency());
}

// The shared pool and the lock guarding its creation. fork() is bracketed by handlers that hold
// the lock, so the child never inherits it locked; the child then forgets the parent's pool,
// whose threads do not exist in the child and whose lock and condition variables may be left
// in any state, and builds its own pool on first use.
std::mutex registry_mutex;
std::unique_ptr<WorkerPool> registry_pool;

void lock_registry() { registry_mutex.lock(); }
void unlock_registry() { registry_mutex.unlock(); }
void reset_registry_in_child() {
    static_cast<void>(registry_pool.release());  // deliberately leaked: it cannot be torn down here
    registry_mutex.unlock();
}

}  // namespace

WorkerPool& WorkerPool::shared() {
    static std::once_flag fork_handlers;
    std::call_once(fork_handlers, [] { pthread_atfork(lock_registry, unlock_registry, reset_registry_in_child); });
    std::lock_guard lock(registry_mutex);
    if (!registry_pool) registry_pool = std::make_unique<WorkerPool>(core_count());
    return *registry_pool;
}

}  // namespace kuv::extract
