#pragma once
// Interpreter exit while calls are still at work in daemon threads. CPython runs its atexit
// callbacks before it tears anything down; kuv's callback asks every call in progress to stop
// and waits, briefly, until none is still running kuv's code. So no thread of kuv's is at work
// when the process goes on to destroy the static objects of the libraries kuv uses, and exit
// neither waits for the work nor crashes under it.

namespace kuv::py {

// Registers the callback with the atexit module (lock held). Failing to register is not an
// error: exit then simply does not wait.
void register_exit_barrier();

// True once the interpreter has started to exit.
bool interpreter_exiting();

// Counts the current thread as running kuv's work without the interpreter lock, for its
// lifetime.
class WorkInProgress {
public:
    WorkInProgress();
    ~WorkInProgress();
    WorkInProgress(const WorkInProgress&) = delete;
    WorkInProgress& operator=(const WorkInProgress&) = delete;
};

}  // namespace kuv::py
