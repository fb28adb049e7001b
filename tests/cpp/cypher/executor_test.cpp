#include "cypher/executor.hpp"

#include "core/builder.hpp"
#include "core/error.hpp"
#include "cypher/parser.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kuv::cypher {
namespace {

using core::NodeKind;
using core::RelType;

struct NodeSpec {
    NodeKind kind;
    std::string id;
    std::string name;
    std::string props;
};

struct EdgeSpec {
    std::string source;
    RelType rel;
    std::string target;
};

// A graph image held in memory and validated like a file. Not movable: the view borrows bytes_.
class TestGraph {
public:
    TestGraph(const std::vector<NodeSpec>& nodes, const std::vector<EdgeSpec>& edges = {})
        : bytes_(image(nodes, edges)), graph_(core::LoadedGraph::from_bytes(bytes_)) {}
    TestGraph(const TestGraph&) = delete;
    TestGraph& operator=(const TestGraph&) = delete;

    // The debug text of each row, or the single entry "error: {message}".
    std::vector<std::string> rows(std::string_view text) const {
        try {
            std::vector<std::string> out;
            for (const Row& row : run(text).rows) out.push_back(debug_row(row));
            return out;
        } catch (const Error& e) {
            return {std::string("error: ") + e.what()};
        }
    }

    std::vector<std::string> columns(std::string_view text) const { return run(text).columns; }

private:
    static std::string image(const std::vector<NodeSpec>& nodes, const std::vector<EdgeSpec>& edges) {
        core::GraphBuilder builder;
        std::unordered_map<std::string, std::uint32_t> index;
        for (const NodeSpec& node : nodes) index[node.id] = builder.upsert_node(node.kind, node.id, node.name, node.props);
        for (const EdgeSpec& edge : edges) builder.add_edge(index.at(edge.source), edge.rel, edge.target);
        return core::serialize(std::move(builder).build());
    }

    QueryResult run(std::string_view text) const {
        auto parsed = parse(text);
        if (auto* message = std::get_if<std::string>(&parsed)) {
            ADD_FAILURE() << "parse failed: " << *message;
            return {};
        }
        return execute(graph_, std::get<Query>(parsed));
    }

    std::string bytes_;
    core::LoadedGraph graph_;
};

struct Case {
    std::string query;
    std::vector<std::string> rows;
};

void expect_rows(const TestGraph& graph, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        EXPECT_EQ(graph.rows(c.query), c.rows);
    }
}

// Products p0, p1, ... named like their ids, one per props text.
std::vector<NodeSpec> products(const std::vector<std::string>& props) {
    std::vector<NodeSpec> nodes;
    for (std::size_t i = 0; i < props.size(); ++i) {
        const std::string id = "p" + std::to_string(i);
        nodes.push_back({NodeKind::Product, id, id, props[i]});
    }
    return nodes;
}

