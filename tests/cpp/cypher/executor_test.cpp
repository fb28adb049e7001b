#include "cypher/executor.hpp"

#include "core/builder.hpp"
#include "core/error.hpp"
#include "core/interrupt.hpp"
#include "cypher/parser.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace kuv::cypher {
namespace {

using core::NodeKind;
using core::RelType;
using Rows = std::vector<std::string>;

struct NodeDef { NodeKind kind; std::string id, name, props; };
struct EdgeDef { std::string source; RelType rel; std::string target; };

// A graph image held in memory and validated like a file. Not movable: the view borrows bytes_.
class TestGraph {
public:
    TestGraph(const std::vector<NodeDef>& nodes, const std::vector<EdgeDef>& edges = {})
        : bytes_(image(nodes, edges)), graph_(core::LoadedGraph::from_bytes(bytes_)) {}
    TestGraph(const TestGraph&) = delete;
    TestGraph& operator=(const TestGraph&) = delete;

    QueryResult run(std::string_view text) const {
        auto parsed = parse(text);
        if (auto* message = std::get_if<std::string>(&parsed)) throw Error("parse failed: " + *message);
        return execute(graph_, std::get<Query>(parsed));
    }

    // The debug text of each row, or the single entry "error: {message}".
    Rows rows(std::string_view text) const {
        try {
            Rows out;
            for (const Row& row : run(text).rows) out.push_back(debug_row(row));
            return out;
        } catch (const Error& e) {
            return {std::string("error: ") + e.what()};
        }
    }

    void expect(const std::vector<std::pair<std::string, Rows>>& cases) const {
        for (const auto& [query, rows_wanted] : cases) EXPECT_EQ(rows(query), rows_wanted) << query;
    }

private:
    static std::string image(const std::vector<NodeDef>& nodes, const std::vector<EdgeDef>& edges) {
        core::GraphBuilder builder;
        std::unordered_map<std::string, std::uint32_t> index;
        for (const NodeDef& node : nodes) index[node.id] = builder.upsert_node(node.kind, node.id, node.name, node.props);
        for (const EdgeDef& edge : edges) builder.add_edge(index.at(edge.source), edge.rel, edge.target);
        return core::serialize(std::move(builder).build());
    }

