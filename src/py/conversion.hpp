#pragma once
// Query results as Python objects: a list with one dict per row, node references as nested
// dicts {"idx", "kind", "name"}.
#include "cypher/value.hpp"
#include "py/handles.hpp"

namespace kuv::py {

// Returns a new list, or null with an exception set when a row dict could not be filled or a
// signal handler raised (Ctrl-C) during the conversion.
// Throws kuv::Fatal when the interpreter cannot create an object.
PyObject* rows_to_list(const cypher::QueryResult& result);

}  // namespace kuv::py
