#pragma once
// Property reads: what a query returns for `n.key` on every node equals what parsing the node's
// props text whole with the JSON layer, then converting the member, gives.
#include "core/store.hpp"

#include <span>
#include <string>

namespace kuv::fuzz {

// `keys` are distinct; "name" and "kind" read the node record.
void check_property_reads(const core::LoadedGraph& graph, std::span<const std::string> keys);

// A one-node graph image whose props text is `props`.
std::string one_node_image(std::string_view props);

}  // namespace kuv::fuzz
