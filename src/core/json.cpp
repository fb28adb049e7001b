#include "core/json.hpp"

#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>
#include <utility>
#include <vector>

namespace kuv {
namespace {

// ---------------------------------------------------------------------------------------------
// Parsing

constexpr std::size_t kMaxNesting = 127;

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Where the scanner puts decoded string bytes: a std::string, or nowhere when only the
// validity of the text matters.
struct DiscardedText {
    void append(std::string_view) {}
    void operator+=(char) {}
};

template <class Out>
void append_utf8(Out& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0.
std::size_t utf8_sequence_length(std::string_view s) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(s.data());
    const std::int32_t window = std::int32_t(std::min<std::size_t>(s.size(), 4));
    std::int32_t length = 0;
    UChar32 c = 0;
    U8_NEXT(bytes, length, window, c);
    return c < 0 ? 0 : std::size_t(length);
}

// The one JSON grammar. It checks a whole text and reports its structure to a Handler:
//   open(is_array) and close() around every container (empty ones too),
//   key(name) for a member name and value(json) for a scalar, each only when the handler
//   wants_key() / wants_value() at that point; unwanted strings are checked, never decoded.
// Containers are kept on an explicit stack, so nesting never deepens the call stack.
template <class Handler>
class Scanner {
public:
    Scanner(std::string_view text, Handler& handler) : text_(text), handler_(handler) {}

    bool scan_document() {
        skip_space();
        if (!scan_value_iteratively()) return false;
        skip_space();
        return pos_ == text_.size();
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    Handler& handler_;
    std::array<bool, kMaxNesting> open_is_array_{};
    std::size_t depth_ = 0;
    std::string name_;  // the member name being decoded, reused across members

    bool at_end() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }

    void skip_space() {
        while (!at_end() && is_json_space(peek())) ++pos_;
    }

    bool consume(char c) {
        if (at_end() || peek() != c) return false;
        ++pos_;
        return true;
    }

    bool consume_word(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    enum class Step { value_ready, container_opened, failed };

    bool scan_value_iteratively() {
        while (true) {
            const Step step = begin_value();
            if (step == Step::failed) return false;
            if (step == Step::container_opened) continue;  // its first element comes next
            // A value is complete: read what follows it, closing every container it completes.
            while (true) {
                if (depth_ == 0) return true;
                const bool is_array = open_is_array_[depth_ - 1];
                skip_space();
                if (consume(',')) {
                    if (!is_array && !read_member_name()) return false;
                    break;
                }
                if (!consume(is_array ? ']' : '}')) return false;
                --depth_;
                handler_.close();
            }
        }
    }

    // Reads a scalar or an empty container, or opens a container.
    Step begin_value() {
        skip_space();
        if (at_end()) return Step::failed;
        std::optional<Json> scalar;
        switch (peek()) {
            case '{': return open_container(false);
            case '[': return open_container(true);
            case '"': return read_string_value() ? Step::value_ready : Step::failed;
            case 't': if (consume_word("true")) scalar = Json(true); break;
            case 'f': if (consume_word("false")) scalar = Json(false); break;
            case 'n': if (consume_word("null")) scalar = Json(nullptr); break;
            default: scalar = read_number(); break;
        }
        if (!scalar) return Step::failed;
        if (handler_.wants_value()) handler_.value(std::move(*scalar));
        return Step::value_ready;
    }

    Step open_container(bool is_array) {
        if (depth_ >= kMaxNesting) return Step::failed;
        ++pos_;
        handler_.open(is_array);
        skip_space();
        if (consume(is_array ? ']' : '}')) {
            handler_.close();
            return Step::value_ready;
        }
        open_is_array_[depth_++] = is_array;
        if (!is_array && !read_member_name()) return Step::failed;
        return Step::container_opened;
    }

    bool read_string_value() {
        if (!handler_.wants_value()) {
            DiscardedText ignored;
            return read_string(ignored);
        }
        std::string s;
        if (!read_string(s)) return false;
        handler_.value(Json(std::move(s)));
        return true;
    }

    // Reads `"name" :`.
    bool read_member_name() {
        skip_space();
        if (at_end() || peek() != '"') return false;
        if (handler_.wants_key()) {
            name_.clear();
            if (!read_string(name_)) return false;
            handler_.key(name_);
        } else {
            DiscardedText ignored;
            if (!read_string(ignored)) return false;
        }
        skip_space();
        return consume(':');
    }

    // Reads a string token starting at its opening quote into `out`.
    template <class Out>
    bool read_string(Out& out) {
        ++pos_;
        while (true) {
            const std::size_t run_start = pos_;
            while (!at_end()) {
                const auto c = static_cast<unsigned char>(peek());
                if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
                ++pos_;
            }
            out.append(text_.substr(run_start, pos_ - run_start));
            if (at_end()) return false;
            const auto c = static_cast<unsigned char>(peek());
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c < 0x20) return false;
            if (c >= 0x80) {
                const std::size_t length = utf8_sequence_length(text_.substr(pos_));
                if (length == 0) return false;
                out.append(text_.substr(pos_, length));
                pos_ += length;
                continue;
            }
            ++pos_;  // backslash
            if (!read_escape(out)) return false;
        }
    }

