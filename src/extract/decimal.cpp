#include "extract/decimal.hpp"

#include <algorithm>
#include <array>
#include <compare>

namespace kuv::extract {
namespace {

using u128 = unsigned __int128;

constexpr u128 kMantissaLimit = u128(1) << 96;

u128 pow10(unsigned n) {
    u128 value = 1;
    for (unsigned i = 0; i < n; ++i) value *= 10;
    return value;
}

// An unsigned 256-bit integer: room for a product of two mantissas, or a mantissa scaled by up
// to 10^28, before it is rounded back into 96 bits.
class Wide {
public:
    Wide() = default;
    explicit Wide(u128 value) : limbs_{std::uint64_t(value), std::uint64_t(value >> 64), 0, 0} {}

    static Wide product(u128 a, u128 b) {
        const std::uint64_t x[2] = {std::uint64_t(a), std::uint64_t(a >> 64)};
        const std::uint64_t y[2] = {std::uint64_t(b), std::uint64_t(b >> 64)};
        Wide result;
        for (std::size_t i = 0; i < 2; ++i) {
            for (std::size_t j = 0; j < 2; ++j) result.add_at(i + j, u128(x[i]) * y[j]);
        }
        return result;
    }

    bool is_zero() const { return std::ranges::all_of(limbs_, [](std::uint64_t l) { return l == 0; }); }
    bool fits_mantissa() const { return limbs_[3] == 0 && limbs_[2] == 0 && (limbs_[1] >> 32) == 0; }
    u128 low128() const { return u128(limbs_[1]) << 64 | limbs_[0]; }
    bool is_odd() const { return limbs_[0] & 1; }

    void multiply_by_pow10(unsigned n) {
        for (unsigned i = 0; i < n; ++i) multiply_small(10);
    }

    // Divides by 10 and returns the remainder.
    unsigned divide_by_10() {
        u128 remainder = 0;
        for (std::size_t i = limbs_.size(); i-- > 0;) {
            const u128 current = remainder << 64 | limbs_[i];
            limbs_[i] = std::uint64_t(current / 10);
            remainder = current % 10;
        }
        return unsigned(remainder);
    }

    void increment() { add_at(0, 1); }

    friend Wide operator+(Wide a, const Wide& b) {
        for (std::size_t i = 0; i < b.limbs_.size(); ++i) a.add_at(i, b.limbs_[i]);
        return a;
    }

    // Requires a >= b.
    friend Wide operator-(Wide a, const Wide& b) {
        bool borrow = false;
        for (std::size_t i = 0; i < a.limbs_.size(); ++i) {
            const std::uint64_t subtrahend = b.limbs_[i];
            const std::uint64_t before = a.limbs_[i];
            a.limbs_[i] = before - subtrahend - borrow;
            borrow = before < subtrahend || (before == subtrahend && borrow);
        }
        return a;
    }

    friend std::strong_ordering operator<=>(const Wide& a, const Wide& b) {
        for (std::size_t i = a.limbs_.size(); i-- > 0;) {
            if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] <=> b.limbs_[i];
        }
        return std::strong_ordering::equal;
    }

private:
    std::array<std::uint64_t, 4> limbs_{};

    void add_at(std::size_t index, u128 value) {
        for (std::size_t i = index; value != 0 && i < limbs_.size(); ++i) {
            const u128 sum = u128(limbs_[i]) + std::uint64_t(value);
            limbs_[i] = std::uint64_t(sum);
            value = (value >> 64) + (sum >> 64);
        }
    }