TEST(ExecutorTest, PropertyReadsConvertJsonMembers) {
    const TestGraph graph({
        {NodeKind::Product, "p0", "Acme Corp",
         R"({"price":"12.50","weight":"12.50","sku":"0042","stock":"7","name":"shadow","kind":"shadow",)"
         R"("big":9223372036854775808,"neg":-9223372036854775808,"f":7.0,"t":true,"n":12.5,)"
         R"("s1":"-","s2":".5","s3":"5.","s4":"+5","s5":" 5","s6":"1e5","s7":"1,5","s8":"1.2.3",)"
         R"("z1":"-0","z2":"-0.0","z3":"99999999999999999999","z4":"007","z5":"3.50","z6":"00.5","z7":"-05",)"
         R"("z8":"0.5","arr":[1],"obj":{},"nul":null,"Name":"upper"})"},
        {NodeKind::Organization, "o", "Org", "[1,2]"},
        {NodeKind::Product, "bad", "Bad", "not json"},
        {NodeKind::Product, "p3", "\xff", R"({"x":1})"},
    });
    expect_rows(graph, {
        {"MATCH (n {name: 'Acme Corp'}) RETURN n.price, n.weight, n.sku, n.stock, n.name, n.kind",
         {R"([Str("12.50"), Float(12.5), Str("0042"), Int(7), Str("Acme Corp"), Str("Product")])"}},
        {"MATCH (n {name: 'Acme Corp'}) RETURN n.big, n.neg, n.f, n.t, n.n, n.Name",
         {R"([Float(9.223372036854776e18), Int(-9223372036854775808), Float(7.0), Bool(true), Float(12.5), Str("upper")])"}},
        {"MATCH (n {name: 'Acme Corp'}) RETURN n.s1, n.s2, n.s3, n.s4, n.s5, n.s6, n.s7, n.s8",
         {R"([Str("-"), Str(".5"), Str("5."), Str("+5"), Str(" 5"), Str("1e5"), Str("1,5"), Str("1.2.3")])"}},
        {"MATCH (n {name: 'Acme Corp'}) RETURN n.z1, n.z2, n.z3, n.z4, n.z5, n.z6, n.z7, n.z8",
         {R"([Int(0), Float(-0.0), Float(1e20), Str("007"), Float(3.5), Str("00.5"), Str("-05"), Float(0.5)])"}},
        {"MATCH (n {name: 'Acme Corp'}) RETURN n.arr, n.obj, n.nul, n.missing",
         {"[Null, Null, Null, Null]"}},
        {"MATCH (o:Organization) RETURN o.kind, o.name, o.x", {R"([Str("Organization"), Str("Org"), Null])"}},
        {"MATCH (n {name: 'Bad'}) RETURN n.x, n.kind", {R"([Null, Str("Product")])"}},
        {"MATCH (n {x: 1}) RETURN n.name, n", {R"([Str(""), NodeRef { idx: 3, kind: "Product", name: "" }])"}},
        {"MATCH (n:Product) RETURN n",
         {R"([NodeRef { idx: 0, kind: "Product", name: "Acme Corp" }])",
          R"([NodeRef { idx: 2, kind: "Product", name: "Bad" }])",
          R"([NodeRef { idx: 3, kind: "Product", name: "" }])"}},
    });
}

// Alpha and Beta offer o1/o2 (Beta records o2 twice); Gamma has a self-loop; the brand points
// back at Alpha.
const std::vector<NodeSpec> kShopNodes = {
    {NodeKind::Product, "alpha", "Alpha", R"({"price":10,"brand":"acme","stock":0,"a":1,"b":1.0,"nul":null,"arr":[]})"},
    {NodeKind::Offer, "o1", "o1", R"({"price":"12.50","weight":"12.50","currency":"EUR"})"},
    {NodeKind::Offer, "o2", "o2", R"({"price":5,"currency":"USD"})"},
    {NodeKind::Product, "beta", "Acme Corp", R"({"brand":"zeta","stock":"x","flag":false,"a":1,"b":2})"},
    {NodeKind::Brand, "acme", "Acme", "{}"},
    {NodeKind::Organization, "maker", "Maker", "{}"},
    {NodeKind::Product, "gamma", "ΟΔΟΣ İstanbul", R"({"big":9007199254740993,"obj":{"a":1},"stock":""})"},
};
const std::vector<EdgeSpec> kShopEdges = {
    {"alpha", RelType::Offers, "o1"},     {"alpha", RelType::Offers, "o2"},
    {"alpha", RelType::Brand, "acme"},    {"beta", RelType::Manufacturer, "maker"},
    {"beta", RelType::Offers, "o2"},      {"beta", RelType::Offers, "o2"},
    {"gamma", RelType::Brand, "acme"},    {"gamma", RelType::Category, "gamma"},
    {"acme", RelType::Author, "alpha"},
};

