#include "extract/worker_pool.hpp"

#include "core/error.hpp"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

namespace kuv::extract {
namespace {

TEST(WorkerPool, RunsEveryTaskOnce) {
    WorkerPool pool(4);
    std::vector<std::atomic<int>> hits(1000);
    pool.run(hits.size(), [&](std::size_t i) { hits[i]++; });
    for (const auto& hit : hits) EXPECT_EQ(hit.load(), 1);
    pool.run(0, [](std::size_t) { FAIL() << "no task expected"; });
}

TEST(WorkerPool, FailureOnAWorkerReachesTheCallerAndPoolStaysUsable) {
    WorkerPool pool(3);
    try {
        pool.run(100, [](std::size_t i) {
            if (i == 42) throw Fatal("broken page 42");
        });
        FAIL() << "expected the worker's exception";
    } catch (const Fatal& fatal) {
        EXPECT_STREQ(fatal.what(), "broken page 42");
    }
    std::atomic<int> done = 0;
    pool.run(10, [&](std::size_t) { done++; });
    EXPECT_EQ(done.load(), 10);
}

TEST(WorkerPool, TasksRunOnLargeStacksOffTheCallingThread) {
    WorkerPool pool(2);
    std::atomic<std::size_t> smallest = SIZE_MAX;
    std::atomic<bool> on_caller = false;
    const pthread_t caller = pthread_self();
    pool.run(8, [&](std::size_t) {
        pthread_attr_t attributes;
        std::size_t size = 0;
        pthread_getattr_np(pthread_self(), &attributes);
        pthread_attr_getstacksize(&attributes, &size);
        pthread_attr_destroy(&attributes);
        std::size_t seen = smallest.load();
        while (size < seen && !smallest.compare_exchange_weak(seen, size)) {}
        if (pthread_equal(pthread_self(), caller)) on_caller = true;
    });
    EXPECT_GE(smallest.load(), std::size_t{8} << 20);
    EXPECT_FALSE(on_caller.load());
}

TEST(WorkerPool, SeveralCallersAtOnce) {
    WorkerPool& pool = WorkerPool::shared();
    std::vector<std::thread> callers;
    std::atomic<int> total = 0;
    for (int c = 0; c < 6; ++c) {
        callers.emplace_back([&] {
            for (int round = 0; round < 20; ++round) pool.run(50, [&](std::size_t) { total++; });
        });
    }
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(total.load(), 6 * 20 * 50);
}

TEST(WorkerPool, SharedPoolWorksInAForkedChild) {
    std::atomic<int> count = 0;
    WorkerPool::shared().run(16, [&](std::size_t) { count++; });
    ASSERT_EQ(count.load(), 16);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::atomic<int> in_child = 0;
        WorkerPool::shared().run(16, [&](std::size_t) { in_child++; });
        _exit(in_child.load() == 16 ? 0 : 1);
    }
    int status = 0;
    for (int waited = 0; waited < 600 && waitpid(child, &status, WNOHANG) == 0; ++waited) usleep(100'000);
    if (!WIFEXITED(status)) kill(child, SIGKILL);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace kuv::extract
