#pragma once
// A WHERE expression compiled into a flat program: each comparison or string test is one step,
// AND and OR become jumps that skip what short-circuiting leaves unevaluated, NOT a negation of
// the running result. Compiling and running need no recursion, so neither nesting nor chain
// length deepens the stack.
#include "cypher/ast.hpp"
#include "cypher/matcher.hpp"
#include "cypher/property_reader.hpp"
#include "cypher/regex.hpp"
#include "cypher/scalar.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace kuv::cypher {

class Condition {
public:
    Condition(const Expr& expr, const Pattern& pattern, const PropertyReader& reader);

    bool holds(PropertyReader& reader, Binding binding) const;

private:
    // A side of a test: a property of a bound node, or a constant (a literal, or Null for a
    // variable that no node pattern carries and for any expression that is not a value).
    struct Operand {
        bool is_property = false;
        std::uint32_t position = 0;
        PropKey key;
        Scalar constant;
    };

    struct Test {
        enum class Kind : std::uint8_t { Compare, Truthy, StrOp, IsNull, In, Regex };
        Kind kind = Kind::Truthy;
        BinOp op = BinOp::Eq;
        StrOpKind str_op = StrOpKind::Contains;
        bool want_null = false;
        Operand left;
        Operand right;
        std::vector<Scalar> list;
        std::string needle;             // StrOp: lower case
        std::string constant_lowered;   // StrOp on a constant string: its lower case
        const Regex* regex = nullptr;
    };

    struct Step {
        enum class Op : std::uint8_t { Test, JumpIfFalse, JumpIfTrue, Negate };
        Op op;
        std::uint32_t arg = 0;  // Test: index into tests_; jumps: the step to go on at
    };

    Operand operand(const Expr& expr, const Pattern& pattern, const PropertyReader& reader) const;
    Test test(const Expr& expr, const Pattern& pattern, const PropertyReader& reader) const;
    Scalar value_of(const Operand& operand, PropertyReader& reader, Binding binding) const;
    bool passes(const Test& test, PropertyReader& reader, Binding binding) const;

    std::vector<Test> tests_;
    std::vector<Step> steps_;
};

}  // namespace kuv::cypher