TEST(ExecutorTest, MatchingFollowsAdjacencyInStoredOrder) {
    const TestGraph graph(kShopNodes, kShopEdges);
    expect_rows(graph, {
        {"MATCH (p:Product)-[:Offers]->(o:Offer) RETURN p.name, o.name",
         {R"([Str("Alpha"), Str("o1")])", R"([Str("Alpha"), Str("o2")])", R"([Str("Acme Corp"), Str("o2")])",
          R"([Str("Acme Corp"), Str("o2")])"}},
        {"MATCH (o:Offer)<-[:Offers]-(p:Product) RETURN o.name, p.name",
         {R"([Str("o1"), Str("Alpha")])", R"([Str("o2"), Str("Alpha")])", R"([Str("o2"), Str("Acme Corp")])",
          R"([Str("o2"), Str("Acme Corp")])"}},
        {"MATCH (p:Product)-[:Brand|Manufacturer]->(x) RETURN p.name, x.kind",
         {R"([Str("Alpha"), Str("Brand")])", R"([Str("Acme Corp"), Str("Organization")])",
          R"([Str("ΟΔΟΣ İstanbul"), Str("Brand")])"}},
        {"MATCH (p {name: 'ΟΔΟΣ İstanbul'})-->(x) RETURN x.kind", {R"([Str("Brand")])", R"([Str("Product")])"}},
        {"MATCH (p:Product)-[]->(x:Product) RETURN p.name, x.name",
         {R"([Str("ΟΔΟΣ İstanbul"), Str("ΟΔΟΣ İstanbul")])"}},
        {"MATCH (a:Product)-->(b:Brand)-->(c) RETURN a.name, c.name",
         {R"([Str("Alpha"), Str("Alpha")])", R"([Str("ΟΔΟΣ İstanbul"), Str("Alpha")])"}},
        {"MATCH (a:Product)<--(b)<--(c) RETURN a.name, b.kind, c.name", {R"([Str("Alpha"), Str("Brand"), Str("Alpha")])",
                                                                         R"([Str("Alpha"), Str("Brand"), Str("ΟΔΟΣ İstanbul")])",
                                                                         R"([Str("ΟΔΟΣ İstanbul"), Str("Product"), Str("ΟΔΟΣ İstanbul")])"}},
        {"MATCH (x:Variant) RETURN x", {}},
        {"MATCH (p:Product)-[:Review]->(r) RETURN p", {}},
        {"MATCH (o:Offer {price: 12.5}) RETURN o.name", {}},
        {"MATCH (o:Offer {price: '12.50'}) RETURN o.name", {R"([Str("o1")])"}},
        {"MATCH (o:Offer {weight: 12.5}) RETURN o.name", {R"([Str("o1")])"}},
        {"MATCH (o:Offer {price: 5.0, currency: 'USD'}) RETURN o.name", {R"([Str("o2")])"}},
        {"MATCH (o:Offer {price: 5, currency: 'usd'}) RETURN o.name", {}},
        {"MATCH (p {name: 'Alpha', kind: 'Product'}) RETURN p.price", {"[Int(10)]"}},
        {"MATCH (p {big: 9007199254740992}) RETURN p.kind", {R"([Str("Product")])"}},
        {"MATCH (p {stock: false}) RETURN p", {}},
        {"MATCH (p {flag: false}) RETURN p.name", {R"([Str("Acme Corp")])"}},
        {"MATCH (p {price: '10'}) RETURN p.name", {}},
    });
    EXPECT_TRUE(TestGraph({}).rows("MATCH (n) RETURN n, count(*)").empty());
}

