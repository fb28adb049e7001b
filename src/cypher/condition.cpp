#include "cypher/condition.hpp"

#include <algorithm>

namespace kuv::cypher {
namespace {

bool string_op_holds(StrOpKind kind, std::string_view haystack, std::string_view needle) {
    switch (kind) {
        case StrOpKind::StartsWith: return haystack.starts_with(needle);
        case StrOpKind::EndsWith: return haystack.ends_with(needle);
        case StrOpKind::Contains: return haystack.find(needle) != std::string_view::npos;
    }
    return false;
}

bool is_chain(const Expr& expr, BinOp op) {
    const auto* binary = std::get_if<BinExpr>(&expr.node);
    return binary != nullptr && binary->op == op;
}

}  // namespace

Condition::Condition(const Expr& root, const Pattern& pattern, const PropertyReader& reader) {
    // Post-order walk with an explicit stack; `stage` counts the children already emitted.
    struct Pending {
        const Expr* expr;
        int stage;
        std::size_t jump;  // the jump step emitted between an AND's or OR's operands
    };
    std::vector<Pending> pending{{&root, 0, 0}};
    while (!pending.empty()) {
        Pending& top = pending.back();
        const Expr& expr = *top.expr;
        if (is_chain(expr, BinOp::And) || is_chain(expr, BinOp::Or)) {
            const auto& binary = std::get<BinExpr>(expr.node);
            if (top.stage == 0) {
                top.stage = 1;
                pending.push_back({binary.left.get(), 0, 0});
            } else if (top.stage == 1) {
                top.stage = 2;
                top.jump = steps_.size();
                steps_.push_back({binary.op == BinOp::And ? Step::Op::JumpIfFalse : Step::Op::JumpIfTrue});
                pending.push_back({binary.right.get(), 0, 0});
            } else {
                steps_[top.jump].arg = static_cast<std::uint32_t>(steps_.size());
                pending.pop_back();
            }
        } else if (const auto* negation = std::get_if<NotExpr>(&expr.node)) {
            if (top.stage == 0) {
                top.stage = 1;
                pending.push_back({negation->operand.get(), 0, 0});
            } else {
                steps_.push_back({Step::Op::Negate});
                pending.pop_back();
            }
        } else {
            steps_.push_back({Step::Op::Test, static_cast<std::uint32_t>(tests_.size())});
            tests_.push_back(test(expr, pattern, reader));
            pending.pop_back();
        }
    }
}

Condition::Operand Condition::operand(const Expr& expr, const Pattern& pattern, const PropertyReader& reader) const {
    Operand out;
    if (const auto* prop = std::get_if<PropExpr>(&expr.node)) {
        if (const auto position = position_of(pattern, prop->var)) {
            out.is_property = true;
            out.position = static_cast<std::uint32_t>(*position);
            out.key = reader.key(prop->prop);
        }
    } else if (const auto* literal = std::get_if<Literal>(&expr.node)) {
        out.constant = scalar_of(*literal);
    }
    return out;
}

Condition::Test Condition::test(const Expr& expr, const Pattern& pattern, const PropertyReader& reader) const {
    return std::visit(
        [&](const auto& node) {
            using T = std::decay_t<decltype(node)>;
            Test t;
            if constexpr (std::is_same_v<T, BinExpr>) {  // a comparison: AND and OR are jumps
                t.kind = Test::Kind::Compare;
                t.op = node.op;
                t.left = operand(*node.left, pattern, reader);
                t.right = operand(*node.right, pattern, reader);
            } else if constexpr (std::is_same_v<T, PropExpr> || std::is_same_v<T, Literal>) {
                t.left = operand(expr, pattern, reader);
            } else if constexpr (std::is_same_v<T, StrOpExpr>) {
                t.kind = Test::Kind::StrOp;
                t.str_op = node.kind;
                t.needle = lower_case(node.needle);
                t.left = operand(*node.operand, pattern, reader);
                if (t.left.constant.kind == Scalar::Kind::Str) t.constant_lowered = lower_case(t.left.constant.text);
            } else if constexpr (std::is_same_v<T, IsNullExpr>) {
                t.kind = Test::Kind::IsNull;
                t.want_null = node.want_null;
                t.left = operand(*node.operand, pattern, reader);
            } else if constexpr (std::is_same_v<T, InExpr>) {
                t.kind = Test::Kind::In;
                for (const Literal& literal : node.list) t.list.push_back(scalar_of(literal));
                t.left = operand(*node.operand, pattern, reader);
            } else if constexpr (std::is_same_v<T, RegexExpr>) {
                t.kind = Test::Kind::Regex;
                t.regex = node.regex.get();
                t.left = operand(*node.operand, pattern, reader);
            }
            return t;
        },
        expr.node);
}

Scalar Condition::value_of(const Operand& operand, PropertyReader& reader, Binding binding) const {
    return operand.is_property ? reader.read(binding[operand.position], operand.key) : operand.constant;
}

bool Condition::passes(const Test& test, PropertyReader& reader, Binding binding) const {
    const Scalar value = value_of(test.left, reader, binding);
    switch (test.kind) {
        case Test::Kind::Compare: return comparison_holds(test.op, value, value_of(test.right, reader, binding));
        case Test::Kind::Truthy: return is_truthy(value);
        case Test::Kind::IsNull: return value.is_null() == test.want_null;
        case Test::Kind::In:
            return std::any_of(test.list.begin(), test.list.end(),
                               [&](const Scalar& literal) { return inline_equal(value, literal); });
        case Test::Kind::Regex: return value.kind == Scalar::Kind::Str && test.regex->is_match(value.text);
        case Test::Kind::StrOp: break;
    }
    if (value.kind != Scalar::Kind::Str) return false;
    const std::string_view lowered =
        test.left.is_property ? reader.lowered(binding[test.left.position], test.left.key, value.text)
                              : std::string_view(test.constant_lowered);
    return string_op_holds(test.str_op, lowered, test.needle);
}

bool Condition::holds(PropertyReader& reader, Binding binding) const {
    bool result = false;
    for (std::size_t pc = 0; pc < steps_.size(); ++pc) {
        const Step& step = steps_[pc];
        switch (step.op) {
            case Step::Op::Test: result = passes(tests_[step.arg], reader, binding); break;
            case Step::Op::Negate: result = !result; break;
            case Step::Op::JumpIfFalse:
                if (!result) pc = step.arg - 1;
                break;
            case Step::Op::JumpIfTrue:
                if (result) pc = step.arg - 1;
                break;
        }
    }
    return result;
}

}  // namespace kuv::cypher
