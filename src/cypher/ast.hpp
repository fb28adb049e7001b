#pragma once
// The syntax tree of one read-only query. Immutable once parsed; the executor only reads it.
#include "core/schema.hpp"
#include "cypher/regex.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace kuv::cypher {

struct Literal {
    std::variant<std::int64_t, double, std::string, bool> value;  // Int, Float, Str, Bool
};

enum class Direction : std::uint8_t { Outgoing = 0, Incoming = 1 };
enum class AggFunc : std::uint8_t { Count = 0, Min = 1, Max = 2, Sum = 3, Avg = 4 };
enum class BinOp : std::uint8_t { Eq = 0, Ne = 1, Lt = 2, Le = 3, Gt = 4, Ge = 5, And = 6, Or = 7 };
enum class StrOpKind : std::uint8_t { StartsWith = 0, Contains = 1, EndsWith = 2 };

struct NodePat {
    std::optional<std::string> var;
    std::vector<core::NodeKind> labels;  // empty: any kind
    std::vector<std::pair<std::string, Literal>> props;
};

struct RelPat {
    std::vector<core::RelType> types;  // empty: any type
    Direction direction = Direction::Outgoing;
};

struct Pattern {
    std::vector<NodePat> nodes;
    std::vector<RelPat> rels;  // rels[i] joins nodes[i] to nodes[i + 1]
};

struct Expr;

// Frees a whole expression tree without recursion, however deep or long its chains are.
struct ExprDeleter {
    void operator()(Expr* expr) const noexcept;
};
using ExprPtr = std::unique_ptr<Expr, ExprDeleter>;

struct BinExpr { BinOp op; ExprPtr left; ExprPtr right; };
struct NotExpr { ExprPtr operand; };
struct PropExpr { std::string var; std::string prop; };
struct StrOpExpr { ExprPtr operand; StrOpKind kind; std::string needle; };
struct IsNullExpr { ExprPtr operand; bool want_null; };
struct InExpr { ExprPtr operand; std::vector<Literal> list; };
struct RegexExpr { ExprPtr operand; std::shared_ptr<const Regex> regex; };

struct Expr {
    std::variant<BinExpr, NotExpr, PropExpr, Literal, StrOpExpr, IsNullExpr, InExpr, RegexExpr> node;
};

ExprPtr make_expr(Expr&& expr);

struct ReturnItem {
    std::string var;  // empty for count(*)
    std::optional<std::string> prop;
    std::optional<AggFunc> agg;
    bool star = false;
    std::optional<std::string> alias;
};

struct OrderItem {
    std::string var;
    std::optional<std::string> prop;
    bool desc = false;
};

struct Query {
    Pattern pattern;
    std::optional<Expr> where_expr;
    std::vector<ReturnItem> returns;  // never empty
    bool distinct = false;
    std::vector<OrderItem> order_by;
    std::optional<std::uint64_t> skip;
    std::optional<std::uint64_t> limit;
};

}  // namespace kuv::cypher
