#include "cypher/parser.hpp"

#include "core/debug_text.hpp"
#include "core/error.hpp"
#include "cypher/lexer.hpp"
#include "cypher/regex.hpp"
#include "cypher/value.hpp"


#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace kuv::cypher {
namespace {

using Kind = Token::Kind;

struct ParseFailure {
    std::string message;
};

[[noreturn]] void fail(std::string message) { throw ParseFailure{std::move(message)}; }

// ---- Parser -----------------------------------------------------------------------------------

bool is_keyword(const Token* token, std::string_view keyword) {
    if (token == nullptr || token->kind != Kind::Ident || token->text.size() != keyword.size()) return false;
    for (std::size_t i = 0; i < keyword.size(); ++i) {
        char c = token->text[i];
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c != keyword[i]) return false;
    }
    return true;
}

std::optional<bool> boolean_spelling(const Token& token) {
    if (token.kind != Kind::Ident) return std::nullopt;
    const std::string& t = token.text;
    if (t == "true" || t == "True" || t == "TRUE") return true;
    if (t == "false" || t == "False" || t == "FALSE") return false;
    return std::nullopt;
}

// A literal prints like the query value it stands for: Int(5), Float(1.5), Str("x"), Bool(true).
std::string debug_literal(const Literal& literal) {
    return debug_value(std::visit([](const auto& v) { return Value(v); }, literal.value));
}

std::optional<AggFunc> aggregate_named(const Token& name) {
    static constexpr std::pair<std::string_view, AggFunc> kAggregates[] = {
        {"count", AggFunc::Count}, {"min", AggFunc::Min}, {"max", AggFunc::Max},
        {"sum", AggFunc::Sum},     {"avg", AggFunc::Avg},
    };
    for (const auto& [keyword, func] : kAggregates) {
        if (is_keyword(&name, keyword)) return func;
    }
    return std::nullopt;
}

Expr binary(BinOp op, Expr&& left, Expr&& right) {
    return Expr{BinExpr{op, make_expr(std::move(left)), make_expr(std::move(right))}};
}

class Parser {
public:
    explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

    Query query() {
        if (!is_keyword(peek(), "match")) fail("query must start with MATCH");
        ++pos_;
        Query q;
        q.pattern = pattern();
        if (accept_keyword("where")) q.where_expr = expression();
        if (!accept_keyword("return")) fail("expected RETURN");
        q.distinct = accept_keyword("distinct");
        q.returns.push_back(return_item());
        while (accept(Kind::Comma)) q.returns.push_back(return_item());
        if (accept_keyword("order")) {
            if (!accept_keyword("by")) fail("expected BY after ORDER");
            q.order_by.push_back(order_item());
            while (accept(Kind::Comma)) q.order_by.push_back(order_item());
        }
        if (accept_keyword("skip")) q.skip = uint("SKIP");
        if (accept_keyword("limit")) q.limit = uint("LIMIT");
        return q;
    }

private:
    const Token* peek() const { return pos_ < tokens_.size() ? &tokens_[pos_] : nullptr; }

    const Token* next() {
        const Token* token = peek();
        ++pos_;
        return token;
    }

    bool peek_is(Kind kind) const { return peek() != nullptr && peek()->kind == kind; }

    bool accept(Kind kind) {
        if (!peek_is(kind)) return false;
        ++pos_;
        return true;
    }

    bool accept_keyword(std::string_view keyword) {
        if (!is_keyword(peek(), keyword)) return false;
        ++pos_;
        return true;
    }

    void expect(Kind kind) {
        const Token* token = next();
        if (token == nullptr || token->kind != kind) {
            fail("expected " + debug_token(Token{kind, {}, 0, 0}) + ", got " + debug_optional_token(token));
        }
    }

    std::string ident() {
        const Token* token = next();
        if (token == nullptr || token->kind != Kind::Ident) fail("expected identifier, got " + debug_optional_token(token));
        return token->text;
    }

    std::uint64_t uint(std::string_view clause) {
        const Token* token = next();
        if (token == nullptr || token->kind != Kind::Int) {
            fail(std::string(clause) + " expects a non-negative integer, got " + debug_optional_token(token));
        }
        return std::uint64_t(token->int_value);
    }

    Literal literal() {
        const Token* token = next();
        if (token == nullptr) fail("expected a literal value, got None");
        switch (token->kind) {
            case Kind::Int: return Literal{token->int_value};
            case Kind::Float: return Literal{token->float_value};
            case Kind::Str: return Literal{token->text};
            case Kind::Dash: return negative_number();
            case Kind::Ident:
                if (const auto b = boolean_spelling(*token)) return Literal{*b};
                fail("expected a literal value, got identifier " + debug_str(token->text));
            default: fail("expected a literal value, got " + debug_optional_token(token));
        }
    }

    Literal negative_number() {
        const Token* token = next();
        if (token != nullptr && token->kind == Kind::Int) return Literal{-token->int_value};
        if (token != nullptr && token->kind == Kind::Float) return Literal{-token->float_value};
        fail("expected number after '-', got " + debug_optional_token(token));
    }

