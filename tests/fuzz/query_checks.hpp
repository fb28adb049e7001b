#pragma once
// Runs a query text against a validated graph the way the query function does (parse, then
// execute) and checks what holds for every query: a failure is a plain message, every row has
// one value per column, running the same text again gives the same rows, DISTINCT rows differ,
// and SKIP and LIMIT slice the rows the query gives without them.
#include "core/store.hpp"

#include <string_view>

namespace kuv::fuzz {

void check_query(const core::LoadedGraph& graph, std::string_view query_text);

}  // namespace kuv::fuzz
