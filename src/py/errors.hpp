#pragma once
// How failures become Python exceptions: work failures (ValueError), fatal errors
// (pyo3_runtime.PanicException) and failed Python API calls.
#include "py/handles.hpp"
#include "py/shutdown.hpp"
#include "py/signal_probe.hpp"

#include <cxxabi.h>

#include <exception>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace kuv::py {

// Why the work of a call failed, captured while the interpreter lock was released.
struct Failure {
    enum class Kind { Value, Fatal, NoMemory, Interrupted };
    Kind kind;
    std::string message;
    PendingException raised = {};  // Interrupted: what the signal handler raised
};

template <class T>
using Outcome = std::variant<T, Failure>;

// The current C++ exception as a Failure (call only inside a catch block).
Failure capture_failure();

// Runs `work` with the interpreter lock released; the lock is held again when this returns.
// Every C++ exception of the work is captured, none escapes. On the main thread the work's
// kuv::check_interrupt() calls run Python's signal handlers; when one raises, the work stops
// and the outcome is an Interrupted failure carrying that exception. On any thread the work
// also stops that way when the interpreter starts to exit.
template <class Work>
auto run_without_lock(Work&& work) -> Outcome<std::invoke_result_t<Work&>> {
    using Result = Outcome<std::invoke_result_t<Work&>>;
    SignalProbe probe;
    Result outcome = [&]() -> Result {
        const InterpreterUnlock unlock;
        const WorkInProgress at_work;
        probe.set_released_state(unlock.state());
        const InterruptScope scope(probe);
        try {
            return work();
        } catch (...) {
            return capture_failure();
        }
    }();
    if (auto* failure = std::get_if<Failure>(&outcome); failure && failure->kind == Failure::Kind::Interrupted) {
        failure->raised = probe.take_raised();
    }
    return outcome;
}

// Sets the Python exception for a failure; `function` names the call in the fatal-error report.
void raise_failure(const Failure& failure, std::string_view function);

// Sets the Python exception for the C++ exception being handled (call only inside a catch block).
void raise_current_exception(std::string_view function) noexcept;

// Sets an exception of `type` whose single argument is `message` (any bytes, NUL included).
void raise_text(PyObject* type, std::string_view message);

// A Python object just created, or a fatal "Python API call failed" (after printing the
// interpreter's pending error) when the interpreter could not create it.
PyRef checked(PyObject* created);
[[noreturn]] void fail_api_call();

// Runs a module entry point and turns any C++ exception that reaches it into a Python
// exception, so that none crosses the C boundary. The lock is held throughout.
template <class Body>
PyObject* guarded(std::string_view function, Body&& body) {
    try {
        return body();
    } catch (abi::__forced_unwind&) {
        throw;  // the thread is being ended (see taking_lock_back): let it go
    } catch (...) {
        raise_current_exception(function);
        return nullptr;
    }
}

}  // namespace kuv::py