    std::string bytes_;
    core::LoadedGraph graph_;
};

// Products p0, p1, ... named like their ids, one per props text.
std::vector<NodeDef> products(const std::vector<std::string>& props) {
    std::vector<NodeDef> nodes;
    for (std::size_t i = 0; i < props.size(); ++i) nodes.push_back({NodeKind::Product, "p" + std::to_string(i), "p" + std::to_string(i), props[i]});
    return nodes;
}

std::string strs(const std::vector<std::string>& texts) {
    std::string out;
    for (const auto& text : texts) out += (out.empty() ? "Str(\"" : ", Str(\"") + text + "\")";
    return "[" + out + "]";
}

std::string repeated(std::string_view unit, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += unit;
    return out;
}

TEST(ExecutorTest, PropertyReadsConvertNumericTextsExceptPrice) {
    const TestGraph graph({
        {NodeKind::Product, "p0", "Acme Corp",
         R"({"price":"12.50","weight":"12.50","sku":"0042","stock":"7","name":"shadow","kind":"shadow",)"
         R"("big":9223372036854775808,"neg":-9223372036854775808,"f":7.0,"t":true,"n":12.5,"Name":"upper",)"
         R"("s1":"-","s2":".5","s3":"5.","s4":"+5","s5":" 5","s6":"1e5","z1":"-0","z2":"-0.0",)"
         R"("z3":"99999999999999999999","z4":"007","z5":"3.50","z6":"00.5","z7":"-05","z8":"0.5","arr":[1],"obj":{},"nul":null})"},
        {NodeKind::Product, "bad", "Bad", "not json"},
        {NodeKind::Product, "p3", "\xff", R"({"x":1})"},
    });
    const std::string acme = "MATCH (n {name: 'Acme Corp'}) RETURN ";
    graph.expect({
        {acme + "n.price, n.weight, n.sku, n.stock, n.name, n.kind", {R"([Str("12.50"), Float(12.5), Str("0042"), Int(7), Str("Acme Corp"), Str("Product")])"}},
        {acme + "n.big, n.neg, n.f, n.t, n.n, n.Name",
         {R"([Float(9.223372036854776e18), Int(-9223372036854775808), Float(7.0), Bool(true), Float(12.5), Str("upper")])"}},
        {acme + "n.s1, n.s2, n.s3, n.s4, n.s5, n.s6", {strs({"-", ".5", "5.", "+5", " 5", "1e5"})}},
        {acme + "n.z1, n.z2, n.z3, n.z4, n.z5, n.z6, n.z7, n.z8", {R"([Int(0), Float(-0.0), Float(1e20), Str("007"), Float(3.5), Str("00.5"), Str("-05"), Float(0.5)])"}},
        {acme + "n.arr, n.obj, n.nul, n.missing", {"[Null, Null, Null, Null]"}},
        {"MATCH (n {name: 'Bad'}) RETURN n.x, n.kind", {R"([Null, Str("Product")])"}},
        {"MATCH (n:Product {x: 1}) RETURN n.name, n", {R"([Str(""), NodeRef { idx: 2, kind: "Product", name: "" }])"}},
        {"MATCH (n:Product) RETURN n.name ORDER BY n.name DESC", {strs({"Bad"}), strs({"Acme Corp"}), strs({""})}},
        {"MATCH (n:Product) RETURN n.name AS x ORDER BY x LIMIT 1", {strs({""})}},
    });
}

// Property reads take only the members a query names from each props text, yet a text the JSON
// parser would reject anywhere, even after those members, reads as no properties at all.
TEST(ExecutorTest, PropertyReadsTakeTopLevelMembersOfValidObjectsOnly) {
    const std::pair<std::string, std::string> cases[] = {  // props, row of p.a, p.b
        {R"({"a":1,"b":"x"})", R"([Int(1), Str("x")])"}, {R"({"a":[1],"a":2,"b":{"c":1},"b":"7"})", "[Int(2), Int(7)]"},
        {R"({"x":{"a":1},"y":[{"b":2}]})", "[Null, Null]"}, {R"([{"a":1,"b":2}])", "[Null, Null]"},
        {R"({"a":1,"b":2,"c":})", "[Null, Null]"}, {R"({"a":1,"b":2} x)", "[Null, Null]"},
        {R"({"\u0061":"\u0037","b":"x\"y"})", R"([Int(7), Str("x\"y")])"},
        {R"({"a":"\u00e9\ud83d\ude00","b":"\u0031\u0032.5"})", "[Str(\"\u00e9\U0001F600\"), Float(12.5)]"},
        {R"({"a":-0,"b":-12})", "[Float(-0.0), Int(-12)]"},
        {R"({"a":123456789012345678,"b":1234567890123456789})", "[Int(123456789012345678), Int(1234567890123456789)]"},
        {R"({"a":18446744073709551615,"b":1E2})", "[Float(1.8446744073709552e19), Float(100.0)]"},
        {R"({"a":1e-400,"b":-1e-400})", "[Float(0.0), Float(-0.0)]"},
    };
    std::vector<std::string> props;
    Rows rows;
    for (const auto& [text, row] : cases) {
        props.push_back(text);
        rows.push_back(row);
    }
    const TestGraph graph(products(props));
    EXPECT_EQ(graph.rows("MATCH (p:Product) RETURN p.a, p.b"), rows);
}

// Alpha and Beta offer o1/o2 (Beta records o2 twice); Gamma has a self-loop; the brand points
// back at Alpha.
const std::vector<NodeDef> kShopNodes = {
    {NodeKind::Product, "alpha", "Alpha", R"({"price":10,"brand":"acme","stock":0,"a":1,"b":1.0,"nul":null,"arr":[]})"},
    {NodeKind::Offer, "o1", "o1", R"({"price":"12.50","weight":"12.50","currency":"EUR"})"},
    {NodeKind::Offer, "o2", "o2", R"({"price":5,"currency":"USD"})"},
    {NodeKind::Product, "beta", "Acme Corp", R"({"brand":"zeta","stock":"x","flag":false,"a":1,"b":2})"},
    {NodeKind::Brand, "acme", "Acme", "{}"},
    {NodeKind::Organization, "maker", "Maker", "{}"},
    {NodeKind::Product, "gamma", "ΟΔΟΣ İstanbul", R"({"obj":{"a":1},"stock":""})"},
};
const std::vector<EdgeDef> kShopEdges = {
    {"alpha", RelType::Offers, "o1"}, {"alpha", RelType::Offers, "o2"},       {"alpha", RelType::Brand, "acme"},
    {"beta", RelType::Manufacturer, "maker"}, {"beta", RelType::Offers, "o2"}, {"beta", RelType::Offers, "o2"},
    {"gamma", RelType::Brand, "acme"}, {"gamma", RelType::Category, "gamma"},  {"acme", RelType::Author, "alpha"},
};
const std::string kAlpha = strs({"Alpha"}), kBeta = strs({"Acme Corp"}), kGamma = strs({"ΟΔΟΣ İstanbul"});