    std::vector<Literal> list_literal() {
        expect(Kind::LBracket);
        std::vector<Literal> list;
        if (accept(Kind::RBracket)) return list;
        list.push_back(literal());
        while (accept(Kind::Comma)) list.push_back(literal());
        expect(Kind::RBracket);
        return list;
    }

    std::string str_operand() {
        Literal lit = literal();
        if (auto* text = std::get_if<std::string>(&lit.value)) return std::move(*text);
        fail("expected a string operand, got " + debug_literal(lit));
    }

    Pattern pattern() {
        Pattern p;
        p.nodes.push_back(node_pat());
        while (peek_is(Kind::Dash) || peek_is(Kind::ArrowLeft)) {
            p.rels.push_back(rel_pat());
            p.nodes.push_back(node_pat());
        }
        return p;
    }

    NodePat node_pat() {
        expect(Kind::LParen);
        NodePat node;
        if (peek_is(Kind::Ident)) node.var = next()->text;
        if (accept(Kind::Colon)) {
            const std::string label = ident();
            const auto kind = core::node_kind_from_label(label);
            if (!kind) fail("unknown node label :" + label);
            node.labels.push_back(*kind);
        }
        if (accept(Kind::LBrace)) {
            do {
                std::string key = ident();
                expect(Kind::Colon);
                node.props.emplace_back(std::move(key), literal());
            } while (accept(Kind::Comma));
            expect(Kind::RBrace);
        }
        expect(Kind::RParen);
        return node;
    }

    RelPat rel_pat() {
        RelPat rel;
        rel.direction = next()->kind == Kind::Dash ? Direction::Outgoing : Direction::Incoming;
        if (accept(Kind::LBracket)) {
            if (accept(Kind::Colon)) {
                do {
                    const std::string name = ident();
                    const auto type = core::rel_type_from_label(name);
                    if (!type) fail("unknown rel type :" + name);
                    rel.types.push_back(*type);
                } while (accept(Kind::Pipe));
            }
            expect(Kind::RBracket);
        }
        const Kind terminator = rel.direction == Direction::Outgoing ? Kind::ArrowRight : Kind::Dash;
        const Token* token = next();
        if (token == nullptr || token->kind != terminator) {
            fail("malformed relationship terminator: " + debug_optional_token(token));
        }
        return rel;
    }

    ReturnItem return_item() {
        const Token* name = next();
        if (name == nullptr || name->kind != Kind::Ident) fail("expected identifier, got " + debug_optional_token(name));
        ReturnItem item;
        const auto agg = aggregate_named(*name);
        if (agg && accept(Kind::LParen)) {
            item.agg = agg;
            if (*agg == AggFunc::Count && accept(Kind::Star)) {
                item.star = true;
            } else {
                item.var = ident();
                if (accept(Kind::Dot)) item.prop = ident();
            }
            expect(Kind::RParen);
        } else {
            item.var = name->text;
            if (accept(Kind::Dot)) item.prop = ident();
        }
        if (accept_keyword("as")) item.alias = ident();
        return item;
    }

    OrderItem order_item() {
        OrderItem item;
        item.var = ident();
        if (accept(Kind::Dot)) item.prop = ident();
        if (!accept_keyword("asc")) item.desc = accept_keyword("desc");
        return item;
    }

    // The expression grammar, loosest level first (OR and AND chains fold to the left):
    //   expr := and_expr {OR and_expr}    and_expr := not_expr {AND not_expr}
    //   not_expr := NOT not_expr | cmp_expr    cmp_expr := primary [comparison primary | postfix]
    //   primary := "(" expr ")" | leaf
    // It is parsed with an explicit stack of the levels still open instead of by recursion, so
    // neither deep nesting nor long chains deepen the call stack.
    enum class Level : std::uint8_t { Or, And, Not, Compare, Paren };

    struct OpenLevel {
        explicit OpenLevel(Level opened) : level(opened) {}
        Level level;
        BinOp op = BinOp::Eq;       // Compare: the comparison read after the left operand
        std::optional<Expr> left;  // Or, And: the chain so far; Compare: the left operand
    };

    Expr expression() {
        std::vector<OpenLevel> open;
        open_levels(open, Level::Or);
        while (true) {
            std::optional<Expr> value = non_nested_primary();
            // Hands the finished operand up until a level wants another one.
            while (value) {
                if (open.empty()) return std::move(*value);
                value = close_or_continue(open, std::move(*value));
            }
        }
    }

    // Opens the levels from `from` down to a primary, and one more run of them per "(".
    void open_levels(std::vector<OpenLevel>& open, Level from) {
        while (true) {
            switch (from) {
                case Level::Or: open.emplace_back(Level::Or); [[fallthrough]];
                case Level::And: open.emplace_back(Level::And); [[fallthrough]];
                case Level::Not:
                    while (accept_keyword("not")) open.emplace_back(Level::Not);
                    open.emplace_back(Level::Compare);
                    break;
                default: break;
            }
            if (!accept(Kind::LParen)) return;
            open.emplace_back(Level::Paren);
            from = Level::Or;
        }
    }

