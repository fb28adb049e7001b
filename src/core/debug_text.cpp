#include "core/debug_text.hpp"

#include "core/json.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kuv {
namespace {

struct EscapeRules {
    bool single_quote;
    bool double_quote;
};

constexpr EscapeRules kStringRules{false, true};
constexpr EscapeRules kCharRules{true, false};
constexpr EscapeRules kPathRules{true, true};  // paths escape both quotes

// Printable unless a control, format, surrogate, private-use, unassigned or separator
// character; the plain space is the one printable separator.
bool is_printable(char32_t c) {
    if (c == U' ') return true;
    switch (u_charType(UChar32(c))) {
        case U_CONTROL_CHAR:
        case U_FORMAT_CHAR:
        case U_SURROGATE:
        case U_PRIVATE_USE_CHAR:
        case U_UNASSIGNED:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR:
        case U_SPACE_SEPARATOR:
            return false;
        default:
            return true;
    }
}

void append_unicode_escape(std::string& out, char32_t c) {
    char buffer[8];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::uint32_t(c), 16);
    out += "\\u{";
    out.append(buffer, result.ptr);
    out += '}';
}

// Appends one character, escaped as needed; `raw` is its UTF-8 form.
void append_char(std::string& out, char32_t c, std::string_view raw, EscapeRules rules) {
    switch (c) {
        case U'\0': out += "\\0"; return;
        case U'\t': out += "\\t"; return;
        case U'\r': out += "\\r"; return;
        case U'\n': out += "\\n"; return;
        case U'\\': out += "\\\\"; return;
        case U'"':
            out += rules.double_quote ? "\\\"" : "\"";
            return;
        case U'\'':
            out += rules.single_quote ? "\\'" : "'";
            return;
        default: break;
    }
    if (c >= 0x20 && c < 0x7F) {
        out += char(c);
    } else if (u_hasBinaryProperty(UChar32(c), UCHAR_GRAPHEME_EXTEND) || !is_printable(c)) {
        append_unicode_escape(out, c);
    } else {
        out.append(raw);
    }
}

// Walks UTF-8 text; each maximal ill-formed subsequence goes to `on_invalid`.
template <typename OnChar, typename OnInvalid>
void for_each_char(std::string_view text, OnChar on_char, OnInvalid on_invalid) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data() + pos);
        const std::int32_t window = std::int32_t(std::min<std::size_t>(text.size() - pos, 4));
        std::int32_t length = 0;
        UChar32 c = 0;
        U8_NEXT(bytes, length, window, c);
        const std::string_view raw = text.substr(pos, std::size_t(length));
        if (c < 0) {
            on_invalid(raw);
        } else {
            on_char(char32_t(c), raw);
        }
        pos += std::size_t(length);
    }
}

void write_quoted(std::string& out, std::string_view text, EscapeRules rules, bool hex_for_invalid) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '"';
    for_each_char(
        text, [&](char32_t c, std::string_view raw) { append_char(out, c, raw, rules); },
        [&](std::string_view raw) {
            if (!hex_for_invalid) {
                append_char(out, U'\uFFFD', "\xEF\xBF\xBD", rules);
                return;
            }
            for (char byte : raw) {
                out += "\\x";
                out += kHex[static_cast<unsigned char>(byte) >> 4];
                out += kHex[static_cast<unsigned char>(byte) & 0xF];
            }
        });
    out += '"';
}

}  // namespace

void write_debug_str(std::string& out, std::string_view text) {
    write_quoted(out, text, kStringRules, false);
}

std::string debug_str(std::string_view text) {
    std::string out;
    write_debug_str(out, text);
    return out;
}

std::string debug_char(char32_t c) {
    std::string out = "'";
    if (c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF)) {
        char raw[4];
        std::int32_t length = 0;
        U8_APPEND_UNSAFE(raw, length, UChar32(c));
        append_char(out, c, std::string_view(raw, std::size_t(length)), kCharRules);
    } else {
        append_unicode_escape(out, c);  // not a Unicode scalar value
    }
    out += '\'';
    return out;
}

std::string debug_path(std::string_view path_bytes) {
    std::string out;
    write_quoted(out, path_bytes, kPathRules, true);
    return out;
}

void write_debug_f64(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "NaN";
    } else if (std::isinf(value)) {
        out += value < 0 ? "-inf" : "inf";
    } else {
        write_shortest_float(out, value, -4, FloatTie::away_from_zero);
    }
}

std::string debug_f64(double value) {
    std::string out;
    write_debug_f64(out, value);
    return out;
}

}  // namespace kuv
