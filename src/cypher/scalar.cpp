#include "cypher/scalar.hpp"

#include "cypher/id_table.hpp"

#include <bit>
#include <cmath>
#include <functional>

namespace kuv::cypher {
namespace {

// The order of two non-null values; unordered for NaN and for mismatched kinds.
std::partial_ordering order_of(const Scalar& left, const Scalar& right) {
    if (left.is_number() && right.is_number()) return left.number() <=> right.number();
    if (left.kind != right.kind) return std::partial_ordering::unordered;
    if (left.kind == Scalar::Kind::Str) return left.text <=> right.text;
    if (left.kind == Scalar::Kind::Bool) return left.boolean <=> right.boolean;
    return std::partial_ordering::unordered;
}

}  // namespace

Scalar scalar_of(const Literal& literal) {
    return std::visit(
        [](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::int64_t>) return Scalar::of_int(v);
            if constexpr (std::is_same_v<T, double>) return Scalar::of_float(v);
            if constexpr (std::is_same_v<T, std::string>) return Scalar::of_str(v);
            if constexpr (std::is_same_v<T, bool>) return Scalar::of_bool(v);
        },
        literal.value);
}

bool comparison_holds(BinOp op, const Scalar& left, const Scalar& right) {
    if (left.is_null() || right.is_null()) return false;
    const std::partial_ordering order = order_of(left, right);
    if (order == std::partial_ordering::unordered) return op == BinOp::Ne;
    switch (op) {
        case BinOp::Eq: return order == 0;
        case BinOp::Ne: return order != 0;
        case BinOp::Lt: return order < 0;
        case BinOp::Le: return order <= 0;
        case BinOp::Gt: return order > 0;
        case BinOp::Ge: return order >= 0;
        default: return false;
    }
}

bool inline_equal(const Scalar& value, const Scalar& literal) {
    if (literal.is_number()) return value.is_number() && value.number() == literal.number();
    if (value.kind != literal.kind) return false;
    return literal.kind == Scalar::Kind::Str ? value.text == literal.text : value.boolean == literal.boolean;
}

bool is_truthy(const Scalar& value) {
    if (value.kind == Scalar::Kind::Bool) return value.boolean;
    return !value.is_null();
}

std::uint64_t debug_text_hash(const Scalar& value) {
    std::uint64_t payload = 0;
    switch (value.kind) {
        case Scalar::Kind::Null: break;
        case Scalar::Kind::Bool: payload = value.boolean; break;
        case Scalar::Kind::Int: payload = std::uint64_t(value.integer); break;
        case Scalar::Kind::Float: payload = std::isnan(value.real) ? 0 : std::bit_cast<std::uint64_t>(value.real); break;
        case Scalar::Kind::Str: payload = std::hash<std::string_view>{}(value.text); break;
        case Scalar::Kind::Node: payload = value.node; break;
    }
    return mix_bits(payload ^ (std::uint64_t(value.kind) << 56));
}

bool same_debug_text(const Scalar& a, const Scalar& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case Scalar::Kind::Null: return true;
        case Scalar::Kind::Bool: return a.boolean == b.boolean;
        case Scalar::Kind::Int: return a.integer == b.integer;
        case Scalar::Kind::Float:
            return std::isnan(a.real) ? std::isnan(b.real) : std::bit_cast<std::uint64_t>(a.real) == std::bit_cast<std::uint64_t>(b.real);
        case Scalar::Kind::Str: return a.text == b.text;
        case Scalar::Kind::Node: return a.node == b.node;
    }
    return false;
}

int compare_order_value(const Scalar& a, const Scalar& b) {
    if (a.is_null() || b.is_null()) return a.is_null() == b.is_null() ? 0 : (a.is_null() ? 1 : -1);
    const std::partial_ordering order = order_of(a, b);
    if (order < 0) return -1;
    if (order > 0) return 1;
    return 0;
}

}  // namespace kuv::cypher