TEST(ExecutorTest, MatchingFollowsAdjacencyInStoredOrder) {
    const TestGraph graph(kShopNodes, kShopEdges);
    graph.expect({
        {"MATCH (p:Product)-[:Offers]->(o:Offer) RETURN p.name, o.name",
         {strs({"Alpha", "o1"}), strs({"Alpha", "o2"}), strs({"Acme Corp", "o2"}), strs({"Acme Corp", "o2"})}},
        {"MATCH (p:Product)-[:Brand|Manufacturer]->(x) RETURN p.name, x.kind",
         {strs({"Alpha", "Brand"}), strs({"Acme Corp", "Organization"}), strs({"ΟΔΟΣ İstanbul", "Brand"})}},
        {"MATCH (p {name: 'ΟΔΟΣ İstanbul'})-->(x) RETURN x.kind", {strs({"Brand"}), strs({"Product"})}},
        {"MATCH (a:Product)<--(b)<--(c) RETURN a.name, b.kind, c.name",
         {strs({"Alpha", "Brand", "Alpha"}), strs({"Alpha", "Brand", "ΟΔΟΣ İstanbul"}), strs({"ΟΔΟΣ İstanbul", "Product", "ΟΔΟΣ İstanbul"})}},
        {"MATCH (o:Offer {price: '12.50', weight: 12.5}) RETURN o.name", {strs({"o1"})}},
        {"MATCH (p {name: 'Acme Corp', kind: 'Product', flag: false}) RETURN p.brand", {strs({"zeta"})}},
    });
}

TEST(ExecutorTest, WhereIsTwoValued) {
    const TestGraph graph(kShopNodes, kShopEdges);
    const std::string products = "MATCH (p:Product) WHERE ";
    const Rows all_prices = {"[Int(10)]", "[Null]", "[Null]"};
    graph.expect({
        {products + "p.missing <> 1 RETURN p.name", {}},
        {products + "NOT p.missing = 1 RETURN p.price", all_prices},
        {products + "q.x IS NULL AND true RETURN p.price", all_prices},
        {products + "p.nul IS NOT NULL OR p.arr IS NOT NULL OR p.obj IS NOT NULL OR p.missing IS NOT NULL RETURN p", {}},
        {"MATCH (o:Offer) WHERE o.price > 10 RETURN o.name", {}},
        {"MATCH (o:Offer) WHERE o.price > '10' RETURN o.name", {strs({"o1"})}},
        {"MATCH (o:Offer) WHERE o.price <> 'x' RETURN o.name", {strs({"o1"}), strs({"o2"})}},
        {products + "p.a = p.b RETURN p.name", {kAlpha}},
        {products + "p.price IN [10.0, 'x'] RETURN p.name", {kAlpha}},
        {products + "p.stock RETURN p.name", {kAlpha, kBeta, kGamma}},
        {products + "p.flag RETURN p.name", {}},
        // String operators fold case fully; regular expressions do not.
        {products + "p.name CONTAINS 'ACME' RETURN p.name", {kBeta}},
        {products + "p.name STARTS WITH 'alp' OR p.name ENDS WITH 'CORP' RETURN p.name", {kAlpha, kBeta}},
        {products + "p.name =~ 'acme' RETURN p.name", {}},
        {products + "p.name =~ 'cme' RETURN p.name", {kBeta}},
        {products + "p.price CONTAINS '1' RETURN p.name", {}},
    });
}

