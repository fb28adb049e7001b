#pragma once
// A readable picture of what a builder holds, for comparing against expected tables.
#include "core/builder.hpp"
#include "core/schema.hpp"

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace kuv::testing {

struct NodeRow {
    std::string kind;
    std::string id;
    std::string name;
    std::string props;
    friend bool operator==(const NodeRow&, const NodeRow&) = default;
    friend void PrintTo(const NodeRow& row, std::ostream* os) {
        *os << row.kind << "(" << row.id << ", " << row.name << ", " << row.props << ")";
    }
};

struct EdgeRow {
    std::string source;
    core::RelType rel;
    std::string target;
    friend bool operator==(const EdgeRow&, const EdgeRow&) = default;
    friend void PrintTo(const EdgeRow& row, std::ostream* os) {
        *os << row.source << " -" << static_cast<int>(row.rel) << "-> " << row.target;
    }
};

struct Snapshot {
    std::vector<NodeRow> nodes;
    std::vector<EdgeRow> edges;  // by source node, then in recording order
};

// Freezes the builder and lists its nodes and relations by id.
inline Snapshot snapshot(core::GraphBuilder&& builder) {
    const core::Graph graph = std::move(builder).build();
    Snapshot result;
    for (const core::Node& node : graph.nodes) {
        result.nodes.push_back({std::string{core::label(node.kind)}, std::string{graph.str(node.id)},
                                std::string{graph.str(node.name)}, std::string{graph.str(node.props)}});
    }
    for (std::uint32_t i = 0; i < graph.nodes.size(); ++i) {
        for (const core::Edge& edge : graph.out_edges_of(i)) {
            result.edges.push_back({result.nodes[i].id, edge.rel, result.nodes[edge.node].id});
        }
    }
    return result;
}

}  // namespace kuv::testing