TEST(ExecutorTest, WhereIsTwoValued) {
    const TestGraph graph(kShopNodes, kShopEdges);
    const std::string products = "MATCH (p:Product) WHERE ";
    expect_rows(graph, {
        {products + "p.missing <> 1 RETURN p.name", {}},
        {products + "p.missing != 1 RETURN p.name", {}},
        {products + "NOT p.missing = 1 RETURN p.price",
         {"[Int(10)]", "[Null]", "[Null]"}},
        {products + "NOT (p.missing < 1) AND p.price >= 10 RETURN p.name", {R"([Str("Alpha")])"}},
        {products + "p.nul IS NOT NULL OR p.arr IS NOT NULL OR p.obj IS NOT NULL OR p.missing IS NOT NULL RETURN p", {}},
        {products + "p.obj IS NULL RETURN p.name", {R"([Str("Alpha")])", R"([Str("Acme Corp")])", R"([Str("ΟΔΟΣ İstanbul")])"}},
        {products + "p.brand IS NOT NULL RETURN p.brand", {R"([Str("acme")])", R"([Str("zeta")])"}},
        {"MATCH (o:Offer) WHERE o.price > 10 RETURN o.name", {}},
        {"MATCH (o:Offer) WHERE o.price > '10' RETURN o.name", {R"([Str("o1")])"}},
        {"MATCH (o:Offer) WHERE o.price <> 'x' RETURN o.name", {R"([Str("o1")])", R"([Str("o2")])"}},
        {"MATCH (o:Offer) WHERE o.price <= 5.0 RETURN o.name", {R"([Str("o2")])"}},
        {products + "p.name CONTAINS 'ACME' RETURN p.name", {R"([Str("Acme Corp")])"}},
        {products + "p.name =~ 'acme' RETURN p.name", {}},
        {products + "p.name =~ 'cme' RETURN p.name", {R"([Str("Acme Corp")])"}},
        {products + "p.name STARTS WITH 'alp' RETURN p.name", {R"([Str("Alpha")])"}},
        {products + "p.name ENDS WITH 'CORP' OR p.name ENDS WITH 'x' RETURN p.name", {R"([Str("Acme Corp")])"}},
        {products + "p.brand CONTAINS '' RETURN p.name", {R"([Str("Alpha")])", R"([Str("Acme Corp")])"}},
        {products + "p.price CONTAINS '1' RETURN p.name", {}},
        // Full lower-case mapping: the final capital sigma becomes ς, the dotted capital I
        // becomes i followed by a combining dot.
        {products + "p.name CONTAINS '\u03bf\u03b4\u03bf\u03c3 ' RETURN p.kind", {}},
        {products + "p.name CONTAINS '\u03bf\u03b4\u03bf\u03c2 ' RETURN p.kind", {R"([Str("Product")])"}},
        {products + "p.name ENDS WITH 'ΟΔΟΣ İSTANBUL' RETURN p.kind", {R"([Str("Product")])"}},
        {products + "p.name CONTAINS 'i\u0307stanbul' RETURN p.kind", {R"([Str("Product")])"}},
        {products + "p.name CONTAINS 'istanbul' RETURN p.kind", {}},
        {products + "p.stock RETURN p.name", {R"([Str("Alpha")])", R"([Str("Acme Corp")])", R"([Str("ΟΔΟΣ İstanbul")])"}},
        {products + "p.flag RETURN p.name", {}},
        {products + "p.price RETURN p.name", {R"([Str("Alpha")])"}},
        {products + "p.a = p.b RETURN p.name", {R"([Str("Alpha")])"}},
        {products + "p.price IN [10.0, 'x'] RETURN p.name", {R"([Str("Alpha")])"}},
        {products + "p.brand IN ['zeta', 1] RETURN p.name", {R"([Str("Acme Corp")])"}},
        {products + "p.missing IN [1] RETURN p.name", {}},
        {products + "p.price IN [] RETURN p.name", {}},
        {products + "q.x IS NULL AND true RETURN p.price", {"[Int(10)]", "[Null]", "[Null]"}},
        {products + "false OR 0 RETURN p.price", {"[Int(10)]", "[Null]", "[Null]"}},
        {products + "NOT NOT p.price = 10 RETURN p.price", {"[Int(10)]"}},
    });
}

TEST(ExecutorTest, WhereNestedUpToTheParserCapEvaluates) {
    const TestGraph graph(products({R"({"a":1})", R"({"a":2})"}));
    std::string nots;
    for (int i = 0; i < 998; ++i) nots += "NOT ";
    std::string conjunction = "p.a = 1";
    for (int i = 0; i < 900; ++i) conjunction += " AND p.a < 2";
    std::string parenthesised = "p.a = 2";
    for (int i = 0; i < 400; ++i) parenthesised = "(p.a > 5 OR " + parenthesised + ")";
    expect_rows(graph, {
        {"MATCH (p:Product) WHERE " + nots + "p.a = 1 RETURN p.name", {R"([Str("p0")])"}},
        {"MATCH (p:Product) WHERE " + conjunction + " RETURN p.name", {R"([Str("p0")])"}},
        {"MATCH (p:Product) WHERE " + parenthesised + " RETURN p.name", {R"([Str("p1")])"}},
    });
}

TEST(ExecutorTest, ColumnsAreNamedByAliasFunctionAndBaseName) {
    const TestGraph graph(products({R"({"price":1})"}));
    EXPECT_EQ(graph.columns("MATCH (p:Product) RETURN p, p.name, COUNT(*), Sum(p.price), max(p) AS top, avg(p.x)"),
              (std::vector<std::string>{"p", "p.name", "count(*)", "sum(p.price)", "top", "avg(p.x)"}));
    EXPECT_EQ(graph.columns("MATCH (p:Variant) RETURN count(*)"), std::vector<std::string>{"count(*)"});
}