    // Gives `value` to the innermost open level. Returns what that level hands further up, or
    // nothing when it has opened the levels of its next operand.
    std::optional<Expr> close_or_continue(std::vector<OpenLevel>& open, Expr&& value) {
        OpenLevel& top = open.back();
        switch (top.level) {
            case Level::Paren: expect(Kind::RParen); break;
            case Level::Not: value = Expr{NotExpr{make_expr(std::move(value))}}; break;
            case Level::Compare:
                if (top.left) {
                    value = binary(top.op, std::move(*top.left), std::move(value));
                    break;
                }
                if (const auto op = comparison_op(peek())) {
                    ++pos_;
                    top.op = *op;
                    top.left = std::move(value);
                    open_levels(open, Level::Compare);
                    return std::nullopt;
                }
                value = postfix_operator(std::move(value));
                break;
            case Level::And:
            case Level::Or: {
                const bool is_and = top.level == Level::And;
                if (top.left) value = binary(is_and ? BinOp::And : BinOp::Or, std::move(*top.left), std::move(value));
                if (accept_keyword(is_and ? "and" : "or")) {
                    top.left = std::move(value);
                    open_levels(open, is_and ? Level::Not : Level::And);
                    return std::nullopt;
                }
                break;
            }
        }
        open.pop_back();
        return std::move(value);
    }

    static std::optional<BinOp> comparison_op(const Token* token) {
        if (token == nullptr) return std::nullopt;
        switch (token->kind) {
            case Kind::Eq: return BinOp::Eq;
            case Kind::Ne: return BinOp::Ne;
            case Kind::Lt: return BinOp::Lt;
            case Kind::Le: return BinOp::Le;
            case Kind::Gt: return BinOp::Gt;
            case Kind::Ge: return BinOp::Ge;
            default: return std::nullopt;
        }
    }

    // The operators after a primary other than the comparisons; none of them reads an expression.
    Expr postfix_operator(Expr&& operand) {
        if (peek_is(Kind::RegexMatch)) {
            ++pos_;
            auto compiled = Regex::compile(str_operand());
            if (auto* message = std::get_if<std::string>(&compiled)) fail("invalid regex in =~ : " + *message);
            auto regex = std::make_shared<const Regex>(std::move(std::get<Regex>(compiled)));
            return Expr{RegexExpr{make_expr(std::move(operand)), std::move(regex)}};
        }
        if (accept_keyword("is")) {
            const bool want_null = !accept_keyword("not");
            if (!accept_keyword("null")) fail("expected NULL after IS [NOT]");
            return Expr{IsNullExpr{make_expr(std::move(operand)), want_null}};
        }
        if (accept_keyword("in")) {
            auto list = list_literal();
            return Expr{InExpr{make_expr(std::move(operand)), std::move(list)}};
        }
        if (accept_keyword("starts")) return string_op(std::move(operand), StrOpKind::StartsWith, "STARTS");
        if (accept_keyword("ends")) return string_op(std::move(operand), StrOpKind::EndsWith, "ENDS");
        if (accept_keyword("contains")) return string_op(std::move(operand), StrOpKind::Contains, "");
        return operand;
    }

    // STARTS WITH, ENDS WITH (keyword_before_with names the first word) and CONTAINS (empty).
    Expr string_op(Expr&& operand, StrOpKind kind, std::string_view keyword_before_with) {
        if (!keyword_before_with.empty() && !accept_keyword("with")) {
            fail("expected WITH after " + std::string(keyword_before_with));
        }
        std::string needle = str_operand();
        return Expr{StrOpExpr{make_expr(std::move(operand)), kind, std::move(needle)}};
    }

    Expr non_nested_primary() {
        const Token* token = next();
        if (token == nullptr) fail("unexpected token in expression: None");
        switch (token->kind) {
            case Kind::Ident: {
                if (const auto b = boolean_spelling(*token)) return Expr{Literal{*b}};
                PropExpr prop{token->text, {}};
                expect(Kind::Dot);
                prop.prop = ident();
                return Expr{std::move(prop)};
            }
            case Kind::Int: return Expr{Literal{token->int_value}};
            case Kind::Float: return Expr{Literal{token->float_value}};
            case Kind::Str: return Expr{Literal{token->text}};
            default: fail("unexpected token in expression: " + debug_optional_token(token));
        }
    }

    std::vector<Token> tokens_;
    std::size_t pos_ = 0;
};

}  // namespace

std::variant<Query, std::string> parse(std::string_view query) {
    std::vector<Token> tokens;
    if (auto message = tokenize(query, tokens)) return std::move(*message);
    try {
        return Parser(std::move(tokens)).query();
    } catch (const ParseFailure& failure) {
        return failure.message;
    }
}

}  // namespace kuv::cypher
