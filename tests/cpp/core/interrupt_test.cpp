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

void check_many_times() {
    for (int i = 0; i < 100000; ++i) check_interrupt();
}

TEST(Interrupt, OnlyTheInstalledProbeIsAskedAndRarely) {
    check_many_times();  // no probe: never throws
    CountingProbe outer(1);
    CountingProbe inner(3);
    {
        const InterruptScope outer_scope(outer);
        {
            const InterruptScope inner_scope(inner);
            // The first call asks at once; later questions are spaced by many calls and the poll interval.
            long calls = 1;
            for (;; ++calls) {
                try {
                    check_interrupt();
                } catch (const Interrupted&) {
                    break;
                }
            }
            EXPECT_GT(calls, 2 * 1024);
            EXPECT_EQ(inner.asked, 3);
        }
        EXPECT_EQ(outer.asked, 0);  // the inner scope gives the outer probe back
        EXPECT_THROW(check_interrupt(), Interrupted);
        EXPECT_EQ(outer.asked, 1);
    }
    check_many_times();
    EXPECT_EQ(inner.asked + outer.asked, 4);
}

}  // namespace
}  // namespace kuv
