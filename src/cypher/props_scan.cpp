#include "cypher/props_scan.hpp"

#include "core/json.hpp"
#include "core/utf8.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kuv::cypher {
namespace {

// The JSON layer's limit: the 128th nested container fails.
constexpr int kMaxNesting = 127;
// A number with no exponent and at most this many integer digits is below 1e308, so it is always
// within the double range; any other number is judged by the JSON layer itself.
constexpr std::ptrdiff_t kAlwaysFiniteDigits = 308;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Compact texts have no white space: the first test settles most calls.
const char* skip_space(const char* p, const char* end) {
    while (p != end && static_cast<unsigned char>(*p) <= ' ' && is_space(*p)) ++p;
    return p;
}

bool is_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The four hex digits at p as a code unit, or -1.
int hex4(const char* p, const char* end) {
    if (end - p < 4 || !is_hex(p[0]) || !is_hex(p[1]) || !is_hex(p[2]) || !is_hex(p[3])) return -1;
    int value = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = p[i];
        value = value * 16 + (is_digit(c) ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return value;
}

// After a backslash: the end of a valid escape (a surrogate pair counts as one), or nullptr.
const char* escape_end(const char* p, const char* end) {
    if (p == end) return nullptr;
    switch (*p) {
        case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't': return p + 1;
        case 'u': break;
        default: return nullptr;
    }
    const int unit = hex4(p + 1, end);
    if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) return nullptr;
    if (unit < 0xD800 || unit > 0xDBFF) return p + 5;
    p += 5;
    if (end - p < 2 || p[0] != '\\' || p[1] != 'u') return nullptr;
    const int low = hex4(p + 2, end);
    return low >= 0xDC00 && low <= 0xDFFF ? p + 6 : nullptr;
}

bool is_string_special(char c) {
    return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
}

// The text being scanned, and what the scan has seen in it so far.
struct Text {
    const char* end;
    bool above_ascii = false;  // some byte may be above 0x7F: UTF-8 must be checked at the end
};

// From just after an opening quote: the position after the closing quote, or nullptr when the
// string is unterminated or holds a control character or a bad escape.
const char* string_end(const char* p, Text& text, bool& escaped) {
    while (true) {
#if defined(__SSE2__)
        const __m128i quote = _mm_set1_epi8('"');
        const __m128i backslash = _mm_set1_epi8('\\');
        const __m128i control_max = _mm_set1_epi8(0x1F);
        while (text.end - p >= 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(bytes, control_max), control_max);
            const __m128i special =
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)), control);
            // Bytes past the string's end may be counted too; they are part of the same text.
            text.above_ascii |= _mm_movemask_epi8(bytes) != 0;
            const int mask = _mm_movemask_epi8(special);
            if (mask != 0) {
                p += std::countr_zero(static_cast<unsigned>(mask));
                break;
            }
            p += 16;
        }
#endif
        while (p != text.end && !is_string_special(*p)) {
            text.above_ascii |= static_cast<unsigned char>(*p) >= 0x80;
            ++p;
        }
        if (p == text.end) return nullptr;
        if (*p == '"') return p + 1;
        if (*p != '\\') return nullptr;  // a control character
        escaped = true;
        p = escape_end(p + 1, text.end);
        if (p == nullptr) return nullptr;
    }
}

const char* digits_end(const char* p, const char* end) {
    while (p != end && is_digit(*p)) ++p;
    return p;
}

// The end of the number token at p (a "-" or a digit), or nullptr when it breaks the grammar or
// lies outside the double range.
const char* number_end(const char* p, const char* end) {
    const char* start = p;
    if (*p == '-') ++p;
    const char* integer = p;
    p = digits_end(p, end);
    if (p == integer || (p - integer > 1 && *integer == '0')) return nullptr;
    bool check_range = p - integer > kAlwaysFiniteDigits;
    if (p != end && *p == '.') {
        const char* fraction = p + 1;
        p = digits_end(fraction, end);
        if (p == fraction) return nullptr;
    }
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p != end && (*p == '+' || *p == '-')) ++p;
        const char* exponent = p;
        p = digits_end(p, end);
        if (p == exponent) return nullptr;
        check_range = true;
    }
    if (check_range && !parse_json(std::string_view(start, std::size_t(p - start)))) return nullptr;
    return p;
}

const char* word_end(const char* p, const char* end, std::string_view word) {
    if (std::size_t(end - p) < word.size() || std::memcmp(p, word.data(), word.size()) != 0) return nullptr;
    return p + word.size();
}

