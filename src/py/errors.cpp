#include "py/errors.hpp"

#include "core/error.hpp"
#include "core/interrupt.hpp"
#include "core/stderr.hpp"

#include <pthread.h>

#include <new>

namespace kuv::py {
namespace {

// The text a fatal error carries when it has no message of its own.
constexpr std::string_view kFallbackPanicText = "panic from Rust code";

constexpr const char* kPanicDoc =
    "The exception raised when kuv's own code fails fatally (an internal consistency failure).\n\n"
    "It derives from BaseException, like SystemExit, so that handlers for Exception do not catch\n"
    "it and it propagates all the way up the stack.";

// Created on first use and kept for the life of the process.
PyObject* panic_exception_type() {
    static PyObject* type = nullptr;
    if (type == nullptr) {
        type = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc, PyExc_BaseException, nullptr);
    }
    return type;
}

std::string current_thread_name() {
    char name[64] = {};
    if (pthread_getname_np(pthread_self(), name, sizeof name) != 0 || name[0] == '\0') return "<unnamed>";
    return name;
}

void report_fatal(std::string_view function, std::string_view message) {
    std::string report = "thread '" + current_thread_name() + "' panicked at kuv." + std::string(function) + ":\n";
    report.append(message);
    report.append("\n");
    write_stderr(report);
}

}  // namespace

Failure capture_failure() {
    try {
        throw;
    } catch (const kuv::Error& error) {
        return {Failure::Kind::Value, error.what()};
    } catch (const kuv::Fatal& fatal) {
        return {Failure::Kind::Fatal, fatal.what()};
    } catch (const kuv::Interrupted&) {
        return {Failure::Kind::Interrupted, {}};
    } catch (const std::bad_alloc&) {
        return {Failure::Kind::NoMemory, {}};
    } catch (const std::exception& other) {
        return {Failure::Kind::Fatal, other.what()};
    } catch (...) {
        return {Failure::Kind::Fatal, std::string(kFallbackPanicText)};
    }
}

void raise_text(PyObject* type, std::string_view message) {
    PyRef text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
}

void raise_failure(const Failure& failure, std::string_view function) {
    switch (failure.kind) {
    case Failure::Kind::Value:
        raise_text(PyExc_ValueError, failure.message);
        return;
    case Failure::Kind::NoMemory:
        PyErr_NoMemory();
        return;
    case Failure::Kind::Interrupted:
        if (!failure.raised.restore()) PyErr_SetNone(PyExc_KeyboardInterrupt);
        return;
    case Failure::Kind::Fatal:
        report_fatal(function, failure.message);
        if (PyObject* type = panic_exception_type()) raise_text(type, failure.message);
        return;
    }
}

void raise_current_exception(std::string_view function) noexcept {
    try {
        raise_failure(capture_failure(), function);
    } catch (...) {  // no memory left even for the message
        PyErr_NoMemory();
    }
}

[[noreturn]] void fail_api_call() {
    if (PyErr_Occurred() != nullptr) PyErr_Print();
    throw kuv::Fatal("Python API call failed");
}

PyRef checked(PyObject* created) {
    if (created == nullptr) fail_api_call();
    return PyRef(created);
}

}  // namespace kuv::py
