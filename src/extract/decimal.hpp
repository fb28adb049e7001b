#pragma once
// An exact decimal: sign, 96-bit unsigned mantissa, scale 0..28 (value = sign * mantissa / 10^scale).
// Money never passes through binary floating point.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kuv::extract {

class Decimal {
public:
    static constexpr unsigned kMaxScale = 28;

    Decimal() = default;
    static Decimal from_int(std::int64_t v);

    // Exact parse: optional '+'/'-', digits with at most one '.' ("5." and ".5" accepted), '_'
    // allowed after the first digit, no exponent, at most 28 fraction digits, mantissa < 2^96.
    // Anything else fails rather than rounding.
    static std::optional<Decimal> parse(std::string_view text);

    // Checked arithmetic (nullopt on overflow or division by zero). Products and quotients keep
    // at most 28 decimal places, rounding half-to-even where digits must be dropped.
    std::optional<Decimal> checked_mul(const Decimal& other) const;
    std::optional<Decimal> checked_div(const Decimal& other) const;
    std::optional<Decimal> checked_sub(const Decimal& other) const;

    // Rounds to `places` decimal places, ties to even.
    Decimal round_dp(unsigned places) const;
    Decimal fract() const;   // the fractional part, keeping the sign
    Decimal abs() const;
    bool is_zero() const { return mantissa_ == 0; }
    bool is_negative() const { return negative_ && mantissa_ != 0; }

    // The whole value as an integer; nullopt when it has a fraction or does not fit.
    std::optional<std::uint64_t> to_u64() const;
    std::optional<std::int64_t> to_i64() const;

    // Plain printing with its own scale ("12.50", "-5", "1.29900").
    std::string to_string() const;
    // Printing with exactly two decimals, rounded half-to-even ("{:.2}").
    std::string to_string_2dp() const;

    friend int compare(const Decimal& a, const Decimal& b);
    friend bool operator==(const Decimal& a, const Decimal& b) { return compare(a, b) == 0; }
    friend bool operator<(const Decimal& a, const Decimal& b) { return compare(a, b) < 0; }

private:
    unsigned __int128 mantissa_ = 0;  // always below 2^96
    std::uint8_t scale_ = 0;
    bool negative_ = false;
};

}  // namespace kuv::extract