    template <class Out>
    bool read_escape(Out& out) {
        if (at_end()) return false;
        const char c = text_[pos_++];
        switch (c) {
            case '"': out += '"'; return true;
            case '\\': out += '\\'; return true;
            case '/': out += '/'; return true;
            case 'b': out += '\b'; return true;
            case 'f': out += '\f'; return true;
            case 'n': out += '\n'; return true;
            case 'r': out += '\r'; return true;
            case 't': out += '\t'; return true;
            case 'u': return read_unicode_escape(out);
            default: return false;
        }
    }

    std::optional<char32_t> read_hex4() {
        if (text_.size() - pos_ < 4) return std::nullopt;
        char32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hex_value(text_[pos_ + i]);
            if (digit < 0) return std::nullopt;
            value = value * 16 + char32_t(digit);
        }
        pos_ += 4;
        return value;
    }

    // After "\u": a code point, or a surrogate pair written as two escapes.
    template <class Out>
    bool read_unicode_escape(Out& out) {
        const std::optional<char32_t> first = read_hex4();
        if (!first) return false;
        if (*first >= 0xDC00 && *first <= 0xDFFF) return false;
        if (*first < 0xD800 || *first > 0xDBFF) {
            append_utf8(out, *first);
            return true;
        }
        if (!consume_word("\\u")) return false;
        const std::optional<char32_t> second = read_hex4();
        if (!second || *second < 0xDC00 || *second > 0xDFFF) return false;
        append_utf8(out, 0x10000 + ((*first - 0xD800) << 10) + (*second - 0xDC00));
        return true;
    }

    std::size_t skip_digits() {
        const std::size_t start = pos_;
        while (!at_end() && peek() >= '0' && peek() <= '9') ++pos_;
        return pos_ - start;
    }

    // Numbers follow the JSON grammar; integers that fit stay integers, everything else is a
    // correctly rounded double.
    std::optional<Json> read_number() {
        const std::size_t start = pos_;
        const bool negative = consume('-');
        const std::size_t int_start = pos_;
        const std::size_t int_digits = skip_digits();
        if (int_digits == 0) return std::nullopt;
        if (int_digits > 1 && text_[int_start] == '0') return std::nullopt;
        bool is_integer = true;
        if (consume('.')) {
            is_integer = false;
            if (skip_digits() == 0) return std::nullopt;
        }
        if (!at_end() && (peek() == 'e' || peek() == 'E')) {
            is_integer = false;
            ++pos_;
            if (!consume('+')) consume('-');
            if (skip_digits() == 0) return std::nullopt;
        }
        const std::string_view token = text_.substr(start, pos_ - start);
        if (is_integer) {
            if (std::optional<Json> integer = integer_value(token.substr(negative ? 1 : 0), negative)) {
                return integer;
            }
        }
        return float_value(token);
    }

