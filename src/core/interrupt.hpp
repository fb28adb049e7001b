#pragma once
// How a caller's request to stop (Ctrl-C in Python) reaches long-running work. The work calls
// check_interrupt() at points where stopping is safe (between pages, every few thousand
// bindings); the layer that starts the work installs, for the call's duration, a probe that
// asks whether a stop is pending.
#include <chrono>
#include <cstdint>

namespace kuv {

// Thrown by check_interrupt() when the probe asks the work to stop. Not a failure of the work:
// the layer that installed the probe turns it into whatever the caller expects.
struct Interrupted {};

class InterruptProbe {
public:
    virtual ~InterruptProbe() = default;
    // True when the work should stop. Called only on the thread that installed the probe, at
    // most about once per kInterruptPollInterval.
    virtual bool stop_requested() = 0;
};

// How often, at most, check_interrupt() asks the probe: asking may take a lock that other
// threads hold, so it must not happen on every call.
inline constexpr std::chrono::milliseconds kInterruptPollInterval{10};

namespace detail {
struct InterruptState {
    InterruptProbe* probe = nullptr;
    std::uint32_t countdown = 1;  // calls left before the clock is read again
    std::chrono::steady_clock::time_point last_asked{};
};
extern constinit thread_local InterruptState interrupt_state;
void ask_probe_if_due();  // throws Interrupted
}  // namespace detail

// Installs `probe` on the current thread for the scope's lifetime; the previous one (if any)
// comes back afterwards.
class InterruptScope {
public:
    explicit InterruptScope(InterruptProbe& probe);
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

private:
    detail::InterruptState saved_;
};

// Cheap enough to call once per binding or per page: most calls only count down. Throws
// Interrupted when the current thread's probe asks to stop; does nothing on a thread with none.
inline void check_interrupt() {
    detail::InterruptState& state = detail::interrupt_state;
    if (state.probe == nullptr || --state.countdown != 0) return;
    detail::ask_probe_if_due();
}

// The same for loops whose every step takes long or waits (a whole page, a wait for other
// threads): reads the clock on every call, so a stop request is noticed within about one
// kInterruptPollInterval plus one step. The probe is still asked at most once per interval.
inline void poll_interrupt() {
    if (detail::interrupt_state.probe != nullptr) detail::ask_probe_if_due();
}

}  // namespace kuv
