#include "cypher/parser.hpp"

#include "core/debug_text.hpp"
#include "cypher/value.hpp"

#include <gtest/gtest.h>
#include <re2/re2.h>

#include <string>
#include <vector>

namespace kuv::cypher {
namespace {

// ---- A compact, readable summary of a parsed query ----

const char* const kRelTypeNames[] = {"Offers", "Brand", "Manufacturer", "Review", "AggregateRating",
                                     "IsVariantOf", "Category", "Author", "HasVariant", "BroaderCategory"};

std::string literal_text(const Literal& literal) {
    return debug_value(std::visit([](const auto& v) { return Value(v); }, literal.value));
}

std::string node_text(const NodePat& node) {
    std::string out = "(" + node.var.value_or("");
    for (auto kind : node.labels) out += ":" + std::string(core::label(kind));
    if (!node.props.empty()) {
        out += " {";
        for (std::size_t i = 0; i < node.props.size(); ++i) {
            out += (i ? ", " : "") + node.props[i].first + ": " + literal_text(node.props[i].second);
        }
        out += "}";
    }
    return out + ")";
}

std::string rel_text(const RelPat& rel) {
    std::string types;
    for (std::size_t i = 0; i < rel.types.size(); ++i) {
        types += (i ? "|" : ":") + std::string(kRelTypeNames[int(rel.types[i])]);
    }
    return rel.direction == Direction::Outgoing ? "-[" + types + "]->" : "<-[" + types + "]-";
}

const char* const kBinOps[] = {"=", "<>", "<", "<=", ">", ">=", "AND", "OR"};
const char* const kStrOps[] = {"STARTS WITH", "CONTAINS", "ENDS WITH"};

std::string expr_text(const Expr& expr) {
    struct Printer {
        std::string operator()(const BinExpr& e) const {
            return "(" + expr_text(*e.left) + " " + kBinOps[int(e.op)] + " " + expr_text(*e.right) + ")";
        }
        std::string operator()(const NotExpr& e) const { return "NOT " + expr_text(*e.operand); }
        std::string operator()(const PropExpr& e) const { return e.var + "." + e.prop; }
        std::string operator()(const Literal& e) const { return literal_text(e); }
        std::string operator()(const StrOpExpr& e) const {
            return "(" + expr_text(*e.operand) + " " + kStrOps[int(e.kind)] + " " + debug_str(e.needle) + ")";
        }
        std::string operator()(const IsNullExpr& e) const {
            return "(" + expr_text(*e.operand) + (e.want_null ? " IS NULL)" : " IS NOT NULL)");
        }
        std::string operator()(const InExpr& e) const {
            std::string out = "(" + expr_text(*e.operand) + " IN [";
            for (std::size_t i = 0; i < e.list.size(); ++i) out += (i ? ", " : "") + literal_text(e.list[i]);
            return out + "])";
        }
        std::string operator()(const RegexExpr& e) const {
            return "(" + expr_text(*e.operand) + " =~ " + debug_str(e.regex->pattern()) + ")";
        }
    };
    return std::visit(Printer{}, expr.node);
}

const char* const kAggs[] = {"count", "min", "max", "sum", "avg"};

std::string return_text(const ReturnItem& item) {
    std::string target = item.star ? "*" : item.var + (item.prop ? "." + *item.prop : "");
    std::string out = item.agg ? std::string(kAggs[int(*item.agg)]) + "(" + target + ")" : target;
    return item.alias ? out + " AS " + *item.alias : out;
}

std::string summary(const Query& q) {
    std::string out = "MATCH " + node_text(q.pattern.nodes[0]);
    for (std::size_t i = 0; i < q.pattern.rels.size(); ++i) {
        out += rel_text(q.pattern.rels[i]) + node_text(q.pattern.nodes[i + 1]);
    }
    if (q.where_expr) out += " WHERE " + expr_text(*q.where_expr);
    out += q.distinct ? " RETURN DISTINCT " : " RETURN ";
    for (std::size_t i = 0; i < q.returns.size(); ++i) out += (i ? ", " : "") + return_text(q.returns[i]);
    for (std::size_t i = 0; i < q.order_by.size(); ++i) {
        const auto& item = q.order_by[i];
        out += (i ? ", " : " ORDER BY ") + item.var + (item.prop ? "." + *item.prop : "") + (item.desc ? " DESC" : "");
    }
    if (q.skip) out += " SKIP " + std::to_string(*q.skip);
    if (q.limit) out += " LIMIT " + std::to_string(*q.limit);
    return out;
}

std::string parsed(std::string_view query) {
    auto result = parse(query);
    if (auto* message = std::get_if<std::string>(&result)) return "error: " + *message;
    return summary(std::get<Query>(result));
}

struct Case {
    std::string query;
    std::string expected;
};

void run_cases(const std::vector<Case>& cases) {
    for (const auto& c : cases) EXPECT_EQ(parsed(c.query), c.expected) << "query: " << c.query;
}

// ---- Trees ----

TEST(Parser, KeywordsFoldAsciiCaseWhereTheGrammarLooksForThem) {
    run_cases({
        {"MATCH (n) RETURN n", "MATCH (n) RETURN n"},
        {"match (n) return n", "MATCH (n) RETURN n"},
        {"Match (n) Return n", "MATCH (n) RETURN n"},
        {"`MATCH` (n) `return` n", "MATCH (n) RETURN n"},
        {"MATCH(n)RETURN n", "MATCH (n) RETURN n"},
        {"MATCH (where) RETURN where", "MATCH (where) RETURN where"},
        {"MATCH (n) RETURN n AS return", "MATCH (n) RETURN n AS return"},
        // Only A-Z fold: a dotless i or Kelvin sign never makes a keyword.
        {"MATCH (n) RETURN n L\u0130MIT 1", "MATCH (n) RETURN n"},
        {"MATCH (n) RETURN n S\u212aIP 1", "MATCH (n) RETURN n"},
    });
}

TEST(Parser, Patterns) {
    run_cases({
        {"MATCH (p:Product)-[:Offers|Brand]->(x) RETURN x", "MATCH (p:Product)-[:Offers|Brand]->(x) RETURN x"},
        {"MATCH (o:Offer)<-[:Offers]-(p:Product) RETURN o", "MATCH (o:Offer)<-[:Offers]-(p:Product) RETURN o"},
        {"MATCH (a)-->(b) RETURN a", "MATCH (a)-[]->(b) RETURN a"},
        {"MATCH (a)<--(b) RETURN a", "MATCH (a)<-[]-(b) RETURN a"},
        {"MATCH (a)-[]->(b) RETURN a", "MATCH (a)-[]->(b) RETURN a"},
        {"MATCH ()-[:Review]->(:Review)<-[:Author]-(x:Person) RETURN x",
         "MATCH ()-[:Review]->(:Review)<-[:Author]-(x:Person) RETURN x"},
        {"MATCH (p {name: 'x', price: -5, ok: true}) RETURN p",
         "MATCH (p {name: Str(\"x\"), price: Int(-5), ok: Bool(true)}) RETURN p"},
        {"MATCH (p:Product {a: 1, a: -0.0, b: 2.5}) RETURN p",
         "MATCH (p:Product {a: Int(1), a: Float(-0.0), b: Float(2.5)}) RETURN p"},
        {"MATCH (p {a: -9223372036854775807}) RETURN p", "MATCH (p {a: Int(-9223372036854775807)}) RETURN p"},
    });
}

TEST(Parser, ReturnOrderSkipLimit) {
    run_cases({
        {"MATCH (n) RETURN count", "MATCH (n) RETURN count"},
        {"MATCH (n) RETURN COUNT(*)", "MATCH (n) RETURN count(*)"},
        {"MATCH (n) RETURN Sum(n.price)", "MATCH (n) RETURN sum(n.price)"},
        {"MATCH (n) RETURN count(n.price) AS c, avg(n.x), MIN(n), max(n.y) as m",
         "MATCH (n) RETURN count(n.price) AS c, avg(n.x), min(n), max(n.y) AS m"},
        {"MATCH (n) RETURN n.name, n", "MATCH (n) RETURN n.name, n"},
        {"MATCH (n) RETURN DISTINCT n.name", "MATCH (n) RETURN DISTINCT n.name"},
        {"MATCH (n) RETURN n.name DISTINCT", "MATCH (n) RETURN n.name"},
        {"MATCH (n) RETURN n ORDER BY n.x desc, n.y", "MATCH (n) RETURN n ORDER BY n.x DESC, n.y"},
        {"MATCH (n) RETURN n ORDER BY n.x ASC, m DESC", "MATCH (n) RETURN n ORDER BY n.x, m DESC"},
        {"MATCH (n) RETURN n ORDER BY n.x DESCENDING", "MATCH (n) RETURN n ORDER BY n.x"},
        {"MATCH (n) RETURN n SKIP 2 LIMIT 3", "MATCH (n) RETURN n SKIP 2 LIMIT 3"},
        {"MATCH (n) RETURN n LIMIT 3 SKIP 2", "MATCH (n) RETURN n LIMIT 3"},
        {"MATCH (n) RETURN n foo", "MATCH (n) RETURN n"},
        {"MATCH (n) RETURN n LIMIT 0", "MATCH (n) RETURN n LIMIT 0"},
        {"MATCH (n) RETURN x.y ORDER BY z", "MATCH (n) RETURN x.y ORDER BY z"},
    });
}

TEST(Parser, Expressions) {
    run_cases({
        {"MATCH (a) WHERE NOT a.x = 1 AND b.y = 2 RETURN a", "MATCH (a) WHERE (NOT (a.x = Int(1)) AND (b.y = Int(2))) RETURN a"},
        {"MATCH (a) WHERE a.a = 1 OR a.b = 2 AND a.c = 3 RETURN a",
         "MATCH (a) WHERE ((a.a = Int(1)) OR ((a.b = Int(2)) AND (a.c = Int(3)))) RETURN a"},
        {"MATCH (a) WHERE a.a = 1 or a.b = 2 or a.c = 3 RETURN a",
         "MATCH (a) WHERE (((a.a = Int(1)) OR (a.b = Int(2))) OR (a.c = Int(3))) RETURN a"},
        {"MATCH (a) WHERE a.x <> 1 AND a.x != 2.5 AND a.x < 'z' AND a.x <= a.y AND a.x > 0 AND a.x >= 1 RETURN a",
         "MATCH (a) WHERE ((((((a.x <> Int(1)) AND (a.x <> Float(2.5))) AND (a.x < Str(\"z\"))) AND (a.x <= a.y)) AND "
         "(a.x > Int(0))) AND (a.x >= Int(1))) RETURN a"},
        {"MATCH (n) WHERE n.price IN [-1, 2.5, 'x', TRUE] RETURN n",
         "MATCH (n) WHERE (n.price IN [Int(-1), Float(2.5), Str(\"x\"), Bool(true)]) RETURN n"},
        {"MATCH (n) WHERE n.x IN [] RETURN n", "MATCH (n) WHERE (n.x IN []) RETURN n"},
        {"MATCH (n) WHERE n.x IS NULL RETURN n", "MATCH (n) WHERE (n.x IS NULL) RETURN n"},
        {"MATCH (n) WHERE n.x is not null RETURN n", "MATCH (n) WHERE (n.x IS NOT NULL) RETURN n"},
        {"MATCH (n) WHERE n.name STARTS WITH 'a' AND n.name ends with \"b\" AND n.name Contains '' RETURN n",
         "MATCH (n) WHERE (((n.name STARTS WITH \"a\") AND (n.name ENDS WITH \"b\")) AND (n.name CONTAINS \"\")) RETURN n"},
        {"MATCH (n) WHERE n.name =~ 'a.c' RETURN n", "MATCH (n) WHERE (n.name =~ \"a.c\") RETURN n"},
        {"MATCH (n) WHERE TRUE RETURN n", "MATCH (n) WHERE Bool(true) RETURN n"},
        {"MATCH (n) WHERE False OR `true` RETURN n", "MATCH (n) WHERE (Bool(false) OR Bool(true)) RETURN n"},
        {"MATCH (n) WHERE 1 = 1 RETURN n", "MATCH (n) WHERE (Int(1) = Int(1)) RETURN n"},
        {"MATCH (n) WHERE (n.a = 1) IS NULL RETURN n", "MATCH (n) WHERE ((n.a = Int(1)) IS NULL) RETURN n"},
        {"MATCH (n) WHERE ((n.a = 1)) RETURN n", "MATCH (n) WHERE (n.a = Int(1)) RETURN n"},
        {"MATCH (n) WHERE NOT NOT n.a IS NULL RETURN n", "MATCH (n) WHERE NOT NOT (n.a IS NULL) RETURN n"},
        {"MATCH (n) WHERE n.a = (n.b = 1) RETURN n", "MATCH (n) WHERE (n.a = (n.b = Int(1))) RETURN n"},
        {"MATCH (n) WHERE where.where = 1 RETURN n", "MATCH (n) WHERE (where.where = Int(1)) RETURN n"},
        {"MATCH (n) WHERE n.`a b` = 'x' RETURN n", "MATCH (n) WHERE (n.a b = Str(\"x\")) RETURN n"},
    });
}

// ---- Every message ----

TEST(Parser, Messages) {
    run_cases({
        {"", "error: query must start with MATCH"},
        {"  \n ", "error: query must start with MATCH"},
        {"RETURN 1", "error: query must start with MATCH"},
        {"MATCHES (n) RETURN n", "error: query must start with MATCH"},
        {"MATCH (n)", "error: expected RETURN"},
        {"MATCH (n), (m) RETURN n", "error: expected RETURN"},
        {"MATCH (a)->(b) RETURN a", "error: expected RETURN"},
        {"MATCH (n) WHERE n.a = 1 = 2 RETURN n", "error: expected RETURN"},
        {"MATCH (n) WHERE n.a < n.b < n.c RETURN n", "error: expected RETURN"},
        {"MATCH (n) RETURN", "error: expected identifier, got None"},
        {"MATCH (n) RETURN 1", "error: expected identifier, got Some(Int(1))"},
        {"MATCH n RETURN n", "error: expected LParen, got Some(Ident(\"n\"))"},
        {"MATCH (n:Product|Offer) RETURN n", "error: expected RParen, got Some(Pipe)"},
        {"MATCH (n:Product:Offer) RETURN n", "error: expected RParen, got Some(Colon)"},
        {"MATCH (n:product) RETURN n", "error: unknown node label :product"},
        {"MATCH (n:`Pro duct`) RETURN n", "error: unknown node label :Pro duct"},
        {"MATCH (n:'Product') RETURN n", "error: expected identifier, got Some(Str(\"Product\"))"},
        {"MATCH (a)-[:Offers]-(b) RETURN a", "error: malformed relationship terminator: Some(Dash)"},
        {"MATCH (a)<-[:Offers]->(b) RETURN a", "error: malformed relationship terminator: Some(ArrowRight)"},
        {"MATCH (a)-[:Offers]", "error: malformed relationship terminator: None"},
        {"MATCH (a)--(b) RETURN a", "error: malformed relationship terminator: Some(Dash)"},
        {"MATCH (a)<-->(b) RETURN a", "error: malformed relationship terminator: Some(ArrowRight)"},
        {"MATCH (a)-[:offers]->(b) RETURN a", "error: unknown rel type :offers"},
        {"MATCH (a)-[r:Offers]->(b) RETURN a", "error: expected RBracket, got Some(Ident(\"r\"))"},
        {"MATCH (a)-[:Offers|:Brand]->(b) RETURN a", "error: expected identifier, got Some(Colon)"},
        {"MATCH (a)-[:Offers]->", "error: expected LParen, got None"},
        {"MATCH (p {}) RETURN p", "error: expected identifier, got Some(RBrace)"},
        {"MATCH (p {a: 1,}) RETURN p", "error: expected identifier, got Some(RBrace)"},
        {"MATCH (p {'a': 1}) RETURN p", "error: expected identifier, got Some(Str(\"a\"))"},
        {"MATCH (p {a 1}) RETURN p", "error: expected Colon, got Some(Int(1))"},
        {"MATCH (p {a: 1) RETURN p", "error: expected RBrace, got Some(RParen)"},
        {"MATCH (p {a: x}) RETURN p", "error: expected a literal value, got identifier \"x\""},
        {"MATCH (p {a: -x}) RETURN p", "error: expected number after '-', got Some(Ident(\"x\"))"},
        {"MATCH (p {a: -'1'}) RETURN p", "error: expected number after '-', got Some(Str(\"1\"))"},
        {"MATCH (p {a: -", "error: expected number after '-', got None"},
        {"MATCH (p {a:", "error: expected a literal value, got None"},
        {"MATCH (n) RETURN max(*)", "error: expected identifier, got Some(Star)"},
        {"MATCH (n) RETURN sum(*)", "error: expected identifier, got Some(Star)"},
        {"MATCH (n) RETURN count(*", "error: expected RParen, got None"},
        {"MATCH (n) RETURN count(n.x AS c", "error: expected RParen, got Some(Ident(\"AS\"))"},
        {"MATCH (n) RETURN n AS", "error: expected identifier, got None"},
        {"MATCH (n) RETURN n.", "error: expected identifier, got None"},
        {"MATCH (n) RETURN n ORDER n.x", "error: expected BY after ORDER"},
        {"MATCH (n) RETURN n ORDER", "error: expected BY after ORDER"},
        {"MATCH (n) RETURN n ORDER BY", "error: expected identifier, got None"},
        {"MATCH (n) RETURN n LIMIT -1", "error: LIMIT expects a non-negative integer, got Some(Dash)"},
        {"MATCH (n) RETURN n SKIP", "error: SKIP expects a non-negative integer, got None"},
        {"MATCH (n) RETURN n SKIP 2.5", "error: SKIP expects a non-negative integer, got Some(Float(2.5))"},
        {"MATCH (n) WHERE n RETURN n", "error: expected Dot, got Some(Ident(\"RETURN\"))"},
        {"MATCH (n) WHERE n.x = null RETURN n", "error: expected Dot, got Some(Ident(\"RETURN\"))"},
        {"MATCH (n) WHERE tRUE RETURN n", "error: expected Dot, got Some(Ident(\"RETURN\"))"},
        {"MATCH (n) WHERE n.price > -1 RETURN n", "error: unexpected token in expression: Some(Dash)"},
        {"MATCH (n) WHERE", "error: unexpected token in expression: None"},
        {"MATCH (n) WHERE [1] RETURN n", "error: unexpected token in expression: Some(LBracket)"},
        {"MATCH (n) WHERE n.a = NOT n.b RETURN n", "error: expected Dot, got Some(Ident(\"n\"))"},
        {"MATCH (n) WHERE (n.a < n.b < n.c) RETURN n", "error: expected RParen, got Some(Lt)"},
        {"MATCH (n) WHERE n.x IN [1,] RETURN n", "error: expected a literal value, got Some(RBracket)"},
        {"MATCH (n) WHERE n.x IN [1 2] RETURN n", "error: expected RBracket, got Some(Int(2))"},
        {"MATCH (n) WHERE n.x IN 1 RETURN n", "error: expected LBracket, got Some(Int(1))"},
        {"MATCH (n) WHERE n.x IN [null] RETURN n", "error: expected a literal value, got identifier \"null\""},
        {"MATCH (n) WHERE n.x IS NOTHING RETURN n", "error: expected NULL after IS [NOT]"},
        {"MATCH (n) WHERE n.x IS NOT RETURN n", "error: expected NULL after IS [NOT]"},
        {"MATCH (n) WHERE n.name STARTS 'a' RETURN n", "error: expected WITH after STARTS"},
        {"MATCH (n) WHERE n.name ENDS 'a' RETURN n", "error: expected WITH after ENDS"},
        {"MATCH (n) WHERE n.name CONTAINS 5 RETURN n", "error: expected a string operand, got Int(5)"},
        {"MATCH (n) WHERE n.name CONTAINS -2 RETURN n", "error: expected a string operand, got Int(-2)"},
        {"MATCH (n) WHERE n.name STARTS WITH 1.5 RETURN n", "error: expected a string operand, got Float(1.5)"},
        {"MATCH (n) WHERE n.name ENDS WITH true RETURN n", "error: expected a string operand, got Bool(true)"},
        {"MATCH (n) WHERE n.name =~ 3. RETURN n", "error: expected a string operand, got Float(3.0)"},
        {"MATCH (n) WHERE n.name CONTAINS x RETURN n", "error: expected a literal value, got identifier \"x\""},
        {"MATCH (n) WHERE n.name CONTAINS `a\"b` RETURN n",
         "error: expected a literal value, got identifier \"a\\\"b\""},
        {"MATCH (n) WHERE n.name CONTAINS", "error: expected a literal value, got None"},
        // Tokeniser messages pass through unchanged.
        {"MATCH (n) WHERE n.x = 9223372036854775808 RETURN n", "error: bad int"},
        {"MATCH (n) RETURN n $", "error: unexpected char '$' at 19"},
        {"MATCH (n) WHERE n.x = 'a RETURN n", "error: unterminated string at 22"},
    });
}

TEST(Parser, InvalidRegexCarriesTheLibraryDescription) {
    const std::string prefix = "error: invalid regex in =~ : ";
    for (const std::string pattern : {"(", "a)", "[z-a]", "a**", "\\", "a{2,1}"}) {
        const std::string query = "MATCH (n) WHERE n.name =~ '" + pattern + "' RETURN n";
        const std::string result = parsed(query);
        ASSERT_EQ(result.rfind(prefix, 0), 0u) << query << " gave " << result;
        RE2::Options options;
        options.set_log_errors(false);
        const RE2 reference(pattern, options);
        EXPECT_EQ(result.substr(prefix.size()), reference.error()) << query;
    }
}

// ---- Compiled regular expressions ----

const RE2& regex_of(const Query& query) { return *std::get<RegexExpr>(query.where_expr->node).regex; }

TEST(Parser, RegexIsAnUnanchoredCaseSensitiveUnicodeSearch) {
    struct RegexCase {
        std::string pattern;
        std::string text;
        bool matches;
    };
    const RegexCase cases[] = {
        {"b.d", "abcde", true},
        {"^b", "abc", false},
        {"B", "abc", false},
        {"(?i)B", "abc", true},
        {"^.$", "\u00e9", true},                       // one character, two bytes
        {"^\\d+$", "\u0661\u0662", true},              // Arabic-Indic digits
        {"^\\D$", "\u0661", false},
        {"^\\w+$", "caf\u00e9_\u0436\u00b2", false},   // superscript two is No, not a word character
        {"^\\w+$", "caf\u00e9_\u0436\u0663", true},
        {"^\\W$", "\u00e9", false},
        {"^\\W$", "-", true},
        {"^\\s$", "\u3000", true},
        {"^\\S$", "\u3000", false},
        {"^[\\d]+$", "\u0661a", false},
        {"^[\\da]+$", "\u0661a", true},
        {"^[\\W]$", "\u00e9", false},
        {"^[^\\W]$", "\u00e9", true},
        {"^[\\S]$", "\u2028", false},
        {"^[]\\d]+$", "]\u0661", true},                // a leading ] is literal
        {"^[[:alpha:]\\d]+$", "a1\u0661", true},
        {"^\\\\d$", "\\d", true},                      // an escaped backslash, then a plain d
        {"^\\Q\\d\\E$", "\\d", true},                  // quoted text stays literal
        {"^\\pL\\p{Greek}$", "a\u03b1", true},
    };
    for (const auto& c : cases) {
        const std::string query = "MATCH (n) WHERE n.x =~ \"" + c.pattern + "\" RETURN n";
        auto result = parse(query);
        ASSERT_TRUE(std::holds_alternative<Query>(result)) << query << ": " << std::get<std::string>(result);
        EXPECT_EQ(RE2::PartialMatch(c.text, regex_of(std::get<Query>(result))), c.matches)
            << c.pattern << " on " << c.text;
    }
}

// ---- Nesting cap ----

std::string repeated(std::string_view unit, std::size_t count) {
    std::string out;
    out.reserve(unit.size() * count);
    for (std::size_t i = 0; i < count; ++i) out += unit;
    return out;
}

std::string where_query(const std::string& condition) { return "MATCH (n) WHERE " + condition + " RETURN n"; }

std::string and_chain(std::size_t terms) {
    return "n.a = 1" + repeated(" AND n.a = 1", terms - 1);
}

TEST(Parser, DeepNestingFailsCleanly) {
    const std::string too_deep = "error: " + std::string(kNestedTooDeeply);
    const std::size_t huge = 200000;
    EXPECT_EQ(parsed(where_query(repeated("(", huge) + "n.a = 1" + repeated(")", huge))), too_deep);
    EXPECT_EQ(parsed(where_query(repeated("(", huge))), too_deep);
    EXPECT_EQ(parsed(where_query(repeated("NOT ", huge) + "n.a = 1")), too_deep);
    EXPECT_EQ(parsed(where_query(and_chain(huge))), too_deep);
    EXPECT_EQ(parsed(where_query(repeated("n.a = 1 OR ", huge) + "n.a = 1")), too_deep);
    EXPECT_EQ(parsed(where_query(repeated("n.a = (", huge) + "1" + repeated(")", huge))), too_deep);
}

TEST(Parser, NestingUpToTheCapParses) {
    const std::size_t cap = kMaxQueryNesting;
    // Parentheses leave no node, so the cap counts them while open.
    EXPECT_EQ(parsed(where_query(repeated("(", cap) + "n.a = 1" + repeated(")", cap))),
              "MATCH (n) WHERE (n.a = Int(1)) RETURN n");
    EXPECT_EQ(parsed(where_query(repeated("(", cap + 1) + "n.a = 1" + repeated(")", cap + 1))),
              "error: " + std::string(kNestedTooDeeply));
    // A NOT chain over a comparison is one level taller than its NOTs.
    EXPECT_EQ(parsed(where_query(repeated("NOT ", cap - 2) + "n.a = 1")).substr(0, 20), "MATCH (n) WHERE NOT ");
    EXPECT_EQ(parsed(where_query(repeated("NOT ", cap - 1) + "n.a = 1")), "error: " + std::string(kNestedTooDeeply));
    // A left-folded chain of comparisons of n terms is n + 1 levels tall.
    auto at_cap = parse(where_query(and_chain(cap - 1)));
    ASSERT_TRUE(std::holds_alternative<Query>(at_cap));
    EXPECT_EQ(parsed(where_query(and_chain(cap))), "error: " + std::string(kNestedTooDeeply));
    // Freeing the deepest accepted tree is part of this test (and of its sanitizer run).
}

}  // namespace
}  // namespace kuv::cypher
