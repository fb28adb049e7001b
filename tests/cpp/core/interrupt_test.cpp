#include "core/interrupt.hpp"

#include <gtest/gtest.h>

namespace kuv {
namespace {

// Says stop from its `stop_after`-th question on.
struct CountingProbe : InterruptProbe {
    explicit CountingProbe(int stop_after) : stop_after(stop_after) {}
    bool stop_requested() override { return ++asked >= stop_after; }
    int stop_after;
    int asked = 0;
};

// Calls check_interrupt() until it throws; the number of calls it took.
long calls_until_interrupted() {
    for (long calls = 1;; ++calls) {
        try {
            check_interrupt();
        } catch (const Interrupted&) {
            return calls;
        }
    }
}

TEST(Interrupt, OnlyAnInstalledProbeCanStopTheWork) {
    for (int i = 0; i < 100000; ++i) check_interrupt();  // no probe: never throws
    CountingProbe probe(3);
    {
        const InterruptScope scope(probe);
        // The first call asks at once; later questions are spaced by many calls and the poll interval.
        EXPECT_GT(calls_until_interrupted(), 2 * 1024);
        EXPECT_EQ(probe.asked, 3);
    }
    for (int i = 0; i < 100000; ++i) check_interrupt();
    EXPECT_EQ(probe.asked, 3);
}

TEST(Interrupt, AnInnerScopeGivesTheOuterProbeBack) {
    CountingProbe outer(1);
    CountingProbe inner(1000000);
    const InterruptScope outer_scope(outer);
    {
        const InterruptScope inner_scope(inner);
        for (int i = 0; i < 100000; ++i) check_interrupt();
        EXPECT_GE(inner.asked, 1);
    }
    EXPECT_EQ(outer.asked, 0);
    EXPECT_THROW(check_interrupt(), Interrupted);
    EXPECT_EQ(outer.asked, 1);
}

}  // namespace
}  // namespace kuv
