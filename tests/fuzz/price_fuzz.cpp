// Decimals and price evidence. The input is "raw price \n reference \n page": the first two
// lines go through the decimal parser and arithmetic, the page through PriceScale::from_html and
// the byte search, and the raw price, as a JSON string and as parsed JSON, through the verdict.
#include "core/json.hpp"
#include "core/utf8.hpp"
#include "extract/byte_search.hpp"
#include "extract/decimal.hpp"
#include "extract/price.hpp"
#include "fuzz_target.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <optional>
#include <regex>
#include <string>

namespace kuv::fuzz {
namespace {

using extract::Decimal;

// The text up to the next line feed, which is taken off `rest` too.
std::string_view take_line(std::string_view& rest) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    return line;
}

// The decimal holding exactly `text`, which the caller knows to be valid.
Decimal decimal(const std::string& text) {
    const std::optional<Decimal> value = Decimal::parse(text);
    require(value.has_value(), "a decimal's printed text parses: " + text);
    return *value;
}

// Digits after the point, and significant digits of the mantissa, read from the printed form.
struct Shape {
    std::size_t scale = 0, digits = 0;
};

Shape shape_of(const Decimal& d) {
    std::string text = d.abs().to_string();
    const std::size_t point = text.find('.');
    std::erase(text, '.');
    const std::size_t first = text.find_first_not_of('0');
    return {point == std::string::npos ? 0 : text.size() - point, first == std::string::npos ? 0 : text.size() - first};
}

// Half a unit of the `places`-th decimal place: 0.5, 0.05, ...
Decimal half_unit(unsigned places) { return decimal("0." + std::string(places, '0') + "5"); }

void check_rounding(const Decimal& d) {
    for (const unsigned places : {0u, 2u, 5u}) {
        const Decimal rounded = d.round_dp(places);
        require(shape_of(rounded).scale <= places, "rounding leaves at most the asked places");
        const std::optional<Decimal> error = d.checked_sub(rounded);
        require(error && compare(error->abs(), half_unit(places)) <= 0, "rounding moves by at most half a unit");
        if (compare(error->abs(), half_unit(places)) == 0) {
            // A tie leaves exactly `places` decimals, so the last printed digit is the rounded one.
            require((rounded.to_string().back() - '0') % 2 == 0, "a tie rounds to the even neighbour");
        }
    }
    const std::string two = d.to_string_2dp();
    require(two.size() > 3 && two[two.size() - 3] == '.', "the two-decimal form has two decimals");
    if (const std::optional<Decimal> shown = Decimal::parse(two)) {  // too many digits for a decimal near 2^96
        require(compare(*shown, d.round_dp(2)) == 0, "the two-decimal form is the value rounded to two places");
    }
    const auto rounded_u64 = extract::decimal_to_u64_round(d);
    require(d.round_dp(0).is_negative() ? !rounded_u64 : rounded_u64 == d.round_dp(0).to_u64(),
            "decimal_to_u64_round is rounding to a whole u64");
}

void check_decimal(const Decimal& d) {
    const std::string text = d.to_string();
    const Decimal again = decimal(text);
    require(compare(again, d) == 0 && again.to_string() == text, "a decimal's printed text reads back unchanged");
    check_rounding(d);

    const Decimal fraction = d.fract();
    require(compare(fraction.abs(), Decimal::from_int(1)) < 0, "a fractional part is below one");
    require(fraction.is_zero() || fraction.is_negative() == d.is_negative(), "a fractional part keeps the sign");
    const std::optional<Decimal> whole = d.checked_sub(fraction);
    require(whole && whole->fract().is_zero(), "without its fractional part a decimal is whole");
}

void check_pair(const Decimal& a, const Decimal& b) {
    const int order = compare(a, b);
    require(compare(b, a) == -order, "comparison is antisymmetric");
    if (const std::optional<Decimal> difference = a.checked_sub(b)) {
        const int sign = difference->is_zero() ? 0 : (difference->is_negative() ? -1 : 1);
        require(sign == (order > 0) - (order < 0), "a difference has the sign of the comparison");
    }
    const std::optional<Decimal> product = a.checked_mul(b), swapped = b.checked_mul(a);
    require(product.has_value() == swapped.has_value() && (!product || product->to_string() == swapped->to_string()),
            "multiplication commutes");
    const Shape sa = shape_of(a), sb = shape_of(b);
    if (sa.digits + sb.digits <= Decimal::kMaxScale && sa.scale + sb.scale <= Decimal::kMaxScale) {
        // The product fits without rounding, so dividing it again gives the factors back.
        require(product.has_value(), "an exact product exists");
        if (!b.is_zero()) {
            const std::optional<Decimal> quotient = product->checked_div(b);
            require(quotient && compare(*quotient, a) == 0, "an exact product divided by one factor gives the other");
        }
    }
    if (!a.is_zero()) {
        const std::optional<Decimal> one = a.checked_div(a);
        require(one && compare(*one, Decimal::from_int(1)) == 0, "a decimal divided by itself is one");
    }
}

constexpr std::array<std::string_view, 5> kZeroDecimalCurrencies = {"JPY", "KRW", "TWD", "VND", "IDR"};

void check_scale(const extract::PriceScale& scale) {
    for (const std::uint64_t amount : scale.repeated) require(scale.seen.contains(amount), "repeated amounts are seen");
    require(scale.has_text_prices == !scale.seen.empty(), "text prices exactly when amounts are seen");
}

// The price text is a whole number or, for a two-digit currency only, one with two decimals
// that are not both zero; near 2^96 it may hold more digits than a decimal, so it is read as
// text. Returns the price in minor units, as digits.
std::string minor_units(const std::string& price, bool zero_decimal) {
    static const std::regex kWhole("-?[0-9]+"), kTwoDecimals("-?[0-9]+\\.(?!00)[0-9]{2}");
    const bool two_decimals = std::regex_match(price, kTwoDecimals);
    require(two_decimals ? !zero_decimal : std::regex_match(price, kWhole),
            "the price text is whole, or has two decimals not both zero for a two-digit currency");
    std::string digits = price;
    if (two_decimals) {
        digits.erase(digits.size() - 3, 1);
    } else if (!zero_decimal) {
        digits += "00";
    }
    return digits;
}

void check_verdict(const extract::PriceScale& scale, const Json* raw, const std::optional<Decimal>& reference) {
    const std::optional<extract::PriceVerdict> v = scale.verdict(raw, reference);
    if (raw != nullptr && raw->is_string()) {
        std::string kept;
        std::ranges::copy_if(raw->get_ref<const std::string&>(), std::back_inserter(kept),
                             [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
        require(v.has_value() == Decimal::parse(kept).has_value(), "a text price has a verdict when its digits parse");
    }
    if (!v) return;
    require(v->score == 0 || v->score == 2 || v->score == 3, "the score is 0, 2 or 3");
    require(v->currency == scale.currency, "the verdict carries the page currency");
    const bool zero_decimal = std::ranges::find(kZeroDecimalCurrencies, v->currency) != kZeroDecimalCurrencies.end();
    require(v->price_scale == (zero_decimal ? 0 : 2), "the minor-unit digits follow the currency");
    const std::string cents = minor_units(v->price, zero_decimal);
    std::int64_t expected = 0;  // from_chars reads a '-' and leading zeros; the digits are checked above
    const std::errc error = std::from_chars(cents.data(), cents.data() + cents.size(), expected).ec;
    require(v->price_cents == (error == std::errc() ? expected : 0), "price_cents is the price in minor units, or 0");
}

void run(std::string_view input) {
    std::string_view page = input;
    const std::string_view raw = take_line(page), reference_text = take_line(page);
    // The vectorised substring search reports what std::string_view::find does.
    const std::string_view needle = raw.substr(0, 16);
    require(extract::find_bytes(page, needle, reference_text.size()) == page.find(needle, reference_text.size()),
            "the byte search finds what find finds");

    const std::optional<Decimal> raw_decimal = Decimal::parse(raw), reference = Decimal::parse(reference_text);
    for (const auto& d : {raw_decimal, reference}) {
        if (d) check_decimal(*d);
    }
    if (raw_decimal && reference) check_pair(*raw_decimal, *reference);

    std::string page_buffer, raw_buffer;
    const extract::PriceScale scale = extract::PriceScale::from_html(decode_utf8_lossy(page, page_buffer));
    check_scale(scale);
    const Json raw_text(std::string(decode_utf8_lossy(raw, raw_buffer)));
    check_verdict(scale, &raw_text, reference);
    if (const std::optional<Json> raw_json = parse_json(raw)) check_verdict(scale, &*raw_json, reference);
    check_verdict(scale, nullptr, reference);
}

std::vector<std::string> seeds() {
    return {
        "19.99\n\n<p>$19.99 and $19.99</p>",
        "129900\n1299\n<p>USD</p>",
        "1,299.00\n\n<meta itemprop=\"priceCurrency\" content=\"usd\"><b>$1,299.00</b>",
        "2500\n25\n<span>\xe2\x82\xa9 2,500</span> \"currency\":\"KRW\"",
        "12.345\n-1\n<script>var p = \"$99\";</script><style>$98</style>\xc2\xa5 120",
        "0.125\n0.0000000000000000000000000001\n\xe2\x82\xac 1.299,00 NT$30",
        "79228162514264337593543950335\n-7.9228162514264337593543950335\n$18446744073709551616",
        "\"1_000.5\"\n1_000.5\n$1000 $1000 &#36;25",
        "2.5\n-13.505\n",
    };
}

}  // namespace

const Target kPrice{"price", run, seeds};

}  // namespace kuv::fuzz
