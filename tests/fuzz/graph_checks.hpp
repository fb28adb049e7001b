#pragma once
// What holds for every graph the harnesses make or open, and the graphs they query.
#include "core/graph.hpp"
#include "core/json.hpp"
#include "core/store.hpp"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kuv::fuzz {

// The graph saves and reads back unchanged.
void check_reads_back(const core::Graph& graph);
// Thawed and frozen again, as a merge without pages does, a built graph keeps its nodes, pool
// and outgoing runs; a thaw records relations source by source, so incoming runs may reorder.
void check_thaw_keeps(const core::Graph& graph);

// Runs a query text the way the query function does (parse, then execute) and checks what holds
// for every query: a failure is a plain message, every row has one value per column, running it
// again gives the same rows, DISTINCT rows differ and are the rows without DISTINCT each once,
// and SKIP and LIMIT slice the rows the query gives without them.
void check_query(const core::LoadedGraph& graph, std::string_view query_text);

// What a query returns for `n.key` on every node equals what parsing the node's props text whole
// with the JSON layer, then converting the member, gives. `keys` are distinct; "name" and "kind"
// read the node record.
void check_property_reads(const core::LoadedGraph& graph, std::span<const std::string> keys);
// Adds the first and last member names of `value`, when it is an object, to `keys` unless there.
void add_end_keys(std::vector<std::string>& keys, const Json& value);

// A small graph that holds every node kind and relation type, props of every JSON type, a brand
// shared by two products, a self relation, a relation recorded twice and nodes whose props are
// not a JSON object; as the bytes of its file.
std::string sample_graph_image();
// A one-node graph image whose props text is `props`.
std::string one_node_image(std::string_view props);

}  // namespace kuv::fuzz
