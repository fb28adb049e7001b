#include "core/builder.hpp"

#include "core/error.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace kuv::core {
namespace {

std::string pool_text(const Graph& graph) { return {graph.string_pool.begin(), graph.string_pool.end()}; }

std::vector<std::string> ids(const Graph& graph) {
    std::vector<std::string> out;
    for (const Node& node : graph.nodes) out.emplace_back(graph.str(node.id));
    return out;
}

// A node's run in one direction as (relation code, other end's id) pairs.
using EdgeRun = std::vector<std::pair<int, std::string>>;

EdgeRun run_of(const Graph& graph, const std::vector<Edge>& edges, const std::vector<std::uint32_t>& offsets,
           std::uint32_t i) {
    EdgeRun run;
    for (std::uint32_t e = offsets[i]; e < offsets[i + 1]; ++e) {
        run.emplace_back(int(edges[e].rel), std::string(graph.str(graph.nodes[edges[e].node].id)));
    }
    return run;
}
EdgeRun out_run(const Graph& g, std::uint32_t i) { return run_of(g, g.out_edges, g.out_offsets, i); }
EdgeRun in_run(const Graph& g, std::uint32_t i) { return run_of(g, g.in_edges, g.in_offsets, i); }

void expect_adjacency_consistent(const Graph& graph) {
    const std::size_t n = graph.nodes.size();
    ASSERT_EQ(graph.out_offsets.size(), n + 1);
    ASSERT_EQ(graph.in_offsets.size(), n + 1);
    EXPECT_EQ(graph.out_offsets.front(), 0u);
    EXPECT_EQ(graph.in_offsets.front(), 0u);
    EXPECT_EQ(graph.out_offsets.back(), graph.out_edges.size());
    EXPECT_EQ(graph.in_offsets.back(), graph.in_edges.size());
    EXPECT_EQ(graph.magic, kGraphMagic);
    EXPECT_EQ(graph.version, kGraphVersion);
}

TEST(Builder, InterningSharesOneCopyOfEachString) {
    GraphBuilder builder;
    EXPECT_EQ(builder.intern(""), (Str{0, 0}));
    const Str abc = builder.intern("abc");
    EXPECT_EQ(abc, (Str{0, 3}));
    EXPECT_EQ(builder.intern("abc"), abc);
    EXPECT_EQ(builder.intern("de"), (Str{3, 2}));
    EXPECT_EQ(builder.intern(""), (Str{0, 0}));  // the empty string keeps its first offset
}

TEST(Builder, ReinternUsesThePoolAndMapPassedIn) {
    std::vector<char> pool{'z'};
    InternMap map;
    EXPECT_EQ(reintern("", pool, map), (Str{1, 0}));
    EXPECT_EQ(reintern("ab", pool, map), (Str{1, 2}));
    EXPECT_EQ(reintern("ab", pool, map), (Str{1, 2}));
    EXPECT_EQ(std::string(pool.begin(), pool.end()), "zab");
}

TEST(Builder, NewNodeInternsNameAndPropsBeforeItsId) {
    GraphBuilder builder;
    builder.upsert_node(NodeKind::Product, "id1", "nm", "{}");
    EXPECT_EQ(builder.intern("nm"), (Str{0, 2}));
    EXPECT_EQ(builder.intern("{}"), (Str{2, 2}));
    EXPECT_EQ(builder.intern("id1"), (Str{4, 3}));
}

TEST(Builder, UpdateInternsNameAndPropsEvenForAnExistingId) {
    GraphBuilder builder;
    builder.upsert_node(NodeKind::Product, "a", "", "");
    builder.upsert_node(NodeKind::Product, "a", "new", "{\"k\":1}");
    EXPECT_EQ(builder.intern("a"), (Str{0, 1}));
    EXPECT_EQ(builder.intern("new"), (Str{1, 3}));
}

TEST(Builder, UpsertReplacesKindNameAndPropsWholesale) {
    GraphBuilder builder;
    EXPECT_EQ(builder.upsert_node(NodeKind::Product, "p", "Phone", "{\"a\":1}"), 0u);
    EXPECT_EQ(builder.upsert_node(NodeKind::Offer, "o", "", "{}"), 1u);
    EXPECT_EQ(builder.upsert_node(NodeKind::Brand, "p", "", "{}"), 0u);
    EXPECT_EQ(builder.node_count(), 2u);
    const Graph graph = std::move(builder).build();
    ASSERT_EQ(graph.nodes.size(), 2u);
    EXPECT_EQ(graph.nodes[0].kind, NodeKind::Brand);
    EXPECT_EQ(graph.str(graph.nodes[0].name), "");
    EXPECT_EQ(graph.str(graph.nodes[0].props), "{}");
    EXPECT_EQ(ids(graph), (std::vector<std::string>{"p", "o"}));
}

TEST(Builder, FrozenPoolHoldsIdNamePropsPerKeptNode) {
    GraphBuilder builder;
    builder.upsert_node(NodeKind::Product, "a", "x", "{}");
    builder.upsert_node(NodeKind::Product, "b", "x", "{}");
    const Graph graph = std::move(builder).build();
    EXPECT_EQ(pool_text(graph), "ax{}b");
    EXPECT_EQ(graph.nodes[1].name, graph.nodes[0].name);
    EXPECT_EQ(graph.nodes[1].props, graph.nodes[0].props);
    EXPECT_EQ(graph.nodes[1].id, (Str{4, 1}));
}

TEST(Builder, FrozenPoolDropsOverwrittenAndRemovedStrings) {
    GraphBuilder builder;
    builder.upsert_node(NodeKind::Product, "a", "old name", "{}");
    builder.upsert_node(NodeKind::Product, "gone", "g", "{\"url\":\"u\"}");
    builder.upsert_node(NodeKind::Product, "a", "n", "{}");
    EXPECT_TRUE(builder.remove_node_by_url("u"));
    const Graph graph = std::move(builder).build();
    EXPECT_EQ(pool_text(graph), "an{}");
}

TEST(Builder, EmptyBuilderFreezesToEmptyGraph) {
    const Graph graph = GraphBuilder().build();
    EXPECT_TRUE(graph.string_pool.empty());
    EXPECT_TRUE(graph.nodes.empty());
    EXPECT_TRUE(graph.out_edges.empty());
    EXPECT_TRUE(graph.in_edges.empty());
    EXPECT_EQ(graph.out_offsets, std::vector<std::uint32_t>{0});
    EXPECT_EQ(graph.in_offsets, std::vector<std::uint32_t>{0});
    EXPECT_EQ(graph.magic, kGraphMagic);
    EXPECT_EQ(graph.version, 4u);
}

TEST(Builder, RelationsResolveByIdWhenFrozen) {
    GraphBuilder builder;
    const auto p = builder.upsert_node(NodeKind::Product, "p", "", "{}");
    builder.add_edge(p, RelType::Offers, "o");        // target upserted later: kept
    builder.add_edge(p, RelType::Brand, "nobody");     // target never exists: dropped
    builder.add_edge(7, RelType::Brand, "p");          // source index beyond the nodes: dropped
    builder.upsert_node(NodeKind::Offer, "o", "", "{}");
    builder.add_edge(p, RelType::Offers, "o");        // duplicate: kept twice
    builder.add_edge(p, RelType::Review, "p");        // self relation: in both runs
    const Graph graph = std::move(builder).build();
    expect_adjacency_consistent(graph);
    EXPECT_EQ(out_run(graph, 0), (EdgeRun{{0, "o"}, {0, "o"}, {3, "p"}}));
    EXPECT_EQ(in_run(graph, 0), (EdgeRun{{3, "p"}}));
    EXPECT_EQ(out_run(graph, 1), EdgeRun{});
    EXPECT_EQ(in_run(graph, 1), (EdgeRun{{0, "p"}, {0, "p"}}));
}

TEST(Builder, RunsKeepRecordingOrderAcrossSources) {
    GraphBuilder builder;
    for (const char* id : {"n0", "n1", "n2"}) builder.upsert_node(NodeKind::Product, id, "", "{}");
    builder.add_edge(1, RelType::Category, "n2");
    builder.add_edge(0, RelType::Brand, "n2");
    builder.add_edge(0, RelType::Offers, "n1");
    const Graph graph = std::move(builder).build();
    EXPECT_EQ(in_run(graph, 2), (EdgeRun{{6, "n1"}, {1, "n0"}}));
    EXPECT_EQ(out_run(graph, 0), (EdgeRun{{1, "n2"}, {0, "n1"}}));
    EXPECT_EQ(graph.out_offsets, (std::vector<std::uint32_t>{0, 2, 3, 3}));
    EXPECT_EQ(graph.in_offsets, (std::vector<std::uint32_t>{0, 0, 1, 3}));
}

TEST(Builder, RemoveNodeByUrlSkipsPropsWithoutAMatchingStringUrl) {
    const std::vector<std::string> non_matching = {
        "not json", "[\"https://x/1\"]", "{}", "{\"url\":5}", "{\"URL\":\"https://x/1\"}",
        "{\"url\":\"https://x/1/\"}", "{\"url\":\"HTTPS://x/1\"}", "{\"url\":\"https://x/1\"} trailing",
        "{\"url\":[\"https://x/1\"]}", "\"https://x/1\"",
    };
    for (const auto& props : non_matching) {
        GraphBuilder builder;
        builder.upsert_node(NodeKind::Product, "p", "", props);
        EXPECT_FALSE(builder.remove_node_by_url("https://x/1")) << props;
        EXPECT_EQ(std::move(builder).build().nodes.size(), 1u) << props;
    }
    const std::vector<std::string> matching = {
        "{\"url\":\"https://x/1\"}", " {\"a\":1,\"url\":\"https://x/1\"}\n", "{\"url\":\"https:\\/\\/x\\/1\"}",
        "{\"url\":\"a\",\"url\":\"https://x/1\"}",
    };
    for (const auto& props : matching) {
        GraphBuilder builder;
        builder.upsert_node(NodeKind::Product, "p", "", props);
        EXPECT_TRUE(builder.remove_node_by_url("https://x/1")) << props;
        EXPECT_TRUE(std::move(builder).build().nodes.empty()) << props;
    }
}

TEST(Builder, RemovalDropsTheNodeAndOnlyItsRelations) {
    GraphBuilder builder;
    const auto p = builder.upsert_node(NodeKind::Product, "p", "", "{\"url\":\"u\"}");
    const auto o = builder.upsert_node(NodeKind::Offer, "o", "", "{}");
    const auto b = builder.upsert_node(NodeKind::Brand, "b", "", "{}");
    builder.add_edge(p, RelType::Offers, "o");
    builder.add_edge(o, RelType::Brand, "b");
    builder.add_edge(b, RelType::Review, "p");
    EXPECT_TRUE(builder.remove_node_by_url("u"));
    const Graph graph = std::move(builder).build();
    EXPECT_EQ(ids(graph), (std::vector<std::string>{"o", "b"}));
    EXPECT_EQ(out_run(graph, 0), (EdgeRun{{1, "b"}}));
    EXPECT_EQ(in_run(graph, 1), (EdgeRun{{1, "o"}}));
    EXPECT_EQ(graph.out_edges.size(), 1u);
    EXPECT_EQ(graph.in_edges.size(), 1u);
}

TEST(Builder, RemovalMarksOnlyTheFirstNodeWithTheUrl) {
    GraphBuilder builder;
    builder.upsert_node(NodeKind::Product, "first", "", "{\"url\":\"u\"}");
    builder.upsert_node(NodeKind::Product, "second", "", "{\"url\":\"u\"}");
    EXPECT_TRUE(builder.remove_node_by_url("u"));
    EXPECT_TRUE(builder.remove_node_by_url("u"));
    EXPECT_FALSE(builder.remove_node_by_url("v"));
    EXPECT_EQ(ids(std::move(builder).build()), std::vector<std::string>{"second"});
}

TEST(Builder, UpsertAfterRemovalKeepsTheNodeAndItsRelations) {
    GraphBuilder builder;
    const auto p = builder.upsert_node(NodeKind::Product, "p", "", "{\"url\":\"u\"}");
    builder.upsert_node(NodeKind::Offer, "o", "", "{}");
    builder.add_edge(p, RelType::Offers, "o");
    EXPECT_TRUE(builder.remove_node_by_url("u"));
    EXPECT_EQ(builder.upsert_node(NodeKind::Product, "p", "again", "{}"), p);
    const Graph graph = std::move(builder).build();
    EXPECT_EQ(ids(graph), (std::vector<std::string>{"p", "o"}));
    EXPECT_EQ(out_run(graph, 0), (EdgeRun{{0, "o"}}));
}

TEST(Builder, ThawAndFreezeKeepsNodesPoolAndOutgoingRuns) {
    GraphBuilder builder;
    for (const char* id : {"n0", "n1", "n2"}) builder.upsert_node(NodeKind::Variant, id, "name", "{\"k\":true}");
    builder.add_edge(1, RelType::HasVariant, "n2");
    builder.add_edge(0, RelType::IsVariantOf, "n2");
    builder.add_edge(2, RelType::BroaderCategory, "n0");
    const Graph first = std::move(builder).build();
    const Graph second = GraphBuilder::from_graph(first).build();
    EXPECT_EQ(second.string_pool, first.string_pool);
    EXPECT_EQ(second.nodes, first.nodes);
    EXPECT_EQ(second.out_edges, first.out_edges);
    EXPECT_EQ(second.out_offsets, first.out_offsets);
    // Incoming runs are rebuilt source by source.
    EXPECT_EQ(in_run(first, 2), (EdgeRun{{8, "n1"}, {5, "n0"}}));
    EXPECT_EQ(in_run(second, 2), (EdgeRun{{5, "n0"}, {8, "n1"}}));
}

TEST(Builder, ThawRecordsRelationsWithTheStoredSourceIndex) {
    // A stored graph with a repeated id: the second "a" folds into builder node 0, so stored
    // index 1 names builder node "b" and stored index 2 names no builder node at all.
    Graph stored;
    stored.string_pool = {'a', 'b'};
    stored.nodes = {Node{NodeKind::Product, {0, 1}, {0, 0}, {0, 0}}, Node{NodeKind::Offer, {0, 1}, {0, 0}, {0, 0}},
                    Node{NodeKind::Brand, {1, 1}, {0, 0}, {0, 0}}};
    stored.out_edges = {Edge{RelType::Brand, 2}, Edge{RelType::Offers, 2}, Edge{RelType::Review, 0}};
    stored.out_offsets = {0, 1, 2, 3};
    stored.in_offsets = {0, 0, 0, 0};
    const Graph graph = GraphBuilder::from_graph(stored).build();
    EXPECT_EQ(ids(graph), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(graph.nodes[0].kind, NodeKind::Offer);
    EXPECT_EQ(out_run(graph, 0), (EdgeRun{{1, "b"}}));
    EXPECT_EQ(out_run(graph, 1), (EdgeRun{{0, "b"}}));
    EXPECT_EQ(graph.out_edges.size(), 2u);
}

TEST(Builder, ThawAbortsOnPoolBytesThatAreNotUtf8) {
    Graph stored = GraphBuilder().build();
    stored.string_pool = {'o', 'k', '\xff'};
    stored.nodes = {Node{NodeKind::Product, {0, 3}, {0, 0}, {0, 0}}};
    stored.out_offsets = {0, 0};
    stored.in_offsets = {0, 0};
    try {
        GraphBuilder::from_graph(stored);
        FAIL() << "expected a fatal error";
    } catch (const Fatal& fatal) {
        EXPECT_STREQ(fatal.what(), "string_pool utf8: invalid utf-8 sequence of 1 bytes from index 2");
    }
}

TEST(Builder, SameCallsFreezeToEqualGraphs) {
    auto make = [] {
        GraphBuilder builder;
        for (int i = 0; i < 200; ++i) {
            const std::string id = "n" + std::to_string(i);
            const auto index = builder.upsert_node(NodeKind(i % 9), id, "name" + std::to_string(i % 7), "{}");
            builder.add_edge(index, RelType(i % 10), "n" + std::to_string((i * 37) % 211));
        }
        builder.remove_node_by_url("none");
        return std::move(builder).build();
    };
    const Graph a = make();
    EXPECT_EQ(a, make());
    expect_adjacency_consistent(a);
    EXPECT_EQ(a.nodes.size(), 200u);
}

}  // namespace
}  // namespace kuv::core