    static std::optional<Json> integer_value(std::string_view digits, bool negative) {
        std::uint64_t magnitude = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
        if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
        if (!negative) return Json(magnitude);
        constexpr std::uint64_t kMinMagnitude = std::uint64_t(1) << 63;
        if (magnitude == 0 || magnitude > kMinMagnitude) return std::nullopt;  // "-0" is a float
        return Json(static_cast<std::int64_t>(0 - magnitude));
    }

    static std::optional<Json> float_value(std::string_view token) {
        double value = 0;
        const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
        if (end != token.data() + token.size()) return std::nullopt;
        if (error == std::errc::result_out_of_range) {
            if (!underflows(token)) return std::nullopt;
            value = token.front() == '-' ? -0.0 : 0.0;
        } else if (error != std::errc() || !std::isfinite(value)) {
            return std::nullopt;
        }
        return Json(value);
    }

    // Whether an out-of-range number token is too small (rounds to zero) rather than too large:
    // its decimal exponent, counted from the first non-zero digit, is not positive.
    static bool underflows(std::string_view token) {
        // Both terms stay far from the long long limits, so their sum cannot overflow: the digits
        // shift by at most the token's length, and a written exponent beyond kExponentLimit only
        // matters by its sign, since no token is long enough to shift it back across zero.
        constexpr long long kExponentLimit = 1LL << 61;
        long long point_shift = 0;  // position of the decimal point relative to the first digit
        bool seen_nonzero = false, after_point = false;
        std::size_t i = token.front() == '-' ? 1 : 0;
        for (; i < token.size() && token[i] != 'e' && token[i] != 'E'; ++i) {
            if (token[i] == '.') {
                after_point = true;
            } else if (!seen_nonzero && token[i] == '0') {
                if (after_point) --point_shift;
            } else {
                seen_nonzero = true;
                if (!after_point) ++point_shift;
            }
        }
        if (!seen_nonzero) return true;
        long long exponent = 0;
        if (i < token.size()) {
            std::string_view digits = token.substr(i + 1);
            const bool negative = digits.front() == '-';
            if (digits.front() == '-' || digits.front() == '+') digits.remove_prefix(1);
            const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), exponent);
            (void)end;
            if (error != std::errc() || exponent > kExponentLimit) exponent = kExponentLimit;
            if (negative) exponent = -exponent;
        }
        return exponent + point_shift <= 0;
    }
};

// Builds the tree of every value the scanner reports.
class TreeBuilder {
public:
    bool wants_key() const { return true; }
    bool wants_value() const { return true; }

    void open(bool is_array) { open_.push_back(Frame{is_array ? Json::array() : Json::object(), {}}); }

    void key(std::string_view name) { open_.back().key.assign(name); }

    void value(Json&& value) {
        if (open_.empty()) {
            result_ = std::move(value);
            return;
        }
        Frame& top = open_.back();
        if (top.container.is_array()) {
            top.container.get_ref<Json::array_t&>().push_back(std::move(value));
        } else {
            // The last of duplicate keys wins.
            top.container.get_ref<Json::object_t&>().insert_or_assign(std::move(top.key), std::move(value));
        }
    }

    void close() {
        Json finished = std::move(open_.back().container);
        open_.pop_back();
        value(std::move(finished));
    }

    // The outermost value, once it is complete.
    std::optional<Json> take_result() { return std::exchange(result_, std::nullopt); }

private:
    // An open container and, for objects, the name of the member whose value comes next.
    struct Frame {
        Json container;
        std::string key;
    };

    std::vector<Frame> open_;
    std::optional<Json> result_;
};

// Builds only the values of the top-level object's members named in `names`.
class MemberPicker {
public:
    explicit MemberPicker(std::span<const std::string> names) : names_(names) {
        picked_.values.resize(names.size());
    }

    bool wants_key() const { return depth_ == 1 || capturing(); }
    bool wants_value() const { return capturing(); }

    void open(bool is_array) {
        if (depth_ == 0) picked_.is_object = !is_array;
        if (capturing()) builder_.open(is_array);
        ++depth_;
    }

    void close() {
        --depth_;
        if (capturing()) {
            builder_.close();
            keep_if_complete();
        }
    }

