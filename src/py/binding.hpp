#pragma once
// Binding of call arguments to parameters and their conversion to owned C++ values, with the
// TypeError texts callers of the module rely on.
#include "py/handles.hpp"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kuv::py {

// A function whose parameters are all required and may be given by position or by keyword.
struct Signature {
    std::string_view function;                  // the Python name, without "()"
    std::span<const std::string_view> parameters;
};

// Binds `args` (a tuple) and `kwargs` (a dict, or null) to the parameters: `bound` receives one
// borrowed reference per parameter. Returns false with a TypeError set: surplus positional
// arguments first, then each keyword in dictionary order, then missing parameters.
bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, std::span<PyObject*> bound);

// Converts one `str` argument to its UTF-8 bytes. Returns false with the exception set.
bool convert_text(PyObject* argument, std::string_view parameter, std::string& out);

// Converts a sequence of `str` (any sequence but a `str` itself) into owned texts. Returns false
// with the exception set.
bool convert_texts(PyObject* argument, std::string_view parameter, std::vector<std::string>& out);

// Sets TypeError "'{}' object cannot be converted to '{}'" with the qualified name of the
// object's type and `target`.
void raise_cannot_convert(PyObject* object, std::string_view target);

}  // namespace kuv::py
