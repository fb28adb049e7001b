#pragma once
// Runs a parsed query against a validated, mapped graph.
//
// Bindings stream depth-first in nested-loop order (first node pattern by node index, then each
// relationship's adjacency run in stored order) through WHERE into one of three ends: grouping
// (any aggregate), ordering (ORDER BY; under DISTINCT one binding per distinct row) or straight
// to DISTINCT, SKIP and LIMIT. Every node's props text is scanned at most once per call; nothing
// read from the graph outlives the call.
#include "core/store.hpp"
#include "cypher/ast.hpp"
#include "cypher/value.hpp"

namespace kuv::cypher {

// Throws kuv::Error with the executor's message ("ORDER BY references unknown variable {}" or
// "RETURN references unknown variable {}").
QueryResult execute(const core::LoadedGraph& graph, const Query& query);

}  // namespace kuv::cypher
