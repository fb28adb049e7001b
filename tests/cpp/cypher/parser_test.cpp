#include "cypher/parser.hpp"

#include "core/debug_text.hpp"
#include "cypher/value.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace kuv::cypher {
namespace {

// A parsed query printed back in a canonical form.
const char* const kRelTypes[] = {"Offers", "Brand", "Manufacturer", "Review", "AggregateRating",
                                 "IsVariantOf", "Category", "Author", "HasVariant", "BroaderCategory"};
const char* const kBinOps[] = {"=", "<>", "<", "<=", ">", ">=", "AND", "OR"};
const char* const kStrOps[] = {"STARTS WITH", "CONTAINS", "ENDS WITH"};
const char* const kAggs[] = {"count", "min", "max", "sum", "avg"};

template <class Items, class Print>
std::string join(const Items& items, const std::string& separator, Print print) {
    std::string out;
    for (std::size_t i = 0; i < std::size(items); ++i) out += (i ? separator : "") + print(items[i]);
    return out;
}

std::string literal_text(const Literal& literal) {
    return debug_value(std::visit([](const auto& v) { return Value(v); }, literal.value));
}

std::string node_text(const NodePat& node) {
    std::string out = "(" + node.var.value_or("");
    for (auto kind : node.labels) out += ":" + std::string(core::label(kind));
    if (node.props.empty()) return out + ")";
    return out + " {" + join(node.props, ", ", [](const auto& p) { return p.first + ": " + literal_text(p.second); }) + "})";
}

std::string rel_text(const RelPat& rel) {
    std::string types = join(rel.types, "|", [](core::RelType t) { return std::string(kRelTypes[int(t)]); });
    if (!types.empty()) types = ":" + types;
    return rel.direction == Direction::Outgoing ? "-[" + types + "]->" : "<-[" + types + "]-";
}

std::string expr_text(const Expr& expr);
std::string wrap(const ExprPtr& operand, const std::string& tail) { return "(" + expr_text(*operand) + tail + ")"; }

std::string expr_text(const Expr& expr) {
    struct Printer {
        std::string operator()(const BinExpr& e) const {
            return "(" + expr_text(*e.left) + " " + kBinOps[int(e.op)] + " " + expr_text(*e.right) + ")";
        }
        std::string operator()(const NotExpr& e) const { return "NOT " + expr_text(*e.operand); }
        std::string operator()(const PropExpr& e) const { return e.var + "." + e.prop; }
        std::string operator()(const Literal& e) const { return literal_text(e); }
        std::string operator()(const StrOpExpr& e) const { return wrap(e.operand, std::string(" ") + kStrOps[int(e.kind)] + " " + debug_str(e.needle)); }
        std::string operator()(const IsNullExpr& e) const { return wrap(e.operand, e.want_null ? " IS NULL" : " IS NOT NULL"); }
        std::string operator()(const InExpr& e) const { return wrap(e.operand, " IN [" + join(e.list, ", ", literal_text) + "]"); }
        std::string operator()(const RegexExpr& e) const { return wrap(e.operand, " =~ " + debug_str(e.regex->pattern())); }
    };
    return std::visit(Printer{}, expr.node);
}

std::string return_text(const ReturnItem& item) {
    std::string out = item.star ? "*" : item.var + (item.prop ? "." + *item.prop : "");
    if (item.agg) out = std::string(kAggs[int(*item.agg)]) + "(" + out + ")";
    return item.alias ? out + " AS " + *item.alias : out;
}

std::string summary(const Query& q) {
    std::string out = "MATCH " + node_text(q.pattern.nodes[0]);
    for (std::size_t i = 0; i < q.pattern.rels.size(); ++i) out += rel_text(q.pattern.rels[i]) + node_text(q.pattern.nodes[i + 1]);
    if (q.where_expr) out += " WHERE " + expr_text(*q.where_expr);
    out += (q.distinct ? " RETURN DISTINCT " : " RETURN ") + join(q.returns, ", ", return_text);
    if (!q.order_by.empty()) out += " ORDER BY " + join(q.order_by, ", ", [](const OrderItem& item) {
        return item.var + (item.prop ? "." + *item.prop : "") + (item.desc ? " DESC" : "");
    });
    if (q.skip) out += " SKIP " + std::to_string(*q.skip);
    if (q.limit) out += " LIMIT " + std::to_string(*q.limit);
    return out;
}

void expect_parsed(const std::vector<std::pair<std::string, std::string>>& cases) {
    for (const auto& [query, expected] : cases) {
        const auto result = parse(query);
        const auto* message = std::get_if<std::string>(&result);
        EXPECT_EQ(message ? "error: " + *message : summary(std::get<Query>(result)), expected) << "query: " << query;
    }
}

TEST(Parser, Trees) {
    expect_parsed({
        // Keywords fold A-Z only, and only where the grammar looks for them.
        {"`match`(where)Return where AS return", "MATCH (where) RETURN where AS return"},
        {"MATCH (n) RETURN n L\u0130MIT 1", "MATCH (n) RETURN n"},
        {"MATCH (p:Product)-[:Offers|Brand]->(x)<-[:Author]-()-->(:Review)<--(b) RETURN x",
         "MATCH (p:Product)-[:Offers|Brand]->(x)<-[:Author]-()-[]->(:Review)<-[]-(b) RETURN x"},
        {"MATCH (p {name: 'x', ok: true, a: 1, a: -0.0, b: 2.5, c: -9223372036854775807}) RETURN p",
         "MATCH (p {name: Str(\"x\"), ok: Bool(true), a: Int(1), a: Float(-0.0), b: Float(2.5), c: Int(-9223372036854775807)}) RETURN p"},
        {"MATCH (n) RETURN count, COUNT(*), Sum(n.price) AS s, MIN(n), x.y", "MATCH (n) RETURN count, count(*), sum(n.price) AS s, min(n), x.y"},
        {"MATCH (n) RETURN DISTINCT n ORDER BY n.x desc, n.y ASC, m SKIP 2 LIMIT 0", "MATCH (n) RETURN DISTINCT n ORDER BY n.x DESC, n.y, m SKIP 2 LIMIT 0"},
        // Whatever follows the last clause the grammar expects is ignored.
        {"MATCH (n) RETURN n LIMIT 3 SKIP 2", "MATCH (n) RETURN n LIMIT 3"},
        {"MATCH (a) WHERE NOT a.x = 1 AND b.y = 2 OR a.z = 3 OR a.z = 4 RETURN a",
         "MATCH (a) WHERE (((NOT (a.x = Int(1)) AND (b.y = Int(2))) OR (a.z = Int(3))) OR (a.z = Int(4))) RETURN a"},
        {"MATCH (a) WHERE a.x <> 1 AND a.x != 2.5 AND a.x < 'z' AND a.x <= a.y AND a.x > 0 AND a.x >= 1 RETURN a",
         "MATCH (a) WHERE ((((((a.x <> Int(1)) AND (a.x <> Float(2.5))) AND (a.x < Str(\"z\"))) AND (a.x <= a.y)) AND "
         "(a.x > Int(0))) AND (a.x >= Int(1))) RETURN a"},
        {"MATCH (n) WHERE n.price IN [-1, 2.5, 'x', TRUE] AND n.x IN [] OR n.x IS NULL OR n.x is not null RETURN n",
         "MATCH (n) WHERE ((((n.price IN [Int(-1), Float(2.5), Str(\"x\"), Bool(true)]) AND (n.x IN [])) OR (n.x IS NULL)) OR "
         "(n.x IS NOT NULL)) RETURN n"},
        {"MATCH (n) WHERE n.name STARTS WITH 'a' AND n.name ends with \"b\" AND n.name Contains '' AND n.name =~ 'a.c' RETURN n",
         "MATCH (n) WHERE ((((n.name STARTS WITH \"a\") AND (n.name ENDS WITH \"b\")) AND (n.name CONTAINS \"\")) AND (n.name =~ \"a.c\")) RETURN n"},
        {"MATCH (n) WHERE False OR `true` OR 1 = 1 RETURN n", "MATCH (n) WHERE ((Bool(false) OR Bool(true)) OR (Int(1) = Int(1))) RETURN n"},
        {"MATCH (n) WHERE NOT NOT ((n.a = 1)) IS NULL RETURN n", "MATCH (n) WHERE NOT NOT ((n.a = Int(1)) IS NULL) RETURN n"},
        {"MATCH (n) WHERE NOT NOT (NOT n.a = 1 OR (n.b = 2)) AND n.c RETURN n",
         "MATCH (n) WHERE (NOT NOT (NOT (n.a = Int(1)) OR (n.b = Int(2))) AND n.c) RETURN n"},
        {"MATCH (n) WHERE (n.a = 1) IS NULL AND n.b = (n.c = 1) RETURN n",
         "MATCH (n) WHERE (((n.a = Int(1)) IS NULL) AND (n.b = (n.c = Int(1)))) RETURN n"},
        // The pattern keeps the text as written, though the library reads named groups another way.
        {"MATCH (n) WHERE n.x =~ '(?<word>\u00e9)\\b' RETURN n", "MATCH (n) WHERE (n.x =~ \"(?<word>\u00e9)\\\\b\") RETURN n"},
    });
}

TEST(Parser, Messages) {
    expect_parsed({
        {"MATCHES (n) RETURN n", "error: query must start with MATCH"},
        {"MATCH (a)->(b) RETURN a", "error: expected RETURN"},
        {"MATCH (n) RETURN", "error: expected identifier, got None"},
        {"MATCH n RETURN n", "error: expected LParen, got Some(Ident(\"n\"))"},
        {"MATCH (n:Product|Offer) RETURN n", "error: expected RParen, got Some(Pipe)"},
        {"MATCH (n:`Pro duct`) RETURN n", "error: unknown node label :Pro duct"},
        {"MATCH (a)-[:Offers]-(b) RETURN a", "error: malformed relationship terminator: Some(Dash)"},
        {"MATCH (a)-[:offers]->(b) RETURN a", "error: unknown rel type :offers"},
        {"MATCH (a)-[r:Offers]->(b) RETURN a", "error: expected RBracket, got Some(Ident(\"r\"))"},
        {"MATCH (p {a: x}) RETURN p", "error: expected a literal value, got identifier \"x\""},
        {"MATCH (p {a: -'1'}) RETURN p", "error: expected number after '-', got Some(Str(\"1\"))"},
        {"MATCH (n) RETURN sum(*)", "error: expected identifier, got Some(Star)"},
        {"MATCH (n) RETURN n ORDER n.x", "error: expected BY after ORDER"},
        {"MATCH (n) RETURN n LIMIT -1", "error: LIMIT expects a non-negative integer, got Some(Dash)"},
        {"MATCH (n) RETURN n SKIP 2.5", "error: SKIP expects a non-negative integer, got Some(Float(2.5))"},
        {"MATCH (n) WHERE n.x = null RETURN n", "error: expected Dot, got Some(Ident(\"RETURN\"))"},
        {"MATCH (n) WHERE n.price > -1 RETURN n", "error: unexpected token in expression: Some(Dash)"},
        {"MATCH (p {a:", "error: expected a literal value, got None"},
        {"MATCH (n) WHERE n.x IN [1,] RETURN n", "error: expected a literal value, got Some(RBracket)"},
        {"MATCH (n) WHERE n.x IN 1 RETURN n", "error: expected LBracket, got Some(Int(1))"},
        {"MATCH (n) WHERE", "error: unexpected token in expression: None"},
        {"MATCH (n) WHERE n.x IS NOT RETURN n", "error: expected NULL after IS [NOT]"},
        {"MATCH (n) WHERE n.name STARTS 'a' RETURN n", "error: expected WITH after STARTS"},
        {"MATCH (n) WHERE n.name ENDS 'a' RETURN n", "error: expected WITH after ENDS"},
        {"MATCH (n) WHERE n.name CONTAINS -2 RETURN n", "error: expected a string operand, got Int(-2)"},
        // The regular-expression library's description follows, over several lines.
        {"MATCH (n) WHERE n.name =~ '(' RETURN n", "error: invalid regex in =~ : regex parse error:\n    (\n    ^\nerror: unclosed group"},
        {"MATCH (n) WHERE n.name =~ '\\' RETURN n",
         "error: invalid regex in =~ : regex parse error:\n    \\\n    ^\nerror: incomplete escape sequence, reached end of pattern prematurely"},
        // A failure deep inside still names the token where it happens.
        {"MATCH (n) WHERE " + std::string(50, '(') + "n.a = 1" + std::string(49, ')') + " RETURN n",
         "error: expected RParen, got Some(Ident(\"RETURN\"))"},
        {"MATCH (n) WHERE NOT NOT NOT RETURN n", "error: expected Dot, got Some(Ident(\"n\"))"},
        {"MATCH (n) WHERE n.a = (n.a = (n.a = (1) RETURN n", "error: expected RParen, got Some(Ident(\"RETURN\"))"},
        // Tokeniser messages pass through unchanged.
        {"MATCH (n) RETURN n $", "error: unexpected char '$' at 19"},
    });
}

}  // namespace
}  // namespace kuv::cypher
