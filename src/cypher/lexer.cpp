#include "cypher/lexer.hpp"

#include "core/debug_text.hpp"
#include "core/white_space.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <charconv>
#include <limits>
#include <system_error>

namespace kuv::cypher {
namespace {

using Kind = Token::Kind;

struct LexFailure {
    std::string message;
};

Token make_token(Kind kind) { return Token{kind, {}, 0, 0}; }

Token make_text_token(Kind kind, std::string_view text) {
    Token token = make_token(kind);
    token.text = std::string(text);
    return token;
}

bool is_ascii_digit(char32_t c) { return c >= '0' && c <= '9'; }
bool is_ascii_letter(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool is_alphabetic(char32_t c) { return u_hasBinaryProperty(UChar32(c), UCHAR_ALPHABETIC) != 0; }

bool is_numeric(char32_t c) {
    const auto type = u_charType(UChar32(c));
    return type == U_DECIMAL_DIGIT_NUMBER || type == U_LETTER_NUMBER || type == U_OTHER_NUMBER;
}

bool is_ident_start(char32_t c) {
    return is_ascii_letter(c) || c == '_' || (c >= 0x80 && is_alphabetic(c));
}

bool is_ident_continue(char32_t c) {
    if (c < 0x80) return is_ascii_letter(c) || is_ascii_digit(c) || c == '_';
    return is_alphabetic(c) || is_numeric(c);
}

// Reads an ASCII-digit run holding at most one "." as Int or Float.
Token number_token(std::string_view digits) {
    const char* first = digits.data();
    const char* last = first + digits.size();
    if (digits.find('.') == std::string_view::npos) {
        std::int64_t value = 0;
        if (std::from_chars(first, last, value).ec != std::errc{}) throw LexFailure{"bad int"};
        Token token = make_token(Kind::Int);
        token.int_value = value;
        return token;
    }
    double value = 0;
    if (std::from_chars(first, last, value, std::chars_format::fixed).ec == std::errc::result_out_of_range) {
        // Without a sign or exponent, out of range means too large when the whole part holds a
        // non-zero digit, and too small (rounding to zero) otherwise.
        const auto whole = digits.substr(0, digits.find('.'));
        const bool large = whole.find_first_not_of('0') != std::string_view::npos;
        value = large ? std::numeric_limits<double>::infinity() : 0.0;
    }
    Token token = make_token(Kind::Float);
    token.float_value = value;
    return token;
}

class Lexer {
public:
    explicit Lexer(std::string_view text) : text_(text) {}

    std::vector<Token> run() {
        std::vector<Token> tokens;
        while (pos_ < text_.size()) {
            const auto [c, length] = decode_at(pos_);
            if (is_white_space(c)) {
                pos_ += length;
            } else {
                tokens.push_back(read_token(c, length));
            }
        }
        return tokens;
    }

private:
    struct Decoded {
        char32_t c;
        std::size_t length;
    };

    // A byte that starts no valid UTF-8 sequence reads as U+FFFD, which no token accepts.
    Decoded decode_at(std::size_t pos) const {
        std::int64_t index = std::int64_t(pos);
        UChar32 c = 0;
        U8_NEXT(text_.data(), index, std::int64_t(text_.size()), c);
        const auto length = std::size_t(index) - pos;
        return c < 0 ? Decoded{0xFFFD, length} : Decoded{char32_t(c), length};
    }

    bool next_byte_is(char byte) const { return pos_ + 1 < text_.size() && text_[pos_ + 1] == byte; }

    Token one_or_two(Kind one, char second, Kind two) {
        const bool pair = next_byte_is(second);
        pos_ += pair ? 2 : 1;
        return make_token(pair ? two : one);
    }

    Token single(Kind kind) {
        ++pos_;
        return make_token(kind);
    }

    [[noreturn]] void unexpected_char(char32_t c) const {
        throw LexFailure{"unexpected char " + debug_char(c) + " at " + std::to_string(pos_)};
    }

    Token read_token(char32_t c, std::size_t length) {
        switch (c) {
            case '(': return single(Kind::LParen);
            case ')': return single(Kind::RParen);
            case '[': return single(Kind::LBracket);
            case ']': return single(Kind::RBracket);
            case '{': return single(Kind::LBrace);
            case '}': return single(Kind::RBrace);
            case ':': return single(Kind::Colon);
            case ',': return single(Kind::Comma);
            case '.': return single(Kind::Dot);
            case '|': return single(Kind::Pipe);
            case '*': return single(Kind::Star);
            case '-': return one_or_two(Kind::Dash, '>', Kind::ArrowRight);
            case '=': return one_or_two(Kind::Eq, '~', Kind::RegexMatch);
            case '>': return one_or_two(Kind::Gt, '=', Kind::Ge);
            case '<': return less_than_family();
            case '!':
                if (!next_byte_is('=')) unexpected_char(c);
                pos_ += 2;
                return make_token(Kind::Ne);
            case '\'':
            case '"': return quoted(Kind::Str, "unterminated string at ");
            case '`': return backtick_identifier();
            default: break;
        }
        if (is_ascii_digit(c)) return number();
        if (is_ident_start(c)) return identifier(length);
        unexpected_char(c);
    }

    Token less_than_family() {
        const char after = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';
        switch (after) {
            case '-': pos_ += 2; return make_token(Kind::ArrowLeft);
            case '=': pos_ += 2; return make_token(Kind::Le);
            case '>': pos_ += 2; return make_token(Kind::Ne);
            default: return single(Kind::Lt);
        }
    }

    // The text up to the next byte equal to the opening one, taken as it is.
    Token quoted(Kind kind, std::string_view unterminated_message) {
        const std::size_t open = pos_;
        const std::size_t close = text_.find(text_[open], open + 1);
        if (close == std::string_view::npos) throw LexFailure{std::string(unterminated_message) + std::to_string(open)};
        pos_ = close + 1;
        return make_text_token(kind, text_.substr(open + 1, close - open - 1));
    }

    Token backtick_identifier() {
        if (next_byte_is('`')) throw LexFailure{"empty backtick identifier at " + std::to_string(pos_)};
        return quoted(Kind::Ident, "unterminated backtick identifier at ");
    }

    Token number() {
        const std::size_t start = pos_;
        bool seen_dot = false;
        while (pos_ < text_.size()) {
            const char byte = text_[pos_];
            if (byte == '.' && !seen_dot) {
                seen_dot = true;
            } else if (!is_ascii_digit(char32_t(byte))) {
                break;
            }
            ++pos_;
        }
        return number_token(text_.substr(start, pos_ - start));
    }

    Token identifier(std::size_t first_length) {
        const std::size_t start = pos_;
        pos_ += first_length;
        while (pos_ < text_.size()) {
            const auto [c, length] = decode_at(pos_);
            if (!is_ident_continue(c)) break;
            pos_ += length;
        }
        return make_text_token(Kind::Ident, text_.substr(start, pos_ - start));
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

std::string_view kind_name(Kind kind) {
    switch (kind) {
        case Kind::LParen: return "LParen";
        case Kind::RParen: return "RParen";
        case Kind::LBracket: return "LBracket";
        case Kind::RBracket: return "RBracket";
        case Kind::LBrace: return "LBrace";
        case Kind::RBrace: return "RBrace";
        case Kind::Colon: return "Colon";
        case Kind::Comma: return "Comma";
        case Kind::Dot: return "Dot";
        case Kind::Pipe: return "Pipe";
        case Kind::Star: return "Star";
        case Kind::ArrowRight: return "ArrowRight";
        case Kind::ArrowLeft: return "ArrowLeft";
        case Kind::Dash: return "Dash";
        case Kind::Eq: return "Eq";
        case Kind::Ne: return "Ne";
        case Kind::Lt: return "Lt";
        case Kind::Le: return "Le";
        case Kind::Gt: return "Gt";
        case Kind::Ge: return "Ge";
        case Kind::RegexMatch: return "RegexMatch";
        case Kind::Ident: return "Ident";
        case Kind::Int: return "Int";
        case Kind::Float: return "Float";
        case Kind::Str: return "Str";
    }
    return "?";
}

}  // namespace

std::optional<std::string> tokenize(std::string_view query, std::vector<Token>& out) {
    try {
        out = Lexer(query).run();
        return std::nullopt;
    } catch (const LexFailure& failure) {
        return failure.message;
    }
}

std::string debug_token(const Token& token) {
    std::string out(kind_name(token.kind));
    switch (token.kind) {
        case Kind::Ident:
        case Kind::Str: out += '(' + debug_str(token.text) + ')'; break;
        case Kind::Int: out += '(' + std::to_string(token.int_value) + ')'; break;
        case Kind::Float: out += '(' + debug_f64(token.float_value) + ')'; break;
        default: break;
    }
    return out;
}

std::string debug_optional_token(const Token* token) {
    return token == nullptr ? std::string("None") : "Some(" + debug_token(*token) + ")";
}

}  // namespace kuv::cypher
