#pragma once
// The query tokeniser. It knows no keywords: MATCH, WHERE, true... are identifiers.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kuv::cypher {

struct Token {
    enum class Kind : std::uint8_t {
        LParen, RParen, LBracket, RBracket, LBrace, RBrace, Colon, Comma, Dot, Pipe, Star,
        ArrowRight, ArrowLeft, Dash, Eq, Ne, Lt, Le, Gt, Ge, RegexMatch, Ident, Int, Float, Str,
    };
    Kind kind;
    std::string text;        // Ident and Str payload
    std::int64_t int_value = 0;
    double float_value = 0;

    friend bool operator==(const Token&, const Token&) = default;
};

// Fills `out` or returns the error message (the first error ends tokenising).
std::optional<std::string> tokenize(std::string_view query, std::vector<Token>& out);

// Printed (debug) forms: LParen, Ident("x"), Int(42), Float(1.5)...; optional: None / Some(...).
std::string debug_token(const Token& token);
std::string debug_optional_token(const Token* token);

}  // namespace kuv::cypher