TEST(ExecutorTest, LongChainsAndDeepNestingAnswerLikeTheirShortForms) {
    const TestGraph graph(kShopNodes, kShopEdges);
    const auto where = [](const std::string& condition) { return "MATCH (p:Product) WHERE " + condition + " RETURN p.name"; };
    const std::size_t huge = 50000;
    const std::pair<std::string, std::string> cases[] = {
        {repeated("p.x = 2 OR ", 1000) + "p.a = 1", "p.x = 2 OR p.a = 1"},
        {repeated("p.x = 2 OR ", huge) + "p.stock = 0", "p.stock = 0"},
        {"p.b = 2" + repeated(" AND p.a < 2", huge), "p.b = 2 AND p.a < 2"},
        {repeated("p.a = 1 AND ", huge) + "(p.x = 1 OR p.b = 2)", "p.b = 2"},
        {repeated("(", huge) + "p.a = 1" + repeated(")", huge), "p.a = 1"},
        {repeated("NOT ", huge) + "p.b = 1", "p.b = 1"},
        {repeated("NOT ", huge + 1) + "p.b = 1", "NOT p.b = 1"},
        {repeated("(NOT ", huge + 1) + "p.stock" + repeated(")", huge + 1), "NOT p.stock"},
        {repeated("NOT (p.x = 1 OR ", 3000) + "p.a = 1" + repeated(")", 3000), "NOT NOT p.a = 1"},
        {"p.a = " + repeated("(p.a = ", huge) + "1" + repeated(")", huge), "p.a = (p.a = 1)"},
        {repeated("(p.a = 1) IS NOT NULL OR ", 2000) + "p.a = 1", "(p.a = 1) IS NOT NULL OR p.a = 1"},
    };
    for (const auto& [long_form, short_form] : cases) {
        EXPECT_EQ(graph.rows(where(long_form)), graph.rows(where(short_form))) << short_form;
    }
}

TEST(ExecutorTest, AggregatesAndColumnNames) {
    const TestGraph graph(products({
        R"({"brand":"b","price":10,"n":9,"stock":"x","z":-0.0})",
        R"({"brand":"a","price":"12.5","n":10,"cur":"EUR"})",
        R"({"n":100,"cur":"EUR"})",
        R"({"brand":"b","price":2,"n":1.0,"cur":"EUR"})",
    }));
    graph.expect({
        {"MATCH (p:Product) RETURN p.n, count(*)", {"[Float(1.0), Int(1)]", "[Int(10), Int(1)]", "[Int(100), Int(1)]", "[Int(9), Int(1)]"}},
        {"MATCH (p:Product) WHERE p.n <> 1 RETURN count(p.price), sum(p.price), avg(p.price), min(p.price), max(p.price)",
         {"[Int(3), Float(10.0), Float(10.0), Float(10.0), Float(10.0)]"}},
        {"MATCH (p:Product) RETURN min(p.stock), max(p.brand), count(nosuch)", {"[Null, Null, Int(4)]"}},
        {"MATCH (p:Product) WHERE p.z IS NOT NULL RETURN sum(p.z), min(p.z)", {"[Float(-0.0), Float(-0.0)]"}},
        {"MATCH (p:Product) RETURN p, count(*) AS c ORDER BY nosuch LIMIT 1", {R"([NodeRef { idx: 0, kind: "Product", name: "p0" }, Int(1)])"}},
        {"MATCH (p:Product) RETURN DISTINCT count(*), p.cur", {"[Int(1), Null]", R"([Int(3), Str("EUR")])"}},
        {"MATCH (p:Variant) RETURN count(*)", {}},
        {"MATCH (p:Product) RETURN sum(q.x), p.brand, r.y", {"error: RETURN references unknown variable r"}},
        {"MATCH (p:Product) RETURN sum(q.x), count(z)", {"error: RETURN references unknown variable q"}},
    });
    // Columns are named by alias, else by function and the base name as written.
    EXPECT_EQ(graph.run("MATCH (p:Product) RETURN p, p.name, COUNT(*), Sum(p.price), max(p) AS top, avg(p.x)").columns,
              (Rows{"p", "p.name", "count(*)", "sum(p.price)", "top", "avg(p.x)"}));
}

