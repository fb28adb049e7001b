#pragma once
// RAII for the two Python resources the module holds: object references and the released
// interpreter lock.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace kuv::py {

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
    ~PyRef() { Py_XDECREF(object_); }

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
    ~InterpreterUnlock() { PyEval_RestoreThread(state_); }
    InterpreterUnlock(const InterpreterUnlock&) = delete;
    InterpreterUnlock& operator=(const InterpreterUnlock&) = delete;

private:
    PyThreadState* state_;
};

}  // namespace kuv::py
