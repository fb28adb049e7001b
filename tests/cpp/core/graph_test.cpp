#include "core/graph.hpp"

#include "core/error.hpp"

#include <gtest/gtest.h>

#include <string>

namespace kuv::core {
namespace {

Graph graph_with_pool(std::string_view pool) {
    Graph graph;
    graph.string_pool.assign(pool.begin(), pool.end());
    return graph;
}

std::string fatal_text(const Graph& graph, Str s) {
    try {
        graph.str(s);
    } catch (const Fatal& fatal) {
        return fatal.what();
    }
    return "no error";
}

TEST(GraphStr, ValidTextIsReturnedInPlace) {
    const std::string pool = "x\xff" "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80";
    const Graph graph = graph_with_pool(pool);
    const Str s{2, std::uint32_t(pool.size() - 2)};
    EXPECT_EQ(graph.str(s), pool.substr(2));
    EXPECT_EQ(graph.str(s).data(), graph.string_pool.data() + 2);
    EXPECT_EQ(graph.str(Str{std::uint32_t(pool.size()), 0}), "");
}

TEST(GraphStr, InvalidBytesAbortWithTheDecodingError) {
    struct Case { std::string bytes; std::string description; };
    const Case cases[] = {
        {"\xff", "invalid utf-8 sequence of 1 bytes from index 0"},
        {"ab\x80", "invalid utf-8 sequence of 1 bytes from index 2"},
        {"ab\xc3", "incomplete utf-8 byte sequence from index 2"},
        {"\xe2\x82", "incomplete utf-8 byte sequence from index 0"},
        {"\xf0\x9f\x98", "incomplete utf-8 byte sequence from index 0"},
        {"\xe2(\xa1", "invalid utf-8 sequence of 1 bytes from index 0"},
        {"\xe2\x82(", "invalid utf-8 sequence of 2 bytes from index 0"},
        {"ok\xf0\x9f\x98(", "invalid utf-8 sequence of 3 bytes from index 2"},
        {"\xc0\xaf", "invalid utf-8 sequence of 1 bytes from index 0"},         // overlong
        {"a\xe0\x80\x80", "invalid utf-8 sequence of 1 bytes from index 1"},    // overlong
        {"\xed\xa0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},     // surrogate
        {"\xf4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"}, // above U+10FFFF
        {"\xf5\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
        {"\xc3\xa9\xe0\x80", "invalid utf-8 sequence of 1 bytes from index 2"},
    };
    for (const auto& c : cases) {
        const Graph graph = graph_with_pool("--" + c.bytes);
        EXPECT_EQ(fatal_text(graph, Str{2, std::uint32_t(c.bytes.size())}), "string_pool utf8: " + c.description)
            << c.description;
    }
}

TEST(GraphStr, ReferenceOutsideThePoolIsFatal) {
    const Graph graph = graph_with_pool("abc");
    EXPECT_EQ(fatal_text(graph, Str{2, 2}), "range end index 4 out of range for slice of length 3");
    EXPECT_EQ(fatal_text(graph, Str{0xffffffffu, 0xffffffffu}),
              "range end index 8589934590 out of range for slice of length 3");
}

TEST(GraphOutEdges, RunsFollowTheOffsets) {
    Graph graph;
    graph.nodes.resize(3);
    graph.out_edges = {Edge{RelType::Offers, 1}, Edge{RelType::Brand, 2}, Edge{RelType::Review, 0}};
    graph.out_offsets = {0, 2, 2, 3};
    const auto first = graph.out_edges_of(0);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[1], (Edge{RelType::Brand, 2}));
    EXPECT_TRUE(graph.out_edges_of(1).empty());
    ASSERT_EQ(graph.out_edges_of(2).size(), 1u);
    EXPECT_EQ(graph.out_edges_of(2)[0], (Edge{RelType::Review, 0}));
    EXPECT_THROW(graph.out_edges_of(3), Fatal);
}

TEST(GraphOutEdges, InconsistentOffsetsAreFatalNotOutOfBounds) {
    Graph graph;
    graph.nodes.resize(2);
    graph.out_edges = {Edge{RelType::Offers, 1}};
    graph.out_offsets = {1, 0, 5};
    EXPECT_THROW(graph.out_edges_of(0), Fatal);
    EXPECT_THROW(graph.out_edges_of(1), Fatal);
}

}  // namespace
}  // namespace kuv::core
