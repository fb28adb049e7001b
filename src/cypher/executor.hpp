#pragma once
// Runs a parsed query against a validated, mapped graph.
#include "core/store.hpp"
#include "cypher/ast.hpp"
#include "cypher/value.hpp"

namespace kuv::cypher {

// Throws kuv::Error with the executor's message (for example an unknown variable).
QueryResult execute(const core::LoadedGraph& graph, const Query& query);

}  // namespace kuv::cypher
