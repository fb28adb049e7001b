#pragma once
// The process-wide pool of worker threads that extracts the pages of a batch in parallel.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace kuv::extract {

class WorkerPool {
public:
    // Each worker gets a stack of this size: page parsing may go deep.
    static constexpr std::size_t kStackBytes = std::size_t{16} << 20;

    explicit WorkerPool(unsigned thread_count);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The pool shared by the whole process, created on first use with one worker per core. A
    // child process made by fork() gets a fresh pool of its own on its first call.
    static WorkerPool& shared();

    // Runs task(0) ... task(count - 1) on the workers and waits for all of them. Several callers
    // may run batches at once. When a task throws, the remaining tasks of that batch are skipped
    // and the first exception is rethrown here.
    void run(std::size_t count, const std::function<void(std::size_t)>& task);

    unsigned thread_count() const { return static_cast<unsigned>(threads_.size()); }

private:
    struct Batch;
    class Thread;

    void work();
    void stop();
    void finish_one(Batch& batch, std::exception_ptr failure);

    std::mutex mutex_;
    std::condition_variable work_available_;
    std::condition_variable batch_finished_;
    std::deque<Batch*> queue_;  // batches with tasks not yet handed out
    bool stopping_ = false;
    std::vector<std::unique_ptr<Thread>> threads_;
};

}  // namespace kuv::extract
