#include "extract/worker_pool.hpp"

#include "core/error.hpp"
#include "core/interrupt.hpp"

#include <gtest/gtest.h>
#include <pthread.h>

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

// A stop request ends the caller's wait at once; the batch itself ends only after the tasks
// that are running, whether it was left while waiting or with released tasks not yet started.
TEST(WorkerPool, OnlyReleasedTasksRunAndABatchEndsOnlyAfterItsRunningTasks) {
    WorkerPool pool(4);
    std::atomic<bool> gate = false;
    std::atomic<int> started = 0, finished = 0;
    StopAlways probe;
    {
        WorkerPool::Batch batch(pool, [&](std::size_t i) {
            started++;
            while (i == 3 && !gate) std::this_thread::sleep_for(1ms);
            std::this_thread::sleep_for(20ms);
            finished++;
        });
        batch.release(3);
        batch.release(2);  // never shrinks
        batch.wait(2);
        EXPECT_EQ(started.load(), 3);
        batch.release(6);
        const InterruptScope scope(probe);
        EXPECT_THROW(batch.wait(3), Interrupted);  // task 3 waits for the gate
        gate = true;
    }
    EXPECT_EQ(finished.load(), started.load());
    EXPECT_LE(started.load(), 6);
}

}  // namespace
}  // namespace kuv::extract
