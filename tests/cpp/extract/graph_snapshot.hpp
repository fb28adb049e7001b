#pragma once
// A readable picture of what a builder holds, and table checks of the graphs that inputs give.
#include "core/builder.hpp"
#include "core/json.hpp"
#include "core/schema.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace kuv::testing {

using core::RelType;

struct NodeRow {
    std::string kind, id, name, props;
    friend bool operator==(const NodeRow&, const NodeRow&) = default;
    friend void PrintTo(const NodeRow& r, std::ostream* os) { *os << r.kind << "(" << r.id << ", " << r.name << ", " << r.props << ")"; }
};

struct EdgeRow {
    std::string source;
    core::RelType rel;
    std::string target;
    friend bool operator==(const EdgeRow&, const EdgeRow&) = default;
    friend void PrintTo(const EdgeRow& r, std::ostream* os) { *os << r.source << " -" << static_cast<int>(r.rel) << "-> " << r.target; }
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

// One input and the graph it must give.
template <class Input = std::string>
struct GraphCase {
    Input input;
    std::vector<NodeRow> nodes;
    std::vector<EdgeRow> edges = {};
};

// Feeds each case's input to `ingest(builder, input)` on a fresh builder and compares the graph.
template <class Input, class Ingest>
void expect_graphs(const std::vector<GraphCase<Input>>& cases, Ingest ingest) {
    for (const GraphCase<Input>& c : cases) {
        core::GraphBuilder builder;
        ingest(builder, c.input);
        const Snapshot got = snapshot(std::move(builder));
        EXPECT_EQ(got.nodes, c.nodes) << ::testing::PrintToString(c.input).substr(0, 400);
        EXPECT_EQ(got.edges, c.edges) << ::testing::PrintToString(c.input).substr(0, 400);
    }
}

// Each value as JSON text.
inline std::vector<std::string> json_texts(const std::vector<Json>& values) {
    std::vector<std::string> texts;
    for (const Json& value : values) texts.push_back(to_json_text(value));
    return texts;
}

// The price members a verdict writes for an amount without page evidence or reference.
inline std::string unconfident_price(const std::string& price, long long cents, int scale = 2) {
    return R"("price":")" + price + R"(","price_cents":)" + std::to_string(cents) +
           R"(,"price_confident":false,"price_scale":)" + std::to_string(scale) + R"(,"price_score":0)";
}

}  // namespace kuv::testing