TEST(ExecutorTest, GroupsAndAggregates) {
    const TestGraph graph(products({
        R"({"brand":"b","price":10,"n":9,"stock":"x","z":-0.0})",
        R"({"brand":"a","price":"12.5","n":10,"cur":"EUR"})",
        R"({"n":100,"cur":"EUR"})",
        R"({"brand":"b","price":2,"n":1.0,"cur":"EUR"})",
    }));
    expect_rows(graph, {
        {"MATCH (p:Product) RETURN p.brand, count(*) AS n",
         {"[Null, Int(1)]", R"([Str("a"), Int(1)])", R"([Str("b"), Int(2)])"}},
        {"MATCH (p:Product) RETURN p.brand, p.cur, count(p)",
         {R"([Null, Str("EUR"), Int(1)])", R"([Str("a"), Str("EUR"), Int(1)])", R"([Str("b"), Null, Int(1)])",
          R"([Str("b"), Str("EUR"), Int(1)])"}},
        {"MATCH (p:Product) WHERE p.n <> 1 RETURN count(p.price), sum(p.price), avg(p.price), min(p.price), max(p.price)",
         {"[Int(3), Float(10.0), Float(10.0), Float(10.0), Float(10.0)]"}},
        {"MATCH (p:Product) RETURN min(p.stock), max(p.brand), count(nosuch)", {"[Null, Null, Int(4)]"}},
        {"MATCH (p:Product) RETURN p.n, count(*)",
         {"[Float(1.0), Int(1)]", "[Int(10), Int(1)]", "[Int(100), Int(1)]", "[Int(9), Int(1)]"}},
        {"MATCH (p:Product) WHERE p.z IS NOT NULL RETURN sum(p.z), min(p.z)", {"[Float(-0.0), Float(-0.0)]"}},
        {"MATCH (p:Product) WHERE p.brand = 'b' RETURN p.brand, sum(p.price), avg(p.n)",
         {R"([Str("b"), Float(12.0), Float(5.0)])"}},
        {"MATCH (p:Product) RETURN p, count(*) AS c ORDER BY nosuch LIMIT 1",
         {R"([NodeRef { idx: 0, kind: "Product", name: "p0" }, Int(1)])"}},
        {"MATCH (p:Product) RETURN DISTINCT count(*), p.cur", {"[Int(1), Null]", R"([Int(3), Str("EUR")])"}},
        {"MATCH (p:Product) RETURN count(*) SKIP 1", {}},
        {"MATCH (p:Variant) RETURN count(*)", {}},
        {"MATCH (p:Product) WHERE p.n > 1000 RETURN sum(p.n), p.brand", {}},
        {"MATCH (p:Product) RETURN sum(q.x), p.brand, r.y", {"error: RETURN references unknown variable r"}},
        {"MATCH (p:Product) RETURN sum(q.x), count(z)", {"error: RETURN references unknown variable q"}},
    });
}

TEST(ExecutorTest, OrderByIsStableAndPutsNullLast) {
    const TestGraph graph(products({
        R"({"price":3,"k":1,"name2":"c"})",
        R"({"k":2,"name2":"a"})",
        R"({"price":1.5,"k":1,"name2":"b"})",
        R"({"price":3,"k":2,"name2":"d"})",
    }));
    expect_rows(graph, {
        {"MATCH (p:Product) RETURN p.name ORDER BY p.price",
         {R"([Str("p2")])", R"([Str("p0")])", R"([Str("p3")])", R"([Str("p1")])"}},
        {"MATCH (p:Product) RETURN p.name ORDER BY p.price DESC",
         {R"([Str("p1")])", R"([Str("p0")])", R"([Str("p3")])", R"([Str("p2")])"}},
        {"MATCH (p:Product) RETURN p.name ORDER BY p.k DESC, p.name2",
         {R"([Str("p1")])", R"([Str("p3")])", R"([Str("p2")])", R"([Str("p0")])"}},
        {"MATCH (p:Product) RETURN p.name2 AS n ORDER BY n", {R"([Str("a")])", R"([Str("b")])", R"([Str("c")])", R"([Str("d")])"}},
        {"MATCH (p:Product) RETURN p.name ORDER BY p", {R"([Str("p0")])", R"([Str("p1")])", R"([Str("p2")])", R"([Str("p3")])"}},
        {"MATCH (p:Product) RETURN p.k ORDER BY p.k SKIP 1 LIMIT 2", {"[Int(1)]", "[Int(2)]"}},
        {"MATCH (p:Product) RETURN DISTINCT p.k ORDER BY p.k DESC", {"[Int(2)]", "[Int(1)]"}},
        {"MATCH (p:Product) RETURN p.name ORDER BY q", {"error: ORDER BY references unknown variable q"}},
        {"MATCH (p:Variant) RETURN p.name ORDER BY q", {"error: ORDER BY references unknown variable q"}},
        {"MATCH (p:Product) RETURN p.name AS n ORDER BY n.x", {"error: ORDER BY references unknown variable n"}},
        {"MATCH (p:Product) RETURN x.name ORDER BY p.k", {"error: RETURN references unknown variable x"}},
    });
}

