#pragma once
// The process-wide pool of worker threads that extracts the pages of a batch in parallel.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace kuv::extract {

class WorkerPool {
public:
    // Each worker gets a stack of this size: page parsing may go deep.
    static constexpr std::size_t kStackBytes = std::size_t{16} << 20;

    explicit WorkerPool(unsigned thread_count);
    ~WorkerPool();  // joins the workers; no batch may be left
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The pool shared by the whole process, created on first use with one worker per core and
    // never destroyed, so process exit neither waits for its workers nor tears it down under a
    // caller still inside a batch. A child process made by fork() gets a fresh pool of its own
    // on its first call.
    static WorkerPool& shared();

    unsigned thread_count() const { return static_cast<unsigned>(threads_.size()); }

    // One caller's tasks task(0), task(1), ... on the pool. The caller releases tasks as their
    // inputs become ready and waits for each one it needs; several batches, of several callers,
    // may run at once. Destroying the batch hands out no further task and waits for the running
    // ones, so the task's captures may die right after.
    class Batch {
    public:
        Batch(WorkerPool& pool, std::function<void(std::size_t)> task);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

        // Tasks below `count` may now run (a smaller count than before changes nothing).
        void release(std::size_t count);
        // Waits until the released task `index` has run, and rethrows what it threw. While it
        // waits, it polls kuv::poll_interrupt(), so a stop request ends the wait with
        // kuv::Interrupted (the batch is then to be cancelled or destroyed).
        void wait(std::size_t index);
        // Whether the released task `index` has run without throwing; never waits.
        bool succeeded(std::size_t index);
        // Hands out no further task and waits for the running ones.
        void cancel();

    private:
        friend class WorkerPool;

        WorkerPool& pool_;
        std::function<void(std::size_t)> task_;
        // Guarded by the pool's mutex:
        std::size_t released_ = 0;
        std::size_t next_ = 0;  // the next task to hand out
        std::size_t running_ = 0;
        bool queued_ = false;
        std::vector<bool> done_;  // per released task
        std::vector<std::pair<std::size_t, std::exception_ptr>> failures_;
        std::condition_variable progress_;  // a task of this batch has finished
    };

private:
    class Thread;

    void work();
    void stop();
    void enqueue(Batch& batch);  // with mutex_ held
    void wake(std::size_t task_count);  // after new tasks were released, without mutex_ held

    std::mutex mutex_;
    std::condition_variable work_available_;
    std::deque<Batch*> queue_;  // batches with released tasks not yet handed out
    bool stopping_ = false;
    std::vector<std::unique_ptr<Thread>> threads_;
};

}  // namespace kuv::extract
