#pragma once
// The two failure kinds of the system. Both are C++ exceptions inside the library; the Python
// module catches them at its boundary, so none ever crosses the C API.
#include <stdexcept>
#include <string>

namespace kuv {

// A failure of the work, reported to the caller as ValueError. The message is the outermost
// context only ("write tmp graph.bin", "open \"x\"", a validation message, a query message...).
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An internal consistency failure, reported to Python as the fatal-error exception
// pyo3_runtime.PanicException carrying the message, e.g. "string_pool utf8: ...".
class Fatal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace kuv
