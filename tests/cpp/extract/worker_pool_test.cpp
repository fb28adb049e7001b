#include "extract/worker_pool.hpp"

#include "core/error.hpp"
#include "core/interrupt.hpp"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace kuv::extract {
namespace {

using namespace std::chrono_literals;

// Releases `count` tasks and waits for each in order; what the first failing task threw.
void run_all(WorkerPool& pool, std::size_t count, std::function<void(std::size_t)> task) {
    WorkerPool::Batch batch(pool, std::move(task));
    batch.release(count);
    for (std::size_t i = 0; i < count; ++i) batch.wait(i);
}

struct StopAlways : InterruptProbe {
    bool stop_requested() override { return true; }
};

TEST(WorkerPool, EveryTaskRunsOnceOnALargeStackOffTheCallerAndAFailureReachesItsWaiter) {
    WorkerPool pool(3);
    std::vector<std::atomic<int>> hits(1000);
    std::atomic<int> small_stacks = 0, on_caller = 0;
    const pthread_t caller = pthread_self();
    run_all(pool, hits.size(), [&](std::size_t i) {
        hits[i]++;
        pthread_attr_t attributes;
        std::size_t size = 0;
        pthread_getattr_np(pthread_self(), &attributes);
        pthread_attr_getstacksize(&attributes, &size);
        pthread_attr_destroy(&attributes);
        small_stacks += size < (std::size_t{8} << 20);
        on_caller += pthread_equal(pthread_self(), caller) != 0;
    });
    for (const auto& hit : hits) EXPECT_EQ(hit.load(), 1);
    EXPECT_EQ(small_stacks.load() + on_caller.load(), 0) << small_stacks.load() << " small stacks, " << on_caller.load() << " on caller";

    WorkerPool::Batch batch(pool, [](std::size_t i) { if (i % 40 == 2) throw Fatal("broken page " + std::to_string(i)); });
    batch.release(100);
    EXPECT_NO_THROW(batch.wait(1));
    for (std::size_t failing : {42, 2}) {  // each failure surfaces where its task is waited for
        try {
            batch.wait(failing);
            ADD_FAILURE() << "expected the worker's exception";
        } catch (const Fatal& fatal) { EXPECT_EQ(fatal.what(), "broken page " + std::to_string(failing)); }
    }
}

TEST(WorkerPool, OnlyReleasedTasksRunAndABatchEndsOnlyAfterItsRunningTasks) {
    WorkerPool pool(4);
    std::atomic<int> started = 0, finished = 0;
    {
        WorkerPool::Batch batch(pool, [&](std::size_t) {
            started++;
            std::this_thread::sleep_for(20ms);
            finished++;
        });
        batch.release(3);
        batch.release(2);  // never shrinks
        batch.wait(2);
        EXPECT_EQ(started.load(), 3);
        batch.release(6);
    }  // the batch may be left with tasks running or never started
    EXPECT_EQ(finished.load(), started.load());
    EXPECT_LE(started.load(), 6);
}

TEST(WorkerPool, AStopRequestEndsTheWaitButNotTheRunningTask) {
    WorkerPool pool(2);
    std::atomic<bool> gate = false, finished = false;
    StopAlways probe;
    {
        WorkerPool::Batch batch(pool, [&](std::size_t) {
            while (!gate) std::this_thread::sleep_for(1ms);
            finished = true;
        });
        batch.release(1);
        const InterruptScope scope(probe);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(batch.wait(0), Interrupted);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
        EXPECT_FALSE(finished);
        gate = true;
    }
    EXPECT_TRUE(finished);
}

TEST(WorkerPool, SharedPoolServesSeveralCallersAtOnceAndAForkedChild) {
    std::atomic<int> count = 0;
    std::vector<std::jthread> callers;
    for (int c = 0; c < 6; ++c) {
        callers.emplace_back([&] { for (int round = 0; round < 20; ++round) run_all(WorkerPool::shared(), 50, [&](std::size_t) { count++; }); });
    }
    callers.clear();
    ASSERT_EQ(count.load(), 6 * 20 * 50);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        run_all(WorkerPool::shared(), 16, [&](std::size_t) { count++; });
        _exit(count.load() == 6 * 20 * 50 + 16 ? 0 : 1);
    }
    int status = 0;
    pid_t done = 0;
    for (int waited = 0; waited < 600 && (done = waitpid(child, &status, WNOHANG)) == 0; ++waited) usleep(100'000);
    if (done != child) { kill(child, SIGKILL); waitpid(child, &status, 0); }
    EXPECT_TRUE(done == child && WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait " << done << ", status " << status;
}

}  // namespace
}  // namespace kuv::extract
