#pragma once
// The values a query computes with while it runs: like Value, but strings are views (into the
// mapped graph, the query text or the query's own decoded strings) and a node is its index
// alone. A Scalar becomes a Value only when it enters the result.
#include "cypher/ast.hpp"

#include <compare>
#include <cstdint>
#include <string_view>

namespace kuv::cypher {

struct Scalar {
    enum class Kind : std::uint8_t { Null, Bool, Int, Float, Str, Node };
    Kind kind = Kind::Null;
    bool boolean = false;
    union {
        std::int64_t integer = 0;
        double real;
        std::uint32_t node;
    };
    std::string_view text;

    static Scalar of_bool(bool b) { Scalar s; s.kind = Kind::Bool; s.boolean = b; return s; }
    static Scalar of_int(std::int64_t i) { Scalar s; s.kind = Kind::Int; s.integer = i; return s; }
    static Scalar of_float(double f) { Scalar s; s.kind = Kind::Float; s.real = f; return s; }
    static Scalar of_str(std::string_view t) { Scalar s; s.kind = Kind::Str; s.text = t; return s; }
    static Scalar of_node(std::uint32_t n) { Scalar s; s.kind = Kind::Node; s.node = n; return s; }

    bool is_null() const { return kind == Kind::Null; }
    bool is_number() const { return kind == Kind::Int || kind == Kind::Float; }
    double number() const { return kind == Kind::Int ? static_cast<double>(integer) : real; }
};

// A literal of the query; a string literal is viewed, so the query must outlive the Scalar.
Scalar scalar_of(const Literal& literal);

// WHERE comparisons: two-valued, so a Null side makes every operator false, <> included.
// Numbers compare as f64 in any mix; strings by bytes; false before true; other pairs are
// unordered, for which only <> holds.
bool comparison_holds(BinOp op, const Scalar& left, const Scalar& right);

// The equality of inline properties and IN lists.
bool inline_equal(const Scalar& value, const Scalar& literal);

// A condition's truth: Null and false are false, anything else true (0 and "" included).
bool is_truthy(const Scalar& value);

// Two values share a hash, and are the same, exactly when their debug texts are equal: same kind
// and payload, every NaN alike (all print as NaN), -0.0 apart from 0.0. Grouping and DISTINCT
// key on these instead of writing the texts.
std::uint64_t debug_text_hash(const Scalar& value);
bool same_debug_text(const Scalar& a, const Scalar& b);

// ORDER BY: Null after everything; numbers as f64 (NaN ties); strings bytewise; false before
// true; every other pair ties. Not a strict weak order when one item mixes kinds.
int compare_order_value(const Scalar& a, const Scalar& b);

}  // namespace kuv::cypher
