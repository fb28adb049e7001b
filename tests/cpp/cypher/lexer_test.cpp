#include "cypher/lexer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace kuv::cypher {
namespace {

// The printed tokens joined by ", ", or "error: " and the message.
std::string lex(std::string_view query) {
    std::vector<Token> tokens;
    if (auto message = tokenize(query, tokens)) return "error: " + *message;
    std::string out;
    for (const Token& token : tokens) out += (out.empty() ? "" : ", ") + debug_token(token);
    return out;
}

TEST(Lexer, TokensAndErrors) {
    const std::pair<std::string, std::string> cases[] = {
        {"()[]{}:,.|*", "LParen, RParen, LBracket, RBracket, LBrace, RBrace, Colon, Comma, Dot, Pipe, Star"},
        {"-> <- - = != <> < <= > >= =~", "ArrowRight, ArrowLeft, Dash, Eq, Ne, Ne, Lt, Le, Gt, Ge, RegexMatch"},
        {"== -5 a<-1 x>=-1 --> <--", "Eq, Eq, Dash, Int(5), Ident(\"a\"), ArrowLeft, Int(1), Ident(\"x\"), Ge, Dash, "
                                     "Int(1), Dash, ArrowRight, ArrowLeft, Dash"},
        {"-", "Dash"},
        {" \t\n\r\v\f", ""},
        {"a\u3000\u00a0\u0085\u2028\u202f\u205f\u1680b", "Ident(\"a\"), Ident(\"b\")"},
        {"MATCH (n:Product) _a1_", "Ident(\"MATCH\"), LParen, Ident(\"n\"), Colon, Ident(\"Product\"), RParen, Ident(\"_a1_\")"},
        // Alphabetic starts a name (Roman numeral six is Nl); any Numeric continues one.
        {"caf\u00e9 x\u00b2 \u0436\u0443\u043a a\u0663 \u2165x 1a",
         "Ident(\"caf\u00e9\"), Ident(\"x\u00b2\"), Ident(\"\u0436\u0443\u043a\"), Ident(\"a\u0663\"), "
         "Ident(\"\u2165x\"), Int(1), Ident(\"a\")"},
        {"`a b` `MATCH` `it's \"x\"`", "Ident(\"a b\"), Ident(\"MATCH\"), Ident(\"it's \\\"x\\\"\")"},
        {"'it''s'", "Str(\"it\"), Str(\"s\")"},
        {"\"a'b\" 'a\"b' '' 'a\\'", "Str(\"a'b\"), Str(\"a\\\"b\"), Str(\"\"), Str(\"a\\\\\")"},
        {"'line\nbreak\t\u00e9\u0301'", "Str(\"line\\nbreak\\t\u00e9\\u{301}\")"},
        {"1.2.3 3. 007 0.1", "Float(1.2), Dot, Int(3), Float(3.0), Int(7), Float(0.1)"},
        {"9223372036854775807", "Int(9223372036854775807)"},
        {"1" + std::string(400, '0') + ".5 0." + std::string(400, '0') + "1", "Float(inf), Float(0.0)"},
        {".5 1e5 1..2", "Dot, Int(5), Int(1), Ident(\"e5\"), Float(1.0), Dot, Int(2)"},
        {"a\u200bb", "error: unexpected char '\\u{200b}' at 1"},  // zero-width space is not White_Space
        {"\u00b2", "error: unexpected char '\u00b2' at 0"},       // Numeric cannot start a name
        {"\u00e9 $", "error: unexpected char '$' at 3"},
        {"a\\", "error: unexpected char '\\\\' at 1"},
        {std::string("a\0", 2), "error: unexpected char '\\0' at 1"},
        {"a\xe9z", "error: unexpected char '\ufffd' at 1"},
        {"'ok' $ ``", "error: unexpected char '$' at 5"},
        {"\"abc'", "error: unterminated string at 0"},
        {"a ``b", "error: empty backtick identifier at 2"},
        {"MATCH `x", "error: unterminated backtick identifier at 6"},
        {"9223372036854775808", "error: bad int"},
    };
    for (const auto& [query, expected] : cases) EXPECT_EQ(lex(query), expected) << "query: " << query;
}

}  // namespace
}  // namespace kuv::cypher
