#include "py/binding.hpp"

#include "core/utf32.hpp"
#include "extract/page_stream.hpp"
#include "py/errors.hpp"

#include <algorithm>
#include <charconv>
#include <optional>
#include <utility>

// In the stable ABI since Python 3.10 and exported by every CPython 3; declared here because
// the module is built for the 3.8 stable ABI, and called only once the running interpreter is
// known to be 3.10 or later.
extern "C" const char* PyUnicode_AsUTF8AndSize(PyObject* unicode, Py_ssize_t* size);

namespace kuv::py {
namespace {

// A sequence's length only hints at how many items iteration gives: at most this many slots
// are reserved up front, the rest grow as items arrive.
constexpr Py_ssize_t kMaxReservedItems = Py_ssize_t{1} << 16;

// Items converted between two runs of Python's signal handlers, so Ctrl-C stops the conversion
// of a long sequence too.
constexpr std::size_t kItemsPerSignalCheck = 1024;

std::string call_name(const Signature& signature) { return std::string(signature.function) + "()"; }

// The text of str(object), lossily decoded; `fallback` when str() itself fails.
std::string display(PyObject* object, std::string_view fallback) {
    PyRef text(PyObject_Str(object));
    if (!text) {
        PyErr_Clear();
        return std::string(fallback);
    }
    PyRef bytes(PyUnicode_AsEncodedString(text.get(), "utf-8", "surrogatepass"));
    if (!bytes) {
        PyErr_Clear();
        return std::string(fallback);
    }
    PyRef lossy(PyUnicode_DecodeUTF8(PyBytes_AsString(bytes.get()), PyBytes_Size(bytes.get()), "replace"));
    PyRef clean(lossy ? PyUnicode_AsUTF8String(lossy.get()) : nullptr);
    if (!clean) {
        PyErr_Clear();
        return std::string(fallback);
    }
    return {PyBytes_AsString(clean.get()), static_cast<std::size_t>(PyBytes_Size(clean.get()))};
}

// Whether the running interpreter has PyUnicode_AsUTF8AndSize in its stable ABI (3.10 on).
bool has_utf8_and_size() {
    static const bool available = [] {
        const std::string_view version = Py_GetVersion();  // "3.11.7 (main, ...)"
        int major = 0;
        int minor = 0;
        const char* end = version.data() + version.size();
        const auto parsed = std::from_chars(version.data(), end, major);
        if (parsed.ec != std::errc() || parsed.ptr == end || *parsed.ptr != '.') return false;
        std::from_chars(parsed.ptr + 1, end, minor);
        return major > 3 || (major == 3 && minor >= 10);
    }();
    return available;
}

// Whether a str holds ASCII characters only (str.isascii reads a flag the str keeps).
bool is_ascii(PyObject* text) {
    static PyObject* const method = PyUnicode_InternFromString("isascii");
    const PyRef answer(method != nullptr ? PyObject_CallMethodObjArgs(text, method, nullptr) : nullptr);
    if (!answer) PyErr_Clear();
    return answer.get() == Py_True;
}

// A str's UTF-8 bytes read in place, when the interpreter offers them (3.10 on) and the str is
// ASCII: then they are its own characters, and asking for them attaches no copy to it.
std::optional<std::string_view> ascii_in_place(PyObject* text) {
    if (!has_utf8_and_size() || !is_ascii(text)) return std::nullopt;
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) {
        PyErr_Clear();  // the encoding below raises whatever is really wrong
        return std::nullopt;
    }
    return std::string_view(data, static_cast<std::size_t>(size));
}

// The UTF-8 bytes of a str with the object that holds them; a null owner with the exception set
// (UnicodeEncodeError for a lone surrogate) on failure. ASCII text is read in place where the
// interpreter offers it; other text is encoded into a bytes object of its own, which the call
// drops when it ends, rather than into a UTF-8 copy the str would keep for the rest of its life.
std::pair<PyRef, std::string_view> utf8_in_place(PyObject* text) {
    if (const auto ascii = ascii_in_place(text)) return {PyRef::borrowed(text), *ascii};
    PyRef bytes(PyUnicode_AsUTF8String(text));
    if (!bytes) return {};
    const std::string_view view(PyBytes_AsString(bytes.get()), static_cast<std::size_t>(PyBytes_Size(bytes.get())));
    return {std::move(bytes), view};
}

// The UTF-8 form of a str, or nullopt (no error left set) when it has none.
std::optional<std::string> utf8_of(PyObject* text) {
    const auto [owner, view] = utf8_in_place(text);
    if (!owner) {
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string(view);
}

bool raise_type_error(std::string_view message) {
    raise_text(PyExc_TypeError, message);
    return false;
}

bool too_many_positional(const Signature& signature, std::size_t given) {
    return raise_type_error(call_name(signature) + " takes " + std::to_string(signature.parameters.size()) +
                            " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") +
                            " given");
}

bool missing_arguments(const Signature& signature, std::span<PyObject*> bound) {
    std::vector<std::string_view> missing;
    for (std::size_t i = 0; i < bound.size(); ++i) {
        if (bound[i] == nullptr) missing.push_back(signature.parameters[i]);
    }
    std::string message = call_name(signature) + " missing " + std::to_string(missing.size()) +
                          " required positional " + (missing.size() == 1 ? "argument" : "arguments") + ": ";
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i != 0) {
            if (missing.size() > 2) message += ',';
            message += i + 1 == missing.size() ? " and " : " ";
        }
        message += '\'';
        message += missing[i];
        message += '\'';
    }
    return raise_type_error(message);
}