TEST(ExecutorTest, OrderByWithMixedKindsKeepsEveryRow) {
    // Numbers, strings and bools under one key compare as ties across kinds, which is not a
    // consistent order; the sort must still return each row exactly once.
    std::vector<std::string> props;
    for (int i = 0; i < 40; ++i) {
        const int v = (i * 7) % 11;
        props.push_back(i % 3 == 0 ? R"({"v":")" + std::to_string(v) + "x\"}"
                        : i % 3 == 1 ? R"({"v":)" + std::to_string(v) + "}"
                                     : R"({"v":)" + std::string(v % 2 ? "true" : "false") + "}");
    }
    const TestGraph graph(products(props));
    std::vector<std::string> rows = graph.rows("MATCH (p:Product) RETURN p.name ORDER BY p.v DESC");
    ASSERT_EQ(rows.size(), 40u);
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(std::adjacent_find(rows.begin(), rows.end()), rows.end());
}

TEST(ExecutorTest, OrderByWithLimitKeepsThePrefixOfTheFullOrder) {
    // Few distinct keys, many ties: the limited sort must keep the tie order of the full sort.
    std::vector<std::string> props;
    for (int i = 0; i < 300; ++i) {
        props.push_back(i % 17 == 0 ? "{}" : R"({"v":)" + std::to_string((i * 13) % 7) + R"(,"w":)" + std::to_string(i % 3) + "}");
    }
    const TestGraph graph(products(props));
    const std::string query = "MATCH (p:Product) RETURN p.name, p.v ORDER BY p.v DESC, p.w";
    const std::vector<std::string> all = graph.rows(query);
    ASSERT_EQ(all.size(), 300u);
    for (const auto& [skip, limit] : std::vector<std::pair<int, int>>{{0, 1}, {0, 10}, {5, 40}, {250, 100}, {0, 299}}) {
        SCOPED_TRACE(std::to_string(skip) + " " + std::to_string(limit));
        const auto first = all.begin() + std::min(skip, 300);
        const std::vector<std::string> expected(first, first + std::min<std::ptrdiff_t>(limit, all.end() - first));
        EXPECT_EQ(graph.rows(query + " SKIP " + std::to_string(skip) + " LIMIT " + std::to_string(limit)), expected);
    }
}

TEST(ExecutorTest, DistinctSkipAndLimitApplyInOrder) {
    std::vector<std::string> props;
    for (int i = 0; i < 10; ++i) props.push_back(R"({"i":)" + std::to_string(i) + R"(,"one":)" + (i % 2 ? "1" : "1.0") + "}");
    const TestGraph graph(products(props));
    expect_rows(graph, {
        {"MATCH (p:Product) RETURN p.i SKIP 2 LIMIT 3", {"[Int(2)]", "[Int(3)]", "[Int(4)]"}},
        {"MATCH (p:Product) RETURN p.i SKIP 20", {}},
        {"MATCH (p:Product) RETURN p.i LIMIT 0", {}},
        {"MATCH (p:Product) RETURN p.i SKIP 9 LIMIT 5", {"[Int(9)]"}},
        {"MATCH (p:Product) RETURN DISTINCT p.one", {"[Float(1.0)]", "[Int(1)]"}},
        {"MATCH (p:Product) RETURN DISTINCT p.one SKIP 1", {"[Int(1)]"}},
        {"MATCH (p:Product) RETURN DISTINCT p.one LIMIT 1", {"[Float(1.0)]"}},
        {"MATCH (p:Product) WHERE p.i >= 8 RETURN p.i, p.one", {"[Int(8), Float(1.0)]", "[Int(9), Int(1)]"}},
        // An unknown variable is reported once something matched, whatever the limit.
        {"MATCH (p:Product) RETURN x.name LIMIT 0", {"error: RETURN references unknown variable x"}},
        {"MATCH (p:Product) WHERE p.i > 100 RETURN x.name", {}},
    });
}

}  // namespace
}  // namespace kuv::cypher