    void key(std::string_view name) {
        if (depth_ > 1) {
            builder_.key(name);
            return;
        }
        const auto found = std::find(names_.begin(), names_.end(), name);
        capture_ = found == names_.end() ? std::nullopt : std::optional(std::size_t(found - names_.begin()));
    }

    void value(Json&& value) {
        builder_.value(std::move(value));
        keep_if_complete();
    }

    PickedMembers take() && { return std::move(picked_); }

private:
    bool capturing() const { return capture_.has_value(); }

    // A later member of the same name replaces an earlier one.
    void keep_if_complete() {
        if (std::optional<Json> member = builder_.take_result()) {
            picked_.values[*capture_] = std::move(member);
            capture_.reset();
        }
    }

    std::span<const std::string> names_;
    std::size_t depth_ = 0;
    std::optional<std::size_t> capture_;  // the name whose member value is being built
    TreeBuilder builder_;
    PickedMembers picked_;
};

// ---------------------------------------------------------------------------------------------
// Shortest float digits

// The shortest digits of a finite positive double: value = 0.digits x 10^point.
struct ShortestDigits {
    std::array<char, 17> digits{};
    int count = 0;
    int point = 0;
};

// Whether value == (digits + 1/2) x 10^(point - count) exactly, i.e. whether the next larger
// candidate with as many digits is exactly as near as `digits`.
bool is_exact_midpoint(double value, const ShortestDigits& d) {
    using u128 = unsigned __int128;
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    const int biased = int((bits >> 52) & 0x7FF);
    std::uint64_t mantissa = bits & ((std::uint64_t(1) << 52) - 1);
    int binary_exponent = -1074;
    if (biased != 0) {
        mantissa |= std::uint64_t(1) << 52;
        binary_exponent = biased - 1075;
    }
    // midpoint = m5 x 10^q with m5 = digits * 10 + 5
    std::uint64_t m5 = 0;
    for (int i = 0; i < d.count; ++i) m5 = m5 * 10 + std::uint64_t(d.digits[i] - '0');
    m5 = m5 * 10 + 5;
    const int q = d.point - d.count - 1;
    if (q >= 0) return false;  // an integer midpoint ending in 5 is never a double with that spacing
    // mantissa x 2^e == m5 x 2^q x 5^q  <=>  mantissa x 5^-q x 2^(e - q) == m5 (both sides scaled)
    const int t = -q;
    const int twos = binary_exponent + t;  // power of two left on the mantissa side
    if (t > 55) return false;
    u128 left = mantissa;
    for (int i = 0; i < t; ++i) {
        if (__builtin_mul_overflow(left, u128(5), &left)) return false;
    }
    u128 right = m5;
    if (twos >= 0) {
        if (twos > 64 || (left << twos) >> twos != left) return false;
        left <<= twos;
    } else {
        if (-twos > 64 || (right << -twos) >> -twos != right) return false;
        right <<= -twos;
    }
    return left == right;
}

ShortestDigits shortest_digits(double magnitude, FloatTie tie) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
    const std::string_view text(buffer, std::size_t(result.ptr - buffer));
    ShortestDigits d;
    const std::size_t e = text.find('e');
    for (char c : text.substr(0, e)) {
        if (c != '.') d.digits[std::size_t(d.count++)] = c;
    }
    int exponent = 0;
    std::string_view exponent_text = text.substr(e + 1);
    if (exponent_text.front() == '+') exponent_text.remove_prefix(1);
    std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);
    d.point = exponent + 1;
    // to_chars breaks ties towards the even digit; bump it when ties go away from zero. An even
    // last digit never carries.
    char& last = d.digits[std::size_t(d.count - 1)];
    if (tie == FloatTie::away_from_zero && (last - '0') % 2 == 0 && is_exact_midpoint(magnitude, d)) {
        ++last;
    }
    return d;
}

void append_exponent_form(std::string& out, const ShortestDigits& d) {
    out += d.digits[0];
    if (d.count > 1) {
        out += '.';
        out.append(d.digits.data() + 1, std::size_t(d.count - 1));
    }
    out += 'e';
    char buffer[8];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, d.point - 1);
    out.append(buffer, result.ptr);
}

