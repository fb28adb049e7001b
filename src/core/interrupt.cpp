#include "core/interrupt.hpp"

namespace kuv {
namespace detail {

constinit thread_local InterruptState interrupt_state;

namespace {
// Calls between two readings of the clock: reading it costs far more than counting down.
constexpr std::uint32_t kCallsPerClockReading = 1024;
}  // namespace

void ask_probe_if_due() {
    InterruptState& state = interrupt_state;
    state.countdown = kCallsPerClockReading;
    const auto now = std::chrono::steady_clock::now();
    if (now - state.last_asked < kInterruptPollInterval) return;
    state.last_asked = now;
    if (state.probe->stop_requested()) throw Interrupted{};
}

}  // namespace detail

InterruptScope::InterruptScope(InterruptProbe& probe) : saved_(detail::interrupt_state) {
    detail::interrupt_state = {&probe, 1, {}};
}

InterruptScope::~InterruptScope() { detail::interrupt_state = saved_; }

}  // namespace kuv
