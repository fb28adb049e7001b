#pragma once
// Binding of call arguments to parameters and their conversion to owned C++ values, with the
// TypeError texts callers of the module rely on.
#include "py/handles.hpp"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kuv::extract {
class PageStream;
}

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

// The UTF-8 texts of a sequence of `str`, each made at most once: ASCII text is read in place
// (Python 3.10 and later), other text encoded once into a bytes object. Holds a reference to
// every object its views point into, so the views stay valid (also without the interpreter lock)
// until it is destroyed, with the lock held.
class Texts {
public:
    std::span<const std::string_view> views() const { return views_; }

private:
    friend bool convert_texts(PyObject*, std::string_view, Texts&);
    std::vector<PyRef> owners_;
    std::vector<std::string_view> views_;
};

// Converts one `str` argument to its UTF-8 bytes. Returns false with the exception set.
bool convert_text(PyObject* argument, std::string_view parameter, std::string& out);

// Converts a sequence of `str` (any sequence but a `str` itself). Returns false with the
// exception set.
bool convert_texts(PyObject* argument, std::string_view parameter, Texts& out);

// Converts a sequence of `str` page by page straight into `stream`, so that workers extract the
// first pages while later ones are converted. ASCII text is read in place (Python 3.10 and
// later); other text is made into UTF-8 without a bytes object, and the stream keeps a copy.
// `owners` keeps every object whose bytes the stream reads; it must outlive the stream's work
// and be released with the lock held. Returns false with the exception set.
bool convert_pages(PyObject* argument, std::string_view parameter, std::vector<PyRef>& owners,
                   extract::PageStream& stream);

// Sets TypeError "'{}' object cannot be converted to '{}'" with the qualified name of the
// object's type and `target`.
void raise_cannot_convert(PyObject* object, std::string_view target);

}  // namespace kuv::py