TEST(ExecutorTest, GroupsAreToldApartAndOrderedByTheirDebugTexts) {
    const TestGraph graph(products({
        R"({"v":1,"w":"b"})", R"({"v":1.0,"w":"b"})", R"({"v":-0.0,"w":"a"})", R"({"v":0,"w":"a"})", R"({"v":0.0})",
        R"({"v":"a\"b","w":"a"})", R"({"v":"a\\b","w":"a"})", R"({"v":"a\u0001","w":"a"})", R"({"v":"a","w":"a"})",
        R"({"v":true,"w":"a"})", R"({"v":"ab","w":"b"})", R"({"w":"b"})", R"({"v":1,"w":"a"})", R"({"v":1,"w":"b"})",
    }));
    graph.expect({
        {"MATCH (p:Product) RETURN p.v, count(*)",
         {"[Bool(true), Int(1)]", "[Float(-0.0), Int(1)]", "[Float(0.0), Int(1)]", "[Float(1.0), Int(1)]", "[Int(0), Int(1)]",
          "[Int(1), Int(3)]", "[Null, Int(1)]", R"([Str("a"), Int(1)])", R"([Str("a\"b"), Int(1)])", R"([Str("a\\b"), Int(1)])",
          R"([Str("a\u{1}"), Int(1)])", R"([Str("ab"), Int(1)])"}},
        // With two plain items the first decides, then the second; 0x01 ends each text.
        {"MATCH (p:Product) WHERE p.v = 1 OR p.v IS NULL RETURN p.w, p.v, count(*)",
         {R"([Str("a"), Int(1), Int(1)])", R"([Str("b"), Float(1.0), Int(1)])", R"([Str("b"), Int(1), Int(2)])",
          R"([Str("b"), Null, Int(1)])"}},
        {"MATCH (p:Product)-->(h) RETURN h, count(*)", {}},
        {"MATCH (p:Product) WHERE p.v IS NULL RETURN p, count(*)",
         {R"([NodeRef { idx: 11, kind: "Product", name: "p11" }, Int(1)])"}},
    });
}

TEST(ExecutorTest, OrderDistinctSkipAndLimit) {
    const TestGraph graph(products({
        R"({"price":3,"k":1,"name2":"c","one":1.0})", R"({"k":2,"name2":"","one":1})",
        R"({"price":1.5,"k":1,"name2":"b","one":1.0})", R"({"price":3,"k":2,"name2":"d","one":1})",
    }));
    const std::string by = "MATCH (p:Product) RETURN p.name ORDER BY ";
    graph.expect({
        {by + "p.price", {strs({"p2"}), strs({"p0"}), strs({"p3"}), strs({"p1"})}},
        {by + "p.price DESC", {strs({"p1"}), strs({"p0"}), strs({"p3"}), strs({"p2"})}},
        {by + "p.k DESC, p.name2", {strs({"p1"}), strs({"p3"}), strs({"p2"}), strs({"p0"})}},
        {by + "p", {strs({"p0"}), strs({"p1"}), strs({"p2"}), strs({"p3"})}},
        {"MATCH (p:Product) RETURN p.name2 AS n ORDER BY n", {strs({""}), strs({"b"}), strs({"c"}), strs({"d"})}},
        {"MATCH (p:Product) RETURN p.name2 ORDER BY p.name2 DESC SKIP 2 LIMIT 5", {strs({"b"}), strs({""})}},
        {"MATCH (p:Product) RETURN DISTINCT p.k ORDER BY p.k DESC", {"[Int(2)]", "[Int(1)]"}},
        {"MATCH (p:Variant) RETURN p.name ORDER BY q", {"error: ORDER BY references unknown variable q"}},
        {"MATCH (p:Product) RETURN p.name AS n ORDER BY n.x", {"error: ORDER BY references unknown variable n"}},
        {"MATCH (p:Product) RETURN p.k SKIP 1 LIMIT 2", {"[Int(2)]", "[Int(1)]"}},
        {"MATCH (p:Product) RETURN DISTINCT p.one", {"[Float(1.0)]", "[Int(1)]"}},
        {"MATCH (p:Product) RETURN DISTINCT p.one LIMIT 1", {"[Float(1.0)]"}},
        // An unknown variable is reported once something matched, whatever the limit.
        {"MATCH (p:Product) RETURN x.name LIMIT 0", {"error: RETURN references unknown variable x"}},
        {"MATCH (p:Product) WHERE p.k > 100 RETURN x.name", {}},
    });
}