    void multiply_small(std::uint64_t factor) {
        u128 carry = 0;
        for (std::uint64_t& limb : limbs_) {
            const u128 current = u128(limb) * factor + carry;
            limb = std::uint64_t(current);
            carry = current >> 64;
        }
    }
};

// A magnitude that may still be too wide or too finely scaled, rounded half-to-even into a
// 96-bit mantissa with a scale of at most 28; nullopt when even scale 0 cannot hold it.
struct Rounded {
    u128 mantissa;
    unsigned scale;
};

std::optional<Rounded> fit_mantissa(Wide magnitude, unsigned scale) {
    unsigned last_dropped = 0;
    bool sticky = false;  // a non-zero digit was dropped below `last_dropped`
    bool dropped_any = false;
    while (!magnitude.fits_mantissa() || scale > Decimal::kMaxScale) {
        if (scale == 0) return std::nullopt;
        sticky = sticky || last_dropped != 0;
        last_dropped = magnitude.divide_by_10();
        --scale;
        dropped_any = true;
    }
    if (dropped_any && (last_dropped > 5 || (last_dropped == 5 && (sticky || magnitude.is_odd())))) {
        magnitude.increment();
        if (!magnitude.fits_mantissa()) {
            // Rounded up to exactly 2^96, which ends in 6: one more digit goes, rounding up.
            if (scale == 0) return std::nullopt;
            magnitude.divide_by_10();
            magnitude.increment();
            --scale;
        }
    }
    return Rounded{magnitude.low128(), scale};
}

// Half-to-even rounding of q + remainder / divisor to a whole number.
u128 round_quotient(u128 q, u128 remainder, u128 divisor) {
    const u128 twice = remainder * 2;
    if (twice > divisor || (twice == divisor && (q & 1))) return q + 1;
    return q;
}

}  // namespace

Decimal Decimal::from_int(std::int64_t v) {
    Decimal d;
    d.negative_ = v < 0;
    d.mantissa_ = v < 0 ? std::uint64_t(0) - std::uint64_t(v) : std::uint64_t(v);
    return d;
}

std::optional<Decimal> Decimal::parse(std::string_view text) {
    Decimal d;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        d.negative_ = text[i] == '-';
        ++i;
    }
    if (i == text.size() || !(text[i] == '.' || (text[i] >= '0' && text[i] <= '9'))) return std::nullopt;
    bool seen_digit = false, seen_point = false;
    unsigned scale = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') continue;
        if (c == '.') {
            if (seen_point) return std::nullopt;
            seen_point = true;
            continue;
        }
        if (c < '0' || c > '9') return std::nullopt;
        seen_digit = true;
        d.mantissa_ = d.mantissa_ * 10 + unsigned(c - '0');
        if (d.mantissa_ >= kMantissaLimit) return std::nullopt;
        if (seen_point && ++scale > kMaxScale) return std::nullopt;
    }
    if (!seen_digit) return std::nullopt;
    d.scale_ = std::uint8_t(scale);
    if (d.mantissa_ == 0) d.negative_ = false;
    return d;
}

std::optional<Decimal> Decimal::checked_mul(const Decimal& other) const {
    if (is_zero() || other.is_zero()) return Decimal{};
    const std::optional<Rounded> product =
        fit_mantissa(Wide::product(mantissa_, other.mantissa_), unsigned(scale_) + other.scale_);
    if (!product) return std::nullopt;
    Decimal d;
    d.mantissa_ = product->mantissa;
    d.scale_ = std::uint8_t(product->scale);
    d.negative_ = negative_ != other.negative_ && d.mantissa_ != 0;
    return d;
}

// Long division, one decimal digit at a time: the digits the scales require, then as many more
// as the mantissa and the maximal scale hold while a remainder is left, rounded half-to-even.
// An inexact quotient sheds the trailing zeros it may end with.
std::optional<Decimal> Decimal::checked_div(const Decimal& other) const {
    if (other.is_zero()) return std::nullopt;
    if (is_zero()) return Decimal{};
    const u128 divisor = other.mantissa_;
    u128 q = mantissa_ / divisor;
    u128 remainder = mantissa_ % divisor;
    int scale = int(scale_) - int(other.scale_);
    const bool inexact = remainder != 0;
    const auto next_digit = [&](u128& next_q, u128& next_remainder) {
        const u128 shifted = remainder * 10;  // q and the remainder stay below 2^100 here
        next_q = q * 10 + shifted / divisor;
        next_remainder = shifted % divisor;
        return next_q < kMantissaLimit;
    };
    while (scale < 0) {
        u128 next_q = 0, next_remainder = 0;
        if (!next_digit(next_q, next_remainder)) return std::nullopt;
        q = next_q;
        remainder = next_remainder;
        ++scale;
    }
    while (remainder != 0 && scale < int(kMaxScale)) {
        u128 next_q = 0, next_remainder = 0;
        if (!next_digit(next_q, next_remainder)) break;
        q = next_q;
        remainder = next_remainder;
        ++scale;
    }
    if (remainder != 0) {
        q = round_quotient(q, remainder, divisor);
        if (q == kMantissaLimit) {
            if (scale == 0) return std::nullopt;
            q = q / 10 + 1;  // 2^96 ends in 6
            --scale;
        }
    }
    if (inexact) {
        while (scale > 0 && q % 10 == 0) {
            q /= 10;
            --scale;
        }
    }
    Decimal d;
    d.mantissa_ = q;
    d.scale_ = std::uint8_t(scale);
    d.negative_ = negative_ != other.negative_ && q != 0;
    return d;
}

