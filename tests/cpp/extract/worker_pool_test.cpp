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

TEST(WorkerPool, FailureReachesTheCallerThenEveryTaskRunsOnceOnALargeStackOffTheCaller) {
    WorkerPool pool(3);
    try {
        pool.run(100, [](std::size_t i) { if (i == 42) throw Fatal("broken page 42"); });
        ADD_FAILURE() << "expected the worker's exception";
    } catch (const Fatal& fatal) { EXPECT_STREQ(fatal.what(), "broken page 42"); }
    std::vector<std::atomic<int>> hits(1000);
    std::atomic<int> small_stacks = 0, on_caller = 0;
    const pthread_t caller = pthread_self();
    pool.run(hits.size(), [&](std::size_t i) {
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
    pool.run(0, [](std::size_t) { ADD_FAILURE() << "no task expected"; });
}

TEST(WorkerPool, SharedPoolServesSeveralCallersAtOnceAndAForkedChild) {
    std::atomic<int> count = 0;
    std::vector<std::jthread> callers;
    for (int c = 0; c < 6; ++c) {
        callers.emplace_back([&] { for (int round = 0; round < 20; ++round) WorkerPool::shared().run(50, [&](std::size_t) { count++; }); });
    }
    callers.clear();
    ASSERT_EQ(count.load(), 6 * 20 * 50);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        WorkerPool::shared().run(16, [&](std::size_t) { count++; });
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