// A hub node with `fan` products pointing at it: (a)-->(hub)<--(c) has fan * fan bindings. The
// products' m mixes texts, numbers and bools, which tie across kinds and so have no order.
std::vector<NodeDef> fan_in(std::size_t fan, const std::string& hub_props) {
    std::vector<NodeDef> nodes{{NodeKind::Brand, "hub", "Hub", hub_props}};
    for (std::size_t i = 0; i < fan; ++i) {
        const std::string n = std::to_string(i);
        const std::string k = i % 9 == 0 ? "" : R"("k":)" + std::to_string((i * 7) % 13) + ",";
        const std::string digit = std::to_string(i % 11);
        const std::string m = i % 3 == 0 ? "\"" + digit + "x\"" : i % 3 == 1 ? digit : i % 2 ? "true" : "false";
        nodes.push_back({NodeKind::Product, "p" + n, "P" + n, "{" + k + R"("m":)" + m + R"(,"t":")" + std::to_string(i % 4) + R"("})"});
    }
    return nodes;
}

std::vector<EdgeDef> edges_into_hub(std::size_t fan) {
    std::vector<EdgeDef> edges;
    for (std::size_t i = 0; i < fan; ++i) edges.push_back({"p" + std::to_string(i), RelType::Brand, "hub"});
    return edges;
}

TEST(ExecutorTest, OrderByKeepsEveryRowAndLimitKeepsThePrefixOfTheFullOrder) {
    const std::size_t fan = 120;  // 14400 bindings, so bounded sorting merges many batches
    const TestGraph graph(fan_in(fan, "{}"), edges_into_hub(fan));
    const std::string match = "MATCH (a:Product)-->(h)<--(c:Product) RETURN a.name, c.name, c.k";
    Rows unordered = graph.rows(match);
    std::ranges::sort(unordered);
    Rows mixed = graph.rows(match + " ORDER BY c.m DESC, a.m");
    std::ranges::sort(mixed);
    EXPECT_EQ(mixed, unordered);  // no order among the values, yet every binding once
    const std::string orders[] = {"c.k", "c.k DESC", "c.t DESC, c.k", "c.k, a.k DESC", "c", "c.t, h"};
    const std::pair<std::size_t, std::size_t> pages[] = {{0, 1}, {0, 5}, {3, 7}, {0, 300}, {1000, 2500}, {14000, 1000}, {0, 14400}};
    for (const std::string& order : orders) {
        const Rows all = graph.rows(match + " ORDER BY " + order);
        ASSERT_EQ(all.size(), fan * fan) << order;
        for (const auto& [skip, limit] : pages) {
            const auto first = all.begin() + std::ptrdiff_t(skip);
            const Rows expected(first, first + std::min<std::ptrdiff_t>(std::ptrdiff_t(limit), all.end() - first));
            EXPECT_EQ(graph.rows(match + " ORDER BY " + order + " SKIP " + std::to_string(skip) + " LIMIT " + std::to_string(limit)),
                      expected) << order << " SKIP " << skip << " LIMIT " << limit;
        }
    }
}