std::optional<Decimal> Decimal::checked_sub(const Decimal& other) const {
    const unsigned scale = std::max(scale_, other.scale_);
    Wide a(mantissa_), b(other.mantissa_);
    a.multiply_by_pow10(scale - scale_);
    b.multiply_by_pow10(scale - other.scale_);
    const bool b_negative = !other.negative_;  // a - b == a + (-b)
    Wide magnitude;
    bool negative = negative_;
    if (negative_ == b_negative) {
        magnitude = a + b;
    } else if (a >= b) {
        magnitude = a - b;
    } else {
        magnitude = b - a;
        negative = b_negative;
    }
    const std::optional<Rounded> difference = fit_mantissa(magnitude, scale);
    if (!difference) return std::nullopt;
    Decimal d;
    d.mantissa_ = difference->mantissa;
    d.scale_ = std::uint8_t(difference->scale);
    d.negative_ = negative && d.mantissa_ != 0;
    return d;
}

Decimal Decimal::round_dp(unsigned places) const {
    if (scale_ <= places) return *this;
    const u128 divisor = pow10(scale_ - places);
    Decimal d;
    d.mantissa_ = round_quotient(mantissa_ / divisor, mantissa_ % divisor, divisor);
    d.scale_ = std::uint8_t(places);
    d.negative_ = negative_ && d.mantissa_ != 0;
    return d;
}

Decimal Decimal::fract() const {
    Decimal d;
    d.mantissa_ = mantissa_ % pow10(scale_);
    d.scale_ = scale_;
    d.negative_ = negative_ && d.mantissa_ != 0;
    return d;
}

Decimal Decimal::abs() const {
    Decimal d = *this;
    d.negative_ = false;
    return d;
}

std::optional<std::uint64_t> Decimal::to_u64() const {
    if (is_negative() || !fract().is_zero()) return std::nullopt;
    const u128 whole = mantissa_ / pow10(scale_);
    if (whole > UINT64_MAX) return std::nullopt;
    return std::uint64_t(whole);
}

std::optional<std::int64_t> Decimal::to_i64() const {
    if (!fract().is_zero()) return std::nullopt;
    const u128 whole = mantissa_ / pow10(scale_);
    const u128 limit = is_negative() ? u128(1) << 63 : (u128(1) << 63) - 1;
    if (whole > limit) return std::nullopt;
    return is_negative() ? std::int64_t(0 - std::uint64_t(whole)) : std::int64_t(whole);
}

std::string Decimal::to_string() const {
    std::string digits;
    for (u128 m = mantissa_; m != 0; m /= 10) digits += char('0' + unsigned(m % 10));
    if (digits.size() <= scale_) digits.append(scale_ + 1 - digits.size(), '0');
    std::reverse(digits.begin(), digits.end());
    if (scale_ > 0) digits.insert(digits.size() - scale_, 1, '.');
    if (is_negative()) digits.insert(0, 1, '-');
    return digits;
}

std::string Decimal::to_string_2dp() const {
    const Decimal rounded = round_dp(2);
    std::string text = rounded.to_string();
    if (rounded.scale_ == 0) text += '.';
    text.append(2 - rounded.scale_, '0');
    return text;
}

int compare(const Decimal& a, const Decimal& b) {
    if (a.is_negative() != b.is_negative()) return a.is_negative() ? -1 : 1;
    const unsigned scale = std::max(a.scale_, b.scale_);
    Wide x(a.mantissa_), y(b.mantissa_);
    x.multiply_by_pow10(scale - a.scale_);
    y.multiply_by_pow10(scale - b.scale_);
    const auto order = x <=> y;
    const int magnitude_order = order < 0 ? -1 : (order > 0 ? 1 : 0);
    return a.is_negative() ? -magnitude_order : magnitude_order;
}

}  // namespace kuv::extract
