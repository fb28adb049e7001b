#include "core/json.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace kuv {
namespace {

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

std::string to_json_text(const Json& value) {
    std::string out;
    write_json(out, value);
    return out;
}

}  // namespace kuv
