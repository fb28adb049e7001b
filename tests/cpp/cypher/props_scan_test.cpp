// Property reads take only the members a query names from each node's props text, yet a text
// the JSON parser would reject still reads as no properties at all.
#include "cypher/executor.hpp"

#include "core/builder.hpp"
#include "core/store.hpp"
#include "cypher/parser.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kuv::cypher {
namespace {

// The rows of `query` over one product per props text, in node order.
std::vector<std::string> rows_over(const std::vector<std::string>& props, const std::string& query) {
    core::GraphBuilder builder;
    for (std::size_t i = 0; i < props.size(); ++i) builder.upsert_node(core::NodeKind::Product, std::to_string(i), "", props[i]);
    const std::string bytes = core::serialize(std::move(builder).build());
    const core::LoadedGraph graph = core::LoadedGraph::from_bytes(bytes);
    std::vector<std::string> rows;
    for (const Row& row : execute(graph, std::get<Query>(parse(query))).rows) rows.push_back(debug_row(row));
    return rows;
}

TEST(PropsScan, ReadsOnlyTopLevelMembersOfValidObjects) {
    const std::pair<std::string, std::string> cases[] = {
        {R"({"a":1,"b":"x"})", R"([Int(1), Str("x")])"}, {R"({"a":[1],"a":2,"b":{"c":1},"b":"7"})", "[Int(2), Int(7)]"},
        {R"({"x":{"a":1},"y":[{"b":2}]})", "[Null, Null]"}, {R"([{"a":1,"b":2}])", "[Null, Null]"},
        // Invalid anywhere, even after the members read: no properties.
        {R"({"a":1,"b":2,"c":})", "[Null, Null]"}, {R"({"a":1,"b":2} x)", "[Null, Null]"},
    };
    for (const auto& [props, row] : cases) {
        EXPECT_EQ(rows_over({props}, "MATCH (p:Product) RETURN p.a, p.b"), std::vector{row}) << props;
    }
}

TEST(PropsScan, EveryQueryKeyIsTakenFromOneScan) {
    const std::vector<std::string> props = {R"({"a":3,"b":"x","c":1.5})", R"({"a":1,"b":"y"})", "not json"};
    EXPECT_EQ(rows_over(props, "MATCH (p:Product) WHERE p.a > 1 OR p.b = 'y' RETURN p.c, p.b ORDER BY p.a"),
              (std::vector<std::string>{R"([Null, Str("y")])", R"([Float(1.5), Str("x")])"}));
    EXPECT_EQ(rows_over(props, "MATCH (p:Product) RETURN count(*)"), (std::vector<std::string>{"[Int(3)]"}));
}

}  // namespace
}  // namespace kuv::cypher