void append_plain_form(std::string& out, const ShortestDigits& d) {
    const char* digits = d.digits.data();
    if (d.point <= 0) {
        out += "0.";
        out.append(std::size_t(-d.point), '0');
        out.append(digits, std::size_t(d.count));
    } else if (d.point >= d.count) {
        out.append(digits, std::size_t(d.count));
        out.append(std::size_t(d.point - d.count), '0');
        out += ".0";
    } else {
        out.append(digits, std::size_t(d.point));
        out += '.';
        out.append(digits + d.point, std::size_t(d.count - d.point));
    }
}

// ---------------------------------------------------------------------------------------------
// Printing

void write_json_string(std::string& out, std::string_view s) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    std::size_t run_start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(s.data() + run_start, i - run_start);
        run_start = i + 1;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 0xF];
        }
    }
    out.append(s.data() + run_start, s.size() - run_start);
    out += '"';
}

template <typename Integer>
void write_integer(std::string& out, Integer value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

}  // namespace

std::optional<Json> parse_json(std::string_view text) {
    TreeBuilder builder;
    if (!Scanner(text, builder).scan_document()) return std::nullopt;
    return builder.take_result();
}

std::optional<PickedMembers> pick_json_members(std::string_view text, std::span<const std::string> names) {
    MemberPicker picker(names);
    if (!Scanner(text, picker).scan_document()) return std::nullopt;
    return std::move(picker).take();
}

void write_shortest_float(std::string& out, double value, int min_plain_exponent, FloatTie tie) {
    if (std::signbit(value)) out += '-';
    const double magnitude = std::fabs(value);
    if (magnitude == 0) {
        out += "0.0";
        return;
    }
    const ShortestDigits d = shortest_digits(magnitude, tie);
    // 10^(point - 1) <= magnitude < 10^point
    if (d.point - 1 >= min_plain_exponent && d.point <= 16) {
        append_plain_form(out, d);
    } else {
        append_exponent_form(out, d);
    }
}

void write_json_float(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    write_shortest_float(out, value, -5, FloatTie::to_even);
}

void write_json(std::string& out, const Json& value) {
    switch (value.type()) {
        case Json::value_t::boolean:
            out += value.get<bool>() ? "true" : "false";
            return;
        case Json::value_t::number_integer:
            write_integer(out, value.get<std::int64_t>());
            return;
        case Json::value_t::number_unsigned:
            write_integer(out, value.get<std::uint64_t>());
            return;
        case Json::value_t::number_float:
            write_json_float(out, value.get<double>());
            return;
        case Json::value_t::string:
            write_json_string(out, value.get_ref<const std::string&>());
            return;
        case Json::value_t::array: {
            out += '[';
            bool first = true;
            for (const Json& element : value.get_ref<const Json::array_t&>()) {
                if (!first) out += ',';
                first = false;
                write_json(out, element);
            }
            out += ']';
            return;
        }
        case Json::value_t::object: {
            out += '{';
            bool first = true;
            for (const auto& [key, member] : value.get_ref<const Json::object_t&>()) {
                if (!first) out += ',';
                first = false;
                write_json_string(out, key);
                out += ':';
                write_json(out, member);
            }
            out += '}';
            return;
        }
        default:  // null, and the kinds the parser never produces
            out += "null";
            return;
    }
}

const Json* json_member(const Json& value, std::string_view key) {
    if (!value.is_object()) return nullptr;
    const auto& members = value.get_ref<const Json::object_t&>();
    const auto found = members.find(key);  // transparent comparator: no key copy
    return found == members.end() ? nullptr : &found->second;
}

const std::string* json_string(const Json* value) {
    return value != nullptr && value->is_string() ? &value->get_ref<const std::string&>() : nullptr;
}

std::string json_string_or_empty(const Json* value) {
    const std::string* text = json_string(value);
    return text != nullptr ? *text : std::string{};
}

std::string to_json_text(const Json& value) {
    std::string out;
    write_json(out, value);
    return out;
}

}  // namespace kuv
