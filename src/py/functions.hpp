#pragma once
// The four module functions: build_graph, build_graph_from_dir, merge_graph and query.
#include "py/handles.hpp"

#include <span>

namespace kuv::py {

// Their function records, in the order the module adds them.
std::span<PyMethodDef> function_records();

}  // namespace kuv::py
