#include "py/signal_probe.hpp"

#include "py/shutdown.hpp"

namespace kuv::py {
namespace {

bool on_main_thread() {
    const PyRef threading(PyImport_ImportModule("threading"));
    const PyRef main_thread(threading ? PyObject_CallMethod(threading.get(), "main_thread", nullptr) : nullptr);
    const PyRef ident(main_thread ? PyObject_GetAttrString(main_thread.get(), "ident") : nullptr);
    const unsigned long main_ident = ident ? PyLong_AsUnsignedLong(ident.get()) : 0;
    if (PyErr_Occurred() != nullptr) {
        PyErr_Clear();
        return false;
    }
    return main_ident == PyThread_get_thread_ident();
}

}  // namespace

void PendingException::fetch() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    type_ = PyRef(type);
    value_ = PyRef(value);
    traceback_ = PyRef(traceback);
}

bool PendingException::restore() const {
    if (!type_) return false;
    PyErr_Restore(PyRef::borrowed(type_.get()).release(), PyRef::borrowed(value_.get()).release(),
                  PyRef::borrowed(traceback_.get()).release());
    return true;
}

SignalProbe::SignalProbe() : runs_signal_handlers_(on_main_thread()) {}

bool SignalProbe::stop_requested() {
    if (interpreter_exiting()) return true;
    if (!runs_signal_handlers_ || released_ == nullptr) return false;
    PyEval_RestoreThread(released_);
    const bool raised = PyErr_CheckSignals() != 0;
    if (raised) raised_.fetch();
    released_ = PyEval_SaveThread();
    return raised;
}

}  // namespace kuv::py