// Open containers, innermost last: one bit per level, set for an array.
class Nesting {
public:
    int depth() const { return depth_; }
    bool in_array() const { return (bits_[(depth_ - 1) >> 6] >> ((depth_ - 1) & 63)) & 1; }

    bool open(bool is_array) {
        if (depth_ == kMaxNesting) return false;
        const std::uint64_t bit = std::uint64_t(1) << (depth_ & 63);
        auto& word = bits_[depth_ >> 6];
        word = is_array ? word | bit : word & ~bit;
        ++depth_;
        return true;
    }
    void close() { --depth_; }

private:
    std::uint64_t bits_[2] = {0, 0};
    int depth_ = 0;
};

}  // namespace

PropsScanner::PropsScanner(std::vector<std::string> names) : names_(std::move(names)) {
    for (const std::string& name : names_) name_lengths_ |= std::uint64_t(1) << std::min<std::size_t>(name.size(), 63);
}

int PropsScanner::index_of(std::string_view name) const {
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (names_[i] == name) return int(i);
    }
    return -1;
}

// A member name written with escapes is compared once decoded.
int PropsScanner::index_of_escaped(std::string_view token) const {
    const std::optional<Json> decoded = parse_json(token);
    return decoded && decoded->is_string() ? index_of(decoded->get_ref<const std::string&>()) : -1;
}

bool PropsScanner::scan(std::string_view source, std::span<MemberToken> found) const {
    std::fill(found.begin(), found.end(), MemberToken{});
    Text text{source.data() + source.size()};
    const char* p = skip_space(source.data(), text.end);
    if (p == text.end || *p != '{') return false;  // not an object, whether valid or not
    Nesting nesting;
    int picked = -1;  // the name index whose member value comes next, at the top level only

    // The grammar as a state machine: each label is where the scan stands.
open_container:
    if (!nesting.open(*p == '[')) return false;
    p = skip_space(p + 1, text.end);
    if (p == text.end) return false;
    if (*p == (nesting.in_array() ? ']' : '}')) {
        ++p;
        goto close_container;
    }
    if (nesting.in_array()) goto value;

member_name: {
    if (*p != '"') return false;
    const char* start = p;
    bool escaped = false;
    p = string_end(p + 1, text, escaped);
    if (p == nullptr) return false;
    if (nesting.depth() == 1) {
        const std::size_t length = std::size_t(p - start - 2);
        if (escaped) {
            picked = index_of_escaped(std::string_view(start, length + 2));
        } else {
            // Most member names are ruled out by their length alone.
            const bool length_named = (name_lengths_ >> std::min<std::size_t>(length, 63) & 1) != 0;
            picked = length_named ? index_of(std::string_view(start + 1, length)) : -1;
        }
    }
    p = skip_space(p, text.end);
    if (p == text.end || *p != ':') return false;
    p = skip_space(p + 1, text.end);
    if (p == text.end) return false;
}

value: {
    const char* start = p;
    MemberToken token;
    switch (*p) {
        case '{':
        case '[':
            if (nesting.depth() == 1 && picked >= 0) found[std::size_t(picked)] = MemberToken{MemberToken::Kind::Container, false, {}};
            goto open_container;
        case '"':
            token.kind = MemberToken::Kind::String;
            p = string_end(p + 1, text, token.escaped);
            break;
        case 't':
            token.kind = MemberToken::Kind::True;
            p = word_end(p, text.end, "true");
            break;
        case 'f':
            token.kind = MemberToken::Kind::False;
            p = word_end(p, text.end, "false");
            break;
        case 'n':
            token.kind = MemberToken::Kind::Null;
            p = word_end(p, text.end, "null");
            break;
        default:
            if (*p != '-' && !is_digit(*p)) return false;
            token.kind = MemberToken::Kind::Number;
            p = number_end(p, text.end);
            break;
    }
    if (p == nullptr) return false;
    if (nesting.depth() == 1 && picked >= 0) {
        token.text = std::string_view(start, std::size_t(p - start));
        found[std::size_t(picked)] = token;
    }
}

after_value:
    p = skip_space(p, text.end);
    if (p == text.end) return false;
    if (*p == ',') {
        p = skip_space(p + 1, text.end);
        if (p == text.end) return false;
        if (nesting.in_array()) goto value;
        goto member_name;
    }
    if (*p != (nesting.in_array() ? ']' : '}')) return false;
    ++p;

close_container:
    nesting.close();
    if (nesting.depth() > 0) goto after_value;
    if (skip_space(p, text.end) != text.end) return false;
    return !text.above_ascii || is_utf8(source);
}

}  // namespace kuv::cypher
