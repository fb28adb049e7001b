#include "core/json.hpp"

#include "core/utf32.hpp"

#include <unicode/utf8.h>

#include <algorithm>
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
    char bytes[kMaxUtf8Bytes];
    out.append(std::string_view(bytes, encode_utf8(c, bytes)));
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

}  // namespace kuv
