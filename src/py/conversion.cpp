#include "py/conversion.hpp"

#include "py/errors.hpp"

#include <algorithm>
#include <string_view>
#include <vector>

namespace kuv::py {
namespace {

// Rows converted between two runs of Python's signal handlers, so Ctrl-C also stops the
// conversion of a huge result.
constexpr std::size_t kRowsPerSignalCheck = 4096;

PyRef text(std::string_view value) {
    return checked(PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size())));
}

PyRef boolean(bool value) { return PyRef::borrowed(value ? Py_True : Py_False); }

// Stores one pair; false with the insertion's exception set (a SystemError when the interpreter
// reports none).
bool store(PyObject* dict, PyObject* key, PyObject* value) {
    if (PyDict_SetItem(dict, key, value) == 0) return true;
    if (PyErr_Occurred() == nullptr) {
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    return false;
}

PyRef node_ref(const cypher::NodeRef& node) {
    PyRef dict = checked(PyDict_New());
    const PyRef idx = checked(PyLong_FromUnsignedLongLong(node.idx));
    const PyRef kind = text(node.kind);
    const PyRef name = text(node.name);
    if (!store(dict.get(), text("idx").get(), idx.get()) || !store(dict.get(), text("kind").get(), kind.get()) ||
        !store(dict.get(), text("name").get(), name.get())) {
        return PyRef();
    }
    return dict;
}

struct ValueConverter {
    PyRef operator()(const cypher::Null&) const { return PyRef::borrowed(Py_None); }
    PyRef operator()(bool value) const { return boolean(value); }
    PyRef operator()(std::int64_t value) const { return checked(PyLong_FromLongLong(value)); }
    PyRef operator()(double value) const { return checked(PyFloat_FromDouble(value)); }
    PyRef operator()(const std::string& value) const { return text(value); }
    PyRef operator()(const cypher::NodeRef& value) const { return node_ref(value); }
};

PyRef row_dict(const std::vector<std::string>& columns, const cypher::Row& row) {
    PyRef dict = checked(PyDict_New());
    const std::size_t width = std::min(columns.size(), row.size());
    for (std::size_t i = 0; i < width; ++i) {
        const PyRef value = std::visit(ValueConverter{}, row[i]);
        if (!value) return PyRef();
        if (!store(dict.get(), text(columns[i]).get(), value.get())) return PyRef();
    }
    return dict;
}

}  // namespace

PyObject* rows_to_list(const cypher::QueryResult& result) {
    std::vector<PyRef> rows;
    rows.reserve(result.rows.size());
    for (const cypher::Row& row : result.rows) {
        PyRef dict = row_dict(result.columns, row);
        if (!dict) return nullptr;
        rows.push_back(std::move(dict));
        if (rows.size() % kRowsPerSignalCheck == 0 && PyErr_CheckSignals() != 0) return nullptr;
    }
    PyRef list = checked(PyList_New(static_cast<Py_ssize_t>(rows.size())));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), rows[i].release());  // steals
    }
    return list.release();
}

}  // namespace kuv::py
