#include "cypher/lexer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kuv::cypher {
namespace {

// The printed tokens joined by ", ", or "error: " and the message.
std::string lex(std::string_view query) {
    std::vector<Token> tokens;
    if (auto message = tokenize(query, tokens)) return "error: " + *message;
    std::string out;
    for (const Token& token : tokens) {
        if (!out.empty()) out += ", ";
        out += debug_token(token);
    }
    return out;
}

struct Case {
    std::string query;
    std::string expected;
};

void run_cases(const std::vector<Case>& cases) {
    for (const auto& c : cases) EXPECT_EQ(lex(c.query), c.expected) << "query: " << c.query;
}

TEST(Lexer, PunctuationAndOperators) {
    run_cases({
        {"()[]{}:,.|*", "LParen, RParen, LBracket, RBracket, LBrace, RBrace, Colon, Comma, Dot, Pipe, Star"},
        {"-> <- - = != <> < <= > >= =~", "ArrowRight, ArrowLeft, Dash, Eq, Ne, Ne, Lt, Le, Gt, Ge, RegexMatch"},
        {"==", "Eq, Eq"},
        {"-", "Dash"},
        {"<", "Lt"},
        {">", "Gt"},
        {"=", "Eq"},
        {"-5", "Dash, Int(5)"},
        {"a<-1", "Ident(\"a\"), ArrowLeft, Int(1)"},
        {"x>=-1", "Ident(\"x\"), Ge, Dash, Int(1)"},
        {"-->", "Dash, ArrowRight"},
        {"<--", "ArrowLeft, Dash"},
    });
}

TEST(Lexer, WhitespaceIsTheUnicodeSet) {
    run_cases({
        {"", ""},
        {" \t\n\r\v\f", ""},
        {"a\u3000b", "Ident(\"a\"), Ident(\"b\")"},
        {"a\u00a0\u0085\u2028\u202f\u205f\u1680b", "Ident(\"a\"), Ident(\"b\")"},
        // Zero-width space is not White_Space.
        {"a\u200bb", "error: unexpected char '\\u{200b}' at 1"},
    });
}

TEST(Lexer, Identifiers) {
    run_cases({
        {"MATCH (n:Product)", "Ident(\"MATCH\"), LParen, Ident(\"n\"), Colon, Ident(\"Product\"), RParen"},
        {"n.price", "Ident(\"n\"), Dot, Ident(\"price\")"},
        {"_a1_", "Ident(\"_a1_\")"},
        {"caf\u00e9", "Ident(\"caf\u00e9\")"},
        {"x\u00b2", "Ident(\"x\u00b2\")"},
        {"\u0436\u0443\u043a", "Ident(\"\u0436\u0443\u043a\")"},
        {"a\u0663", "Ident(\"a\u0663\")"},       // Arabic-Indic digit (Nd) continues
        {"\u2165x", "Ident(\"\u2165x\")"},       // Roman numeral six is Alphabetic (Nl)
        {"1a", "Int(1), Ident(\"a\")"},
        {"`a b`", "Ident(\"a b\")"},
        {"`MATCH`", "Ident(\"MATCH\")"},
        {"`it's \"x\"`", "Ident(\"it's \\\"x\\\"\")"},
        {"\u00b2", "error: unexpected char '\u00b2' at 0"},  // Numeric cannot start a name
    });
}

TEST(Lexer, Strings) {
    run_cases({
        {"'it''s'", "Str(\"it\"), Str(\"s\")"},
        {"\"a'b\"", "Str(\"a'b\")"},
        {"'a\"b'", "Str(\"a\\\"b\")"},
        {"''", "Str(\"\")"},
        {"'a\\'", "Str(\"a\\\\\")"},
        {"'line\nbreak\t'", "Str(\"line\\nbreak\\t\")"},
        {"'\u00e9\u0301'", "Str(\"\u00e9\\u{301}\")"},
        {"'abc", "error: unterminated string at 0"},
        {"x = '", "error: unterminated string at 4"},
        {"'a\\' 'b", "error: unterminated string at 5"},
        {"\"abc'", "error: unterminated string at 0"},
    });
}

TEST(Lexer, BacktickErrors) {
    run_cases({
        {"``", "error: empty backtick identifier at 0"},
        {"MATCH `x", "error: unterminated backtick identifier at 6"},
        {"a ``b", "error: empty backtick identifier at 2"},
    });
}

TEST(Lexer, Numbers) {
    run_cases({
        {"1.2.3", "Float(1.2), Dot, Int(3)"},
        {"3.", "Float(3.0)"},
        {"007", "Int(7)"},
        {"0", "Int(0)"},
        {"1.5", "Float(1.5)"},
        {"0.1", "Float(0.1)"},
        {"10000000000000000.0", "Float(1e16)"},
        {"0.000015", "Float(1.5e-5)"},
        {"9223372036854775807", "Int(9223372036854775807)"},
        {"9223372036854775808", "error: bad int"},
        {"99999999999999999999999", "error: bad int"},
        {"1" + std::string(400, '0') + ".5", "Float(inf)"},
        {"0." + std::string(400, '0') + "1", "Float(0.0)"},
        {".5", "Dot, Int(5)"},
        {"1e5", "Int(1), Ident(\"e5\")"},
        {"1..2", "Float(1.0), Dot, Int(2)"},
    });
}

TEST(Lexer, UnexpectedCharacters) {
    run_cases({
        {"a $b", "error: unexpected char '$' at 2"},
        {"!", "error: unexpected char '!' at 0"},
        {"~", "error: unexpected char '~' at 0"},
        {"\u00e9 $", "error: unexpected char '$' at 3"},
        {"a\\", "error: unexpected char '\\\\' at 1"},
        {"#", "error: unexpected char '#' at 0"},
        {"a + b", "error: unexpected char '+' at 2"},
        {";", "error: unexpected char ';' at 0"},
        {"x\x01", "error: unexpected char '\\u{1}' at 1"},
        {std::string("a\0", 2), "error: unexpected char '\\0' at 1"},
        {"\xff", "error: unexpected char '\ufffd' at 0"},
        {"a\xe9z", "error: unexpected char '\ufffd' at 1"},
        // The first error ends tokenising, whatever follows.
        {"'ok' $ ``", "error: unexpected char '$' at 5"},
    });
}

TEST(Lexer, ErrorLeavesOutputUntouched) {
    std::vector<Token> tokens;
    ASSERT_FALSE(tokenize("a b", tokens).has_value());
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokenize("c $", tokens), "unexpected char '$' at 2");
    EXPECT_EQ(tokens.size(), 2u);
}

TEST(Lexer, OptionalTokenForms) {
    Token rparen{Token::Kind::RParen, {}, 0, 0};
    Token ident{Token::Kind::Ident, "x", 0, 0};
    Token negative{Token::Kind::Int, {}, -3, 0};
    EXPECT_EQ(debug_optional_token(nullptr), "None");
    EXPECT_EQ(debug_optional_token(&rparen), "Some(RParen)");
    EXPECT_EQ(debug_optional_token(&ident), "Some(Ident(\"x\"))");
    EXPECT_EQ(debug_token(negative), "Int(-3)");
}

TEST(Lexer, LongInputsAreIterative) {
    const std::string query(200000, '(');
    std::vector<Token> tokens;
    ASSERT_FALSE(tokenize(query, tokens).has_value());
    EXPECT_EQ(tokens.size(), query.size());
}

}  // namespace
}  // namespace kuv::cypher
