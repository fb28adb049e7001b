// The module initialiser: creates `kuv` once per process, adds the four functions and
// __version__, each also listed in __all__.
#include "core/error.hpp"
#include "py/binding.hpp"
#include "py/errors.hpp"
#include "py/functions.hpp"
#include "py/shutdown.hpp"

#include <string_view>

namespace kuv::py {
namespace {

constexpr const char* kVersion = "0.7.0";

// Per-module state size 0 (not -1): the interpreter then calls the initialiser again on a
// re-import instead of copying a cached module, and the initialiser refuses.
PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "kuv", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// The module of this process, kept for its whole life once created.
PyObject* created_module = nullptr;

// The module's __all__ list, created when it is missing. Null with an exception set otherwise.
PyRef all_list(PyObject* module) {
    PyRef all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return PyRef();
        PyErr_Clear();
        all = checked(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", all.get()) != 0) return PyRef();
        return all;
    }
    if (!PyList_Check(all.get())) {
        raise_cannot_convert(all.get(), "PyList");
        return PyRef();
    }
    return all;
}

bool add(PyObject* module, PyObject* name, PyObject* value) {
    const PyRef all = all_list(module);
    if (!all) return false;
    if (PyList_Append(all.get(), name) != 0) throw kuv::Fatal("could not append __name__ to __all__");
    return PyObject_SetAttr(module, name, value) == 0;
}

bool add_function(PyObject* module, PyObject* module_name, PyMethodDef& record) {
    const PyRef function(PyCFunction_NewEx(&record, module, module_name));
    if (!function) return false;
    const PyRef name(PyObject_GetAttrString(function.get(), "__name__"));
    return name && add(module, name.get(), function.get());
}

bool fill(PyObject* module) {
    const PyRef module_name(PyModule_GetNameObject(module));
    if (!module_name) return false;
    for (PyMethodDef& record : function_records()) {
        if (!add_function(module, module_name.get(), record)) return false;
    }
    const PyRef version_name = checked(PyUnicode_FromString("__version__"));
    const PyRef version = checked(PyUnicode_FromString(kVersion));
    return add(module, version_name.get(), version.get());
}

PyObject* initialise() {
    if (created_module != nullptr) {
        PyErr_SetString(PyExc_ImportError,
                        "PyO3 modules compiled for CPython 3.8 or older may only be initialized once per "
                        "interpreter process");
        return nullptr;
    }
    PyRef module(PyModule_Create2(&definition, PYTHON_ABI_VERSION));
    if (!module || !fill(module.get())) return nullptr;
    register_exit_barrier();
    created_module = module.get();
    Py_IncRef(created_module);
    return module.release();
}

}  // namespace
}  // namespace kuv::py

PyMODINIT_FUNC PyInit_kuv() { return kuv::py::guarded("PyInit_kuv", kuv::py::initialise); }
