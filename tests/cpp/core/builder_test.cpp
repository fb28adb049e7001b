#include "core/builder.hpp"

#include "core/error.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace kuv::core {
namespace {

std::string pool_text(const Graph& graph) { return {graph.string_pool.begin(), graph.string_pool.end()}; }

// Every node's id with its run in one direction as relation code and other end's id,
// e.g. "p: 0o 3p; o:". The offsets must bracket the whole edge array.
std::string runs(const Graph& graph, bool incoming) {
    const auto& edges = incoming ? graph.in_edges : graph.out_edges;
    const auto& offsets = incoming ? graph.in_offsets : graph.out_offsets;
    if (offsets.size() != graph.nodes.size() + 1 || offsets.front() != 0 || offsets.back() != edges.size()) return "bad offsets";
    const auto id = [&](std::uint32_t node) { return std::string(graph.str(graph.nodes.at(node).id)); };
    std::string out;
    for (std::uint32_t i = 0; i < graph.nodes.size(); ++i) {
        out += (i == 0 ? "" : "; ") + id(i) + ":";
        for (auto e = offsets[i]; e < offsets.at(i + 1); ++e) out += " " + std::to_string(int(edges.at(e).rel)) + id(edges[e].node);
    }
    return out;
}

TEST(Builder, UpsertReplacesAnExistingNodeAndThePoolHoldsEachKeptTextOnce) {
    GraphBuilder builder;
    EXPECT_EQ(builder.upsert_node(NodeKind::Product, "p", "old", "{}"), 0u);
    EXPECT_EQ(builder.upsert_node(NodeKind::Offer, "o", "", "{}"), 1u);
    EXPECT_EQ(builder.upsert_node(NodeKind::Brand, "p", "Phone", "{}"), 0u);
    EXPECT_EQ(builder.node_count(), 2u);
    const Graph graph = std::move(builder).build();
    EXPECT_EQ(pool_text(graph), "pPhone{}o");  // only the strings of kept nodes, in node order
    EXPECT_EQ(graph.nodes, (std::vector<Node>{{NodeKind::Brand, {0, 1}, {1, 5}, {6, 2}},
                                              {NodeKind::Offer, {8, 1}, {9, 0}, {6, 2}}}));
}

TEST(Builder, RelationsResolveByIdWhenFrozenInRecordingOrder) {
    GraphBuilder builder;
    const auto p = builder.upsert_node(NodeKind::Product, "p", "", "{}");
    builder.add_edge(p, RelType::Offers, "o");       // target upserted later: kept
    builder.add_edge(p, RelType::Brand, "nobody");   // target never upserted: dropped
    builder.add_edge(7, RelType::Brand, "p");        // source index beyond the nodes: dropped
    builder.add_edge(builder.upsert_node(NodeKind::Offer, "o", "", "{}"), RelType::Category, "p");  // between two of p
    builder.add_edge(p, RelType::Offers, "o");       // duplicate: kept twice
    builder.add_edge(p, RelType::Review, "p");       // self relation: in both runs
    const Graph graph = std::move(builder).build();
    EXPECT_EQ(runs(graph, false) + " / " + runs(graph, true), "p: 0o 0o 3p; o: 6p / p: 6o 3p; o: 0p 0p");
}

TEST(Builder, RemovalByUrlMatchesOnlyAStringUrlMemberOfAnObject) {
    const std::pair<std::string, bool> cases[] = {
        {" {\"a\":1,\"url\":\"https://x/1\"}\n", true}, {R"({"url":"https:\/\/x\/1"})", true}, {"not json", false}, {"{}", false},
        {R"({"url":"a","url":"https://x/1"})", true}, {R"(["https://x/1"])", false}, {R"({"url":["https://x/1"]})", false},
        {R"({"URL":"https://x/1"})", false}, {R"({"url":"https://x/1/"})", false}, {R"({"url":"https://x/1"} x)", false},
    };
    for (const auto& [props, matches] : cases) {
        GraphBuilder builder;
        builder.upsert_node(NodeKind::Product, "p", "", props);
        EXPECT_EQ(builder.remove_node_by_url("https://x/1"), matches) << props;
        EXPECT_EQ(std::move(builder).build().nodes.size(), matches ? 0u : 1u) << props;
    }
}

TEST(Builder, RemovalOfAUrlListMarksTheFirstNodeOfEachUrl) {
    const struct {
        std::vector<std::string_view> urls;
        std::size_t found;
        std::string kept;
    } cases[] = {
        {{}, 0, "a b c d"},
        {{"u1"}, 1, "b c d"},
        {{"u1", "u1"}, 1, "b c d"},  // listed twice: still only the first node carrying it
        {{"u2", "nowhere", "u1"}, 2, "b d"},
        {{"U1", "u1/"}, 0, "a b c d"},
    };
    for (const auto& [urls, found, kept] : cases) {
        GraphBuilder builder;
        for (const auto& [id, props] : {std::pair{"a", R"({"url":"u1"})"}, {"b", R"({"url":"u1"})"}, {"c", R"({"url":"u2"})"},
                                        {"d", "{}"}}) {
            builder.upsert_node(NodeKind::Product, id, "", props);
        }
        EXPECT_EQ(builder.remove_nodes_by_urls(urls), found) << ::testing::PrintToString(urls);
        std::string ids;
        const Graph graph = std::move(builder).build();
        for (const Node& node : graph.nodes) ids += (ids.empty() ? "" : " ") + std::string(graph.str(node.id));
        EXPECT_EQ(ids, kept) << ::testing::PrintToString(urls);
    }
}

TEST(Builder, RemovalDropsTheFirstMatchWithItsStringsAndRelationsUntilAnUpsertRevivesIt) {
    const auto marked = [] {
        GraphBuilder builder;
        for (const char* id : {"first", "second"}) {
            builder.add_edge(builder.upsert_node(NodeKind::Product, id, id, "{\"url\":\"u\"}"), RelType::Offers, "o");
        }
        builder.add_edge(builder.upsert_node(NodeKind::Offer, "o", "", "{}"), RelType::Brand, "first");
        EXPECT_TRUE(builder.remove_node_by_url("u") && builder.remove_node_by_url("u"));  // the second marks "first" again
        return builder;
    };
    GraphBuilder revived = marked();
    EXPECT_EQ(revived.upsert_node(NodeKind::Product, "first", "back", "{}"), 0u);
    const Graph graph = marked().build();
    EXPECT_EQ(pool_text(graph), "second{\"url\":\"u\"}o{}");
    EXPECT_EQ(runs(graph, false) + " / " + runs(graph, true), "second: 0o; o: / second:; o: 0second");
    EXPECT_EQ(runs(std::move(revived).build(), false), "first: 0o; second: 0o; o: 1first");
}

// Calls made page by page on builders of their own and absorbed in order freeze into exactly
// the graph that making them all on one builder gives.
TEST(Builder, AbsorbingPageBuildersEqualsMakingTheirCallsDirectly) {
    using Page = std::function<void(GraphBuilder&)>;
    const auto product = [](std::string id, std::string name, std::vector<std::string> targets) -> Page {
        return [=](GraphBuilder& b) {
            const auto p = b.upsert_node(NodeKind::Product, id, name, "{\"url\":\"" + id + "\"}");
            for (const auto& target : targets) {
                b.add_edge(p, RelType::Offers, target);
                b.upsert_node(NodeKind::Offer, target, "", "{}");
            }
        };
    };
    const std::vector<std::pair<std::string, std::vector<Page>>> cases = {
        {"nothing", {}},
        {"empty pages", {[](GraphBuilder&) {}, [](GraphBuilder&) {}}},
        {"a later page overwrites", {product("p", "one", {"o1"}), product("q", "", {}), product("p", "two", {"o1", "o2"})}},
        {"an id repeated on one page", {[](GraphBuilder& b) {
             b.add_edge(b.upsert_node(NodeKind::Brand, "x", "first", "{}"), RelType::Brand, "x");
             b.upsert_node(NodeKind::Product, "y", "", "{}");
             b.add_edge(b.upsert_node(NodeKind::Offer, "x", "second", "[]"), RelType::Offers, "y");
         }}},
        {"targets on earlier, later and no pages", {[](GraphBuilder& b) {
             const auto a = b.upsert_node(NodeKind::Product, "a", "", "{}");
             b.add_edge(a, RelType::Brand, "later");
             b.add_edge(a, RelType::Brand, "never");
         }, product("b", "", {"a"}), [](GraphBuilder& b) { b.add_edge(b.upsert_node(NodeKind::Brand, "later", "L", "{}"), RelType::Brand, "a"); }}},
        {"texts shared between nodes", {[](GraphBuilder& b) {
             b.upsert_node(NodeKind::Brand, "Acme", "Acme", "{}");
             b.upsert_node(NodeKind::Person, "{}", "Acme", "Acme");
         }, product("Acme2", "Acme", {"Acme"})}},
    };
    for (const auto& [name, pages] : cases) {
        GraphBuilder direct;
        GraphBuilder absorbed;
        for (const Page& page : pages) {
            page(direct);
            GraphBuilder own;
            page(own);
            absorbed.absorb(own);
        }
        for (GraphBuilder* builder : {&direct, &absorbed}) builder->remove_node_by_url("b");
        EXPECT_EQ(std::move(absorbed).build(), std::move(direct).build()) << name;
    }
}

TEST(Builder, ThawKeepsPoolNodesAndOutgoingRunsFoldsRepeatedIdsAndRefusesBadUtf8) {
    GraphBuilder builder;
    for (const char* id : {"n0", "n1", "n2"}) builder.upsert_node(NodeKind::Variant, id, "name", "{\"k\":true}");
    builder.add_edge(1, RelType::HasVariant, "n2");
    builder.add_edge(0, RelType::IsVariantOf, "n2");
    builder.add_edge(2, RelType::BroaderCategory, "n0");
    const Graph first = std::move(builder).build();
    const Graph second = GraphBuilder::from_graph(first).build();
    EXPECT_EQ(std::tie(second.string_pool, second.nodes, second.out_edges, second.out_offsets),
              std::tie(first.string_pool, first.nodes, first.out_edges, first.out_offsets));
    EXPECT_EQ(runs(first, true), "n0: 9n2; n1:; n2: 8n1 5n0");
    EXPECT_EQ(runs(second, true), "n0: 9n2; n1:; n2: 5n0 8n1");  // rebuilt source by source
    // A repeated id folds into its first node: stored index 1 then names builder node "b", index 2 none.
    Graph stored{kGraphMagic, kGraphVersion, {'a', 'b'},
                 {{NodeKind::Product, {0, 1}, {}, {}}, {NodeKind::Offer, {0, 1}, {}, {}}, {NodeKind::Brand, {1, 1}, {}, {}}},
                 {{RelType::Brand, 2}, {RelType::Offers, 2}, {RelType::Review, 0}}, {0, 1, 2, 3}, {}, {}};
    const Graph folded = GraphBuilder::from_graph(stored).build();
    EXPECT_EQ(folded.nodes[0].kind, NodeKind::Offer);
    EXPECT_EQ(runs(folded, false), "a: 1b; b: 0b");
    stored.string_pool[1] = '\xff';
    EXPECT_THROW(GraphBuilder::from_graph(stored), Fatal);
}

// Freezing frees the held texts block by block as it copies them; texts written long after
// their node (overwrites) or shared between nodes must still be there when they are copied.
TEST(Builder, FreezingCopiesEveryTextBeforeItsBlockIsFreed) {
    const auto props = [](int i, int version) { return "{\"v\":" + std::to_string(version) + ",\"pad\":\"" + std::string(4000, char('a' + i % 26)) + "\"}"; };
    GraphBuilder overwritten;
    GraphBuilder fresh;  // only the final values
    for (int i = 0; i < 2000; ++i) overwritten.upsert_node(NodeKind::Product, "n" + std::to_string(i), "", props(i, 1));
    for (int i = 0; i < 2000; i += 7) overwritten.upsert_node(NodeKind::Offer, "n" + std::to_string(i), "x", props(i, 2));
    overwritten.upsert_node(NodeKind::Brand, "n0", "last", props(0, 3));
    for (int i = 0; i < 2000; ++i) {
        const bool changed = i % 7 == 0;
        fresh.upsert_node(i == 0 ? NodeKind::Brand : changed ? NodeKind::Offer : NodeKind::Product, "n" + std::to_string(i),
                          i == 0 ? "last" : changed ? "x" : "", props(i, i == 0 ? 3 : changed ? 2 : 1));
    }
    EXPECT_EQ(std::move(overwritten).build(), std::move(fresh).build());
}

TEST(Builder, IdsAndStringsResolveAcrossTableGrowth) {  // both tables grow many times while being read
    GraphBuilder builder;
    for (std::uint32_t i = 0; i < 3000; ++i) {
        ASSERT_EQ(builder.upsert_node(NodeKind::Product, "n" + std::to_string(i), std::to_string(i % 7), "{}"), i);
        builder.add_edge(i, RelType::Offers, "n" + std::to_string(i * 37 % 3000));
    }
    const Graph graph = std::move(builder).build();
    for (std::uint32_t i = 0; i < 3000; ++i) ASSERT_EQ(graph.out_edges.at(i).node, i * 37 % 3000);
    for (std::uint32_t i = 0; i < 3000; ++i) ASSERT_EQ(graph.nodes[i].name, graph.nodes[i % 7].name);
}

}  // namespace
}  // namespace kuv::core
