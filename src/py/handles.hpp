#pragma once
// RAII for the two Python resources the module holds: object references and the released
// interpreter lock.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace kuv::py {

// True while this thread takes the interpreter lock back after its work. A thread that does so
// while the interpreter shuts down is ended by CPython (3.8 to 3.13) right there, by unwinding
// its stack; nothing on the way out may then touch a Python object.
inline thread_local bool taking_lock_back = false;

// One owned (strong) reference, released on destruction. Only ever used with the lock held.
class PyRef {
public:
    PyRef() = default;
    explicit PyRef(PyObject* owned) : object_(owned) {}
    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    ~PyRef() {
        if (!taking_lock_back) Py_XDECREF(object_);  // else the interpreter is gone: leave it
    }

    static PyRef borrowed(PyObject* object) {
        Py_XINCREF(object);
        return PyRef(object);
    }

    PyObject* get() const { return object_; }
    PyObject* release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

private:
    PyObject* object_ = nullptr;
};

// Releases the interpreter lock for its lifetime; the lock is taken back on every way out.
class InterpreterUnlock {
public:
    InterpreterUnlock() : state_(PyEval_SaveThread()) {}
    // Not noexcept: the thread-ending unwind described at taking_lock_back must pass through.
    ~InterpreterUnlock() noexcept(false) {
        taking_lock_back = true;
        PyEval_RestoreThread(state_);
        taking_lock_back = false;
    }
    InterpreterUnlock(const InterpreterUnlock&) = delete;
    InterpreterUnlock& operator=(const InterpreterUnlock&) = delete;

    PyThreadState* state() const { return state_; }

private:
    PyThreadState* state_;
};

}  // namespace kuv::py