std::optional<std::size_t> parameter_index(const Signature& signature, PyObject* keyword) {
    if (!PyUnicode_Check(keyword)) return std::nullopt;
    const auto name = utf8_of(keyword);
    if (!name) return std::nullopt;
    for (std::size_t i = 0; i < signature.parameters.size(); ++i) {
        if (signature.parameters[i] == *name) return i;
    }
    return std::nullopt;
}

bool bind_keywords(const Signature& signature, PyObject* kwargs, std::span<PyObject*> bound) {
    Py_ssize_t position = 0;
    PyObject* keyword = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &keyword, &value)) {
        const auto index = parameter_index(signature, keyword);
        if (!index) {
            return raise_type_error(call_name(signature) + " got an unexpected keyword argument '" +
                                    display(keyword, "<unprintable>") + "'");
        }
        if (bound[*index] != nullptr) {
            return raise_type_error(call_name(signature) + " got multiple values for argument '" +
                                    std::string(signature.parameters[*index]) + "'");
        }
        bound[*index] = value;
    }
    return true;
}

// Whether `object` is a str; if not, raises the TypeError that says so.
bool check_str(PyObject* object) {
    if (PyUnicode_Check(object)) return true;
    raise_cannot_convert(object, "PyString");
    return false;
}

// The str's UTF-8 text with the object holding it; a null owner with the exception set when
// `object` is no str or has no UTF-8 form.
std::pair<PyRef, std::string_view> extract_text(PyObject* object) {
    if (!check_str(object)) return {};
    return utf8_in_place(object);
}

// A conversion error whose type is exactly TypeError becomes "argument '{}': {}" (keeping its
// cause); any other exception passes unchanged.
void name_the_argument(std::string_view parameter) {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type != PyExc_TypeError) {
        PyErr_Restore(type, value, traceback);
        return;
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef original_type(type);
    PyRef original(value);
    PyRef original_traceback(traceback);
    std::string message = "argument '" + std::string(parameter) + "': ";
    message += original ? display(original.get(), "<exception str() failed>") : std::string();
    raise_text(PyExc_TypeError, message);
    PyObject* cause = original ? PyException_GetCause(original.get()) : nullptr;  // new reference
    if (cause == nullptr) return;
    PyObject* new_type = nullptr;
    PyObject* new_value = nullptr;
    PyObject* new_traceback = nullptr;
    PyErr_Fetch(&new_type, &new_value, &new_traceback);
    PyErr_NormalizeException(&new_type, &new_value, &new_traceback);
    if (new_value != nullptr) {
        PyException_SetCause(new_value, cause);  // steals `cause`
    } else {
        Py_DecRef(cause);
    }
    PyErr_Restore(new_type, new_value, new_traceback);
}