// DISTINCT keeps, of each row text, the row that comes first in the full sort: the same rows as
// the full sort with later repeats dropped, then paged. The returned prices differ only by kind
// (Int 1, Float 1.0, Str "1", Null); some orders use keys that are not returned, some an alias.
TEST(ExecutorTest, DistinctOrderByMatchesTheFullSortWithRepeatsDropped) {
    const std::size_t fan = 60;  // 3600 bindings
    std::vector<NodeDef> nodes = fan_in(fan, "{}");
    const std::string prices[] = {"1", "1.0", R"("1")", "null", "2"};
    for (std::size_t i = 1; i < nodes.size(); ++i) nodes[i].props.insert(1, R"("price":)" + prices[i % 5] + ",");
    const TestGraph graph(nodes, edges_into_hub(fan));
    const std::string match = "MATCH (a:Product)-->(h)<--(c:Product) RETURN ";
    const std::string returns[] = {"c.price, c.k AS x", "a.t AS x, c.price", "c.k AS x", "c, a.name AS x", "a.price, c.t AS x"};
    const std::string orders[] = {"c.k", "c.k DESC, a.t", "a.name DESC", "c.t, c", "x DESC, c.name", "x, a.k DESC"};
    const std::pair<std::size_t, std::optional<std::size_t>> pages[] = {
        {0, std::nullopt}, {0, 1}, {2, 3}, {0, 7}, {5, std::nullopt}, {4, 100}, {1000, 5}, {0, 0}, {3, 0}};
    for (const std::string& items : returns) {
        for (const std::string& order : orders) {
            const std::string query = match + items + " ORDER BY " + order;
            Rows first_of_each;
            std::unordered_set<std::string> seen;
            for (const std::string& row : graph.rows(query)) {
                if (seen.insert(row).second) first_of_each.push_back(row);
            }
            for (const auto& [skip, limit] : pages) {
                const std::size_t from = std::min(skip, first_of_each.size());
                const std::size_t to = std::min(first_of_each.size(), from + limit.value_or(first_of_each.size()));
                const std::string paged = " SKIP " + std::to_string(skip) + (limit ? " LIMIT " + std::to_string(*limit) : "");
                EXPECT_EQ(graph.rows(match + "DISTINCT " + items + " ORDER BY " + order + paged),
                          Rows(first_of_each.begin() + std::ptrdiff_t(from), first_of_each.begin() + std::ptrdiff_t(to)))
                    << query << paged;
            }
        }
    }
}

TEST(ExecutorTest, StringOperatorsOnALongTextReadThroughManyBindings) {
    // About a megabyte with capitals, a final sigma and a dotted capital I at the end.
    const std::string text = repeated("Straße ΟΔΟΣ Ünïcödé ", 40000) + "ENDE İSTANBUL ΟΔΟΣ";
    const std::size_t fan = 200;
    const TestGraph graph(fan_in(fan, R"({"s":")" + text + R"("})"), edges_into_hub(fan));
    const auto count = [](const std::string& condition) {
        return "MATCH (a:Product)-->(h:Brand) WHERE " + condition + " RETURN count(*)";
    };
    const Rows all = {"[Int(" + std::to_string(fan) + ")]"};
    graph.expect({
        // Every capital sigma here ends a word, so it lowers to the final form; the dotted
        // capital I lowers to i and a combining dot.
        {count("h.s CONTAINS 'Ünïcödé straße \u03bf\u03b4\u03bf\u03c2 ünïcödé'"), all},
        {count("h.s CONTAINS '\u03bf\u03b4\u03bf\u03c3'"), {}},
        {count("h.s STARTS WITH 'STRASSE'"), {}},
        {count("h.s STARTS WITH 'Straße ΟΔΟΣ'"), all},
        {count("h.s ENDS WITH 'i\u0307stanbul \u03bf\u03b4\u03bf\u03c2'"), all},
        {count("h.s ENDS WITH 'istanbul \u03bf\u03b4\u03bf\u03c2'"), {}},
        {count("h.s CONTAINS 'ende' AND h.name CONTAINS 'HUB' AND a.t = 3"), {"[Int(50)]"}},
        {count("h.s =~ 'ENDE İSTANBUL'"), all},
    });
}

// Asks to stop at its first question.
struct StopAtOnce : InterruptProbe {
    bool stop_requested() override { return true; }
};

TEST(ExecutorTest, AStopRequestEndsEveryKindOfQueryAndLeavesNothingBehind) {
    const std::size_t fan = 300;  // long enough for the work to look for a stop request
    const TestGraph graph(fan_in(fan, "{}"), edges_into_hub(fan));
    const std::string match = "MATCH (a:Product)-->(h)<--(c:Product) ";
    const std::string queries[] = {
        match + "WHERE c.k = 1 RETURN a.name", match + "RETURN a.name ORDER BY c.k DESC LIMIT 3", match + "RETURN c.t, count(*)",
        match + "WHERE a.k > 3 RETURN DISTINCT a.k ORDER BY a.k SKIP 1 LIMIT 2", "MATCH (n:Variant) RETURN n",
    };
    for (const std::string& query : queries) {
        const Rows expected = graph.rows(query);
        StopAtOnce probe;
        {
            const InterruptScope scope(probe);
            EXPECT_THROW(graph.run(query), Interrupted) << query;
        }
        EXPECT_EQ(graph.rows(query), expected) << query;
    }
}

}  // namespace
}  // namespace kuv::cypher
