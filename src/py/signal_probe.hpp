#pragma once
// How work running without the interpreter lock notices Ctrl-C: the probe briefly takes the lock
// back and lets the interpreter run its signal handlers. When a handler raises, the work stops
// and the handler's exception is what the call raises.
#include "core/interrupt.hpp"
#include "py/handles.hpp"

#include <utility>

namespace kuv::py {

// An exception taken out of the interpreter to be raised again later; the lock is held for
// every operation, also destruction.
class PendingException {
public:
    void fetch();  // takes the interpreter's current exception
    // Makes it the interpreter's current exception again; false when there is none.
    bool restore() const;

private:
    PyRef type_;
    PyRef value_;
    PyRef traceback_;
};

class SignalProbe final : public InterruptProbe {
public:
    // Lock held. Python runs signal handlers on its main thread only; on any other thread the
    // probe never takes the lock, and asks to stop only once the interpreter starts to exit.
    SignalProbe();
    // The thread state the lock was released with; until given, the probe asks nothing.
    void set_released_state(PyThreadState* state) { released_ = state; }
    // Lock released. Takes it for the handlers and releases it again.
    bool stop_requested() override;
    // Lock held: the exception the handler raised (empty when none did).
    PendingException take_raised() { return std::move(raised_); }

private:
    bool runs_signal_handlers_;
    PyThreadState* released_ = nullptr;
    PendingException raised_;
};

}  // namespace kuv::py