// Checks that `argument` is a sequence but no str, announces how many items to make room for
// (`reserve`), then hands each item in turn to `take`, which returns false with an exception set
// to stop there. Returns false with the exception set, a TypeError named after the parameter.
template <class Reserve, class Take>
bool convert_items(PyObject* argument, std::string_view parameter, Reserve reserve, Take take) {
    if (PyUnicode_Check(argument)) {
        raise_type_error("Can't extract `str` to `Vec`");
        name_the_argument(parameter);
        return false;
    }
    if (!PySequence_Check(argument)) {
        raise_cannot_convert(argument, "Sequence");
        name_the_argument(parameter);
        return false;
    }
    const Py_ssize_t size_hint = PySequence_Size(argument);
    if (size_hint < 0) PyErr_Clear();
    reserve(static_cast<std::size_t>(std::clamp<Py_ssize_t>(size_hint, 0, kMaxReservedItems)));
    PyRef iterator(PyObject_GetIter(argument));
    std::size_t converted = 0;
    while (iterator) {
        PyRef item(PyIter_Next(iterator.get()));
        if (!item || !take(item.get())) break;
        if (++converted % kItemsPerSignalCheck == 0 && PyErr_CheckSignals() != 0) break;
    }
    if (PyErr_Occurred() == nullptr) return true;
    name_the_argument(parameter);
    return false;
}

// One page into the stream. ASCII text is read in place. Other text is copied as UCS-4 into
// `scratch`, which is reused from page to page and so stays in the processor's caches, and
// written from there as UTF-8 into the stream's own memory. A str with a lone surrogate has no
// UTF-8 form: the encoder then raises its own error for it.
bool add_page(PyObject* item, std::vector<char32_t>& scratch, std::vector<PyRef>& owners,
              extract::PageStream& stream) {
    if (!check_str(item)) return false;
    if (const auto ascii = ascii_in_place(item)) {
        owners.push_back(PyRef::borrowed(item));
        stream.add(*ascii);
        return true;
    }
    const Py_ssize_t length = PyUnicode_GetLength(item);
    if (length < 0) return false;
    if (scratch.size() < static_cast<std::size_t>(length)) scratch.resize(static_cast<std::size_t>(length));
    const std::span<char32_t> chars(scratch.data(), static_cast<std::size_t>(length));
    if (PyUnicode_AsUCS4(item, reinterpret_cast<Py_UCS4*>(chars.data()), length, 0) == nullptr) return false;
    if (const auto written = utf32_to_utf8(chars, stream.room_for(kMaxUtf8Bytes * chars.size()))) {
        stream.add_written(*written);
        return true;
    }
    const PyRef no_bytes(PyUnicode_AsUTF8String(item));  // fails, setting UnicodeEncodeError
    return false;
}

}  // namespace

void raise_cannot_convert(PyObject* object, std::string_view target) {
    PyRef qualname(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
    std::string type_name = "<unknown>";
    if (qualname) {
        type_name = display(qualname.get(), type_name);
    } else {
        PyErr_Clear();
    }
    raise_text(PyExc_TypeError, "'" + type_name + "' object cannot be converted to '" + std::string(target) + "'");
}

bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, std::span<PyObject*> bound) {
    for (PyObject*& slot : bound) slot = nullptr;
    const auto given = static_cast<std::size_t>(PyTuple_Size(args));
    if (given > signature.parameters.size()) return too_many_positional(signature, given);
    for (std::size_t i = 0; i < given; ++i) bound[i] = PyTuple_GetItem(args, static_cast<Py_ssize_t>(i));
    if (kwargs != nullptr && !bind_keywords(signature, kwargs, bound)) return false;
    for (PyObject* slot : bound) {
        if (slot == nullptr) return missing_arguments(signature, bound);
    }
    return true;
}

bool convert_text(PyObject* argument, std::string_view parameter, std::string& out) {
    const auto [owner, text] = extract_text(argument);
    if (!owner) {
        name_the_argument(parameter);
        return false;
    }
    out.assign(text);
    return true;
}

bool convert_texts(PyObject* argument, std::string_view parameter, Texts& out) {
    return convert_items(
        argument, parameter,
        [&](std::size_t count) {
            out.owners_.reserve(count);
            out.views_.reserve(count);
        },
        [&](PyObject* item) {
            auto [owner, text] = extract_text(item);
            if (!owner) return false;
            out.owners_.push_back(std::move(owner));
            out.views_.push_back(text);
            return true;
        });
}

bool convert_pages(PyObject* argument, std::string_view parameter, std::vector<PyRef>& owners,
                   extract::PageStream& stream) {
    std::vector<char32_t> scratch;
    return convert_items(
        argument, parameter, [&](std::size_t count) { owners.reserve(count); },
        [&](PyObject* item) { return add_page(item, scratch, owners, stream); });
}

}  // namespace kuv::py
