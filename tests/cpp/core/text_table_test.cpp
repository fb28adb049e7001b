#include "core/builder.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kuv::core {
namespace {

// Texts are found by their own bytes whatever the hashes do, across growth and reserve.
TEST(TextTable, FindsEveryTextAndNoOtherUnderPoorHashes) {
    const struct {
        const char* name;
        std::uint64_t (*hash)(std::size_t index);
    } hashes[] = {
        {"all equal", [](std::size_t) -> std::uint64_t { return 1; }},
        {"same low bits", [](std::size_t i) -> std::uint64_t { return (i + 1) << 20; }},
        {"distinct", [](std::size_t i) -> std::uint64_t { return i * 0x9e3779b97f4a7c15 + 1; }},
    };
    for (const auto& [name, hash] : hashes) {
        for (const std::size_t reserved : {std::size_t{0}, std::size_t{3000}}) {
            std::vector<std::string> texts;
            TextTable<std::uint32_t> table;
            table.reserve(reserved);
            const auto text_of = [&texts](std::uint32_t i) -> std::string_view { return texts.at(i); };
            const std::size_t count = hash(0) == hash(1) ? 300 : 3000;
            for (std::uint32_t i = 0; i < count; ++i) {
                texts.push_back("t" + std::to_string(i));
                table.insert(hash(i), i);
            }
            EXPECT_EQ(table.size(), count) << name;
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint32_t* found = table.find(texts[i], hash(i), text_of);
                ASSERT_TRUE(found) << name << " " << i;
                EXPECT_EQ(*found, i) << name;
                EXPECT_FALSE(table.find("u" + std::to_string(i), hash(i), text_of)) << name << " " << i;
            }
        }
    }
}

// Enough nodes and strings that both tables grow many times while being read.
TEST(TextTable, BuilderKeepsIdentityAndInterningAcrossGrowth) {
    constexpr int kNodes = 20000;
    GraphBuilder builder;
    std::vector<Str> first_names;
    for (int i = 0; i < kNodes; ++i) {
        const std::string n = std::to_string(i);
        EXPECT_EQ(builder.upsert_node(NodeKind::Product, "id" + n, "name" + n, "{}"), std::uint32_t(i));
        first_names.push_back(builder.intern("name" + n));
        builder.add_edge(i, RelType::Offers, "id" + std::to_string((i + 1) % kNodes));
    }
    for (int i = 0; i < kNodes; ++i) {
        const std::string n = std::to_string(i);
        ASSERT_EQ(builder.intern("name" + n), first_names[i]);
        ASSERT_EQ(builder.upsert_node(NodeKind::Offer, "id" + n, "name" + n, "{}"), std::uint32_t(i));
    }
    EXPECT_EQ(builder.node_count(), std::size_t(kNodes));
    const Graph graph = std::move(builder).build();
    ASSERT_EQ(graph.nodes.size(), std::size_t(kNodes));
    ASSERT_EQ(graph.out_edges.size(), std::size_t(kNodes));
    for (std::uint32_t i = 0; i < kNodes; ++i) {
        ASSERT_EQ(graph.str(graph.nodes[i].name), "name" + std::to_string(i));
        ASSERT_EQ(graph.out_edges[i].node, (i + 1) % kNodes);
    }
}

}  // namespace
}  // namespace kuv::core
