#include "cypher/ast.hpp"

namespace kuv::cypher {
namespace {

// The left operand of an AND, OR or comparison; nullptr for every other kind.
ExprPtr* first_child(Expr& expr) {
    auto* binary = std::get_if<BinExpr>(&expr.node);
    return binary ? &binary->left : nullptr;
}

// The right operand of a binary expression or the operand of a unary one; nullptr for leaves.
ExprPtr* last_child(Expr& expr) {
    return std::visit(
        [](auto& node) -> ExprPtr* {
            using T = std::decay_t<decltype(node)>;
            if constexpr (std::is_same_v<T, BinExpr>) {
                return &node.right;
            } else if constexpr (std::is_same_v<T, PropExpr> || std::is_same_v<T, Literal>) {
                return nullptr;
            } else {
                return &node.operand;
            }
        },
        expr.node);
}

}  // namespace

ExprPtr make_expr(Expr&& expr) { return ExprPtr(std::make_unique<Expr>(std::move(expr)).release()); }

// Rotates every left operand up until the node in hand has none, then frees that node and goes
// on with its last child: every node is freed with empty child slots, so no destructor recurses
// and no memory is needed on the way.
void ExprDeleter::operator()(Expr* expr) const noexcept {
    std::unique_ptr<Expr> node(expr);
    while (node) {
        ExprPtr* first = first_child(*node);
        if (first != nullptr && *first) {
            std::unique_ptr<Expr> child(first->release());
            ExprPtr* child_last = last_child(*child);
            if (child_last == nullptr) continue;  // a leaf: freeing it frees nothing else
            *first = std::move(*child_last);
            child_last->reset(node.release());
            node = std::move(child);
            continue;
        }
        ExprPtr* last = last_child(*node);
        node.reset(last != nullptr ? last->release() : nullptr);
    }
}

}  // namespace kuv::cypher
