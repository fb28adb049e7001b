#include "py/shutdown.hpp"

#include "py/handles.hpp"

#include <atomic>
#include <chrono>
#include <thread>

namespace kuv::py {
namespace {

// How long exit waits, at most, for calls to reach a point where they can stop (between pages,
// every few thousand bindings): a single page or query step can take a while.
constexpr std::chrono::seconds kLongestWait{5};
constexpr std::chrono::milliseconds kRecheckEvery{1};

std::atomic<bool> exiting = false;
std::atomic<int> threads_at_work = 0;

PyObject* wait_for_work_to_stop(PyObject*, PyObject*) {
    exiting = true;
    const auto deadline = std::chrono::steady_clock::now() + kLongestWait;
    while (threads_at_work > 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(kRecheckEvery);
    Py_RETURN_NONE;
}

PyMethodDef exit_barrier = {"_exit_barrier", wait_for_work_to_stop, METH_NOARGS, nullptr};

}  // namespace

void register_exit_barrier() {
    const PyRef atexit_module(PyImport_ImportModule("atexit"));
    const PyRef callback(atexit_module ? PyCFunction_NewEx(&exit_barrier, nullptr, nullptr) : nullptr);
    const PyRef registered(callback ? PyObject_CallMethod(atexit_module.get(), "register", "O", callback.get()) : nullptr);
    if (!registered) PyErr_Clear();
}

bool interpreter_exiting() { return exiting; }

WorkInProgress::WorkInProgress() { ++threads_at_work; }
WorkInProgress::~WorkInProgress() { --threads_at_work; }

}  // namespace kuv::py
