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
#include <string>

namespace kuv::fuzz {
namespace {

using extract::Decimal;

struct Input {
    std::string_view raw, reference, page;
};

Input split(std::string_view input) {
    Input parts;
    std::string_view* fields[] = {&parts.raw, &parts.reference};
    for (std::string_view* field : fields) {
        const std::size_t end = input.find('\n');
        *field = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view{} : input.substr(end + 1);
    }
    parts.page = input;
    return parts;
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
    const std::string text = d.to_string();
    const std::size_t point = text.find('.');
    Shape shape;
    shape.scale = point == std::string::npos ? 0 : text.size() - point - 1;
    std::string mantissa;
    std::ranges::copy_if(text, std::back_inserter(mantissa), [](char c) { return c >= '0' && c <= '9'; });
    const std::size_t first = mantissa.find_first_not_of('0');
    shape.digits = first == std::string::npos ? 0 : mantissa.size() - first;
    return shape;
}

// Half a unit of the `places`-th decimal place: 0.5, 0.05, ...
Decimal half_unit(unsigned places) { return decimal("0." + std::string(places, '0') + "5"); }

void check_decimal(const Decimal& d) {
    const std::string text = d.to_string();
    const Decimal again = decimal(text);
    require(compare(again, d) == 0 && again.to_string() == text, "a decimal's printed text reads back unchanged");
    require(compare(d, d) == 0, "a decimal equals itself");

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

    const Decimal fraction = d.fract();
    require(compare(fraction.abs(), Decimal::from_int(1)) < 0, "a fractional part is below one");
    require(fraction.is_zero() || fraction.is_negative() == d.is_negative(), "a fractional part keeps the sign");
    const std::optional<Decimal> whole = d.checked_sub(fraction);
    require(whole && whole->fract().is_zero(), "without its fractional part a decimal is whole");
    if (const auto value = d.to_i64()) require(compare(Decimal::from_int(*value), d) == 0, "to_i64 keeps the value");
    if (const auto value = d.to_u64(); value && *value <= INT64_MAX) {
        require(compare(Decimal::from_int(std::int64_t(*value)), d) == 0, "to_u64 keeps the value");
    }
    if (fraction.is_zero() && compare(d.abs(), Decimal::from_int(INT64_MAX)) <= 0) {
        require(d.to_i64().has_value(), "a whole decimal in range converts to i64");
    }
    const auto rounded_u64 = extract::decimal_to_u64_round(d);
    require(d.round_dp(0).is_negative() ? !rounded_u64 : rounded_u64 == d.round_dp(0).to_u64(),
            "decimal_to_u64_round is rounding to a whole u64");
}

void check_pair(const Decimal& a, const Decimal& b) {
    const int order = compare(a, b);
    require(compare(b, a) == -order, "comparison is antisymmetric");
    if (const std::optional<Decimal> difference = a.checked_sub(b)) {
        const int sign = difference->is_zero() ? 0 : (difference->is_negative() ? -1 : 1);
        require(sign == (order > 0) - (order < 0), "a difference has the sign of the comparison");
    }
    const std::optional<Decimal> product = a.checked_mul(b), swapped = b.checked_mul(a);
    require(product.has_value() == swapped.has_value(), "multiplication commutes");
    if (product) require(product->to_string() == swapped->to_string(), "multiplication commutes");
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
    require(!a.checked_div(Decimal{}).has_value(), "division by zero fails");
}

constexpr std::array<std::string_view, 20> kCurrencyCodes = {
    "USD", "EUR", "GBP", "JPY", "CNY", "TWD", "HKD", "SGD", "AUD", "CAD",
    "KRW", "INR", "ILS", "THB", "MYR", "PHP", "IDR", "VND", "BRL", "MXN",
};
constexpr std::array<std::string_view, 5> kZeroDecimalCurrencies = {"JPY", "KRW", "TWD", "VND", "IDR"};

void check_scale(const extract::PriceScale& scale) {
    for (const std::uint64_t amount : scale.repeated) require(scale.seen.contains(amount), "repeated amounts are seen");
    for (const std::uint64_t amount : scale.seen) {
        require(amount >= 10 && (amount < 1900 || amount > 2100), "seen amounts pass the amount filter");
    }
    require(scale.has_text_prices == !scale.seen.empty(), "text prices exactly when amounts are seen");
    require(scale.currency.empty() || std::ranges::find(kCurrencyCodes, scale.currency) != kCurrencyCodes.end(),
            "the page currency is a known code");
}

void check_written_props(const extract::PriceVerdict& v) {
    Json props = Json::object({{"price", 1}, {"currency", "XXX"}, {"keep", true}});
    v.write_into(props);
    require(props["price"] == v.price && props["price_cents"] == v.price_cents &&
                props["price_scale"] == v.price_scale && props["price_score"] == v.score &&
                props["price_confident"] == (v.score >= 2) && props["keep"] == true,
            "write_into writes the verdict's fields and keeps other members");
    require(props["currency"] == (v.currency.empty() ? std::string("XXX") : std::string(v.currency)),
            "write_into writes a known currency only");
    const std::optional<Json> reparsed = parse_json(to_json_text(props));
    require(reparsed && to_json_text(*reparsed) == to_json_text(props), "written props print as JSON");
}

// A whole number, or for a two-digit currency a number with two decimals that are not both zero.
// (Near 2^96 such a text may hold more digits than a decimal does, so it is checked as text.)
void check_price_text(std::string_view price, bool zero_decimal) {
    if (price.starts_with('-')) price.remove_prefix(1);
    const std::size_t point = price.find('.');
    const std::string_view whole = price.substr(0, point);
    const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    require(!whole.empty() && std::ranges::all_of(whole, is_digit), "the price text starts with its whole part");
    if (point == std::string_view::npos) return;
    const std::string_view decimals = price.substr(point + 1);
    require(!zero_decimal && decimals.size() == 2 && std::ranges::all_of(decimals, is_digit) && decimals != "00",
            "the price text has two decimals, not both zero, for a two-digit currency only");
}

// The price text shifted by the currency's minor-unit digits, without leading zeros.
std::string minor_units_text(std::string_view price, bool zero_decimal) {
    const bool negative = price.starts_with('-');
    if (negative) price.remove_prefix(1);
    std::string digits(price);
    if (const std::size_t point = digits.find('.'); point != std::string::npos) {
        digits.erase(point, 1);
    } else if (!zero_decimal) {
        digits += "00";
    }
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    return (negative && digits != "0" ? "-" : "") + digits;
}

void check_verdict(const extract::PriceScale& scale, const Json* raw, const std::optional<Decimal>& reference) {
    const std::optional<extract::PriceVerdict> v = scale.verdict(raw, reference);
    const std::optional<extract::PriceVerdict> again = scale.verdict(raw, reference);
    require(v.has_value() == again.has_value() && (!v || (v->price == again->price && v->score == again->score)),
            "a verdict depends only on its inputs");
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
    check_price_text(v->price, zero_decimal);
    const std::string cents = minor_units_text(v->price, zero_decimal);
    std::int64_t expected = 0;
    const auto [end, error] = std::from_chars(cents.data(), cents.data() + cents.size(), expected);
    require(end == cents.data() + cents.size() && (error == std::errc() || error == std::errc::result_out_of_range),
            "minor units are an integer");
    require(v->price_cents == (error == std::errc() ? expected : 0), "price_cents is the price in minor units, or 0");
    check_written_props(*v);
}

// The vectorised substring search reports what std::string_view::find does: the raw line's
// first bytes sought in the page, from the reference line's length on.
void check_byte_search(const Input& parts) {
    const std::string_view needle = parts.raw.substr(0, 16);
    const std::size_t from = parts.reference.size();
    require(extract::find_bytes(parts.page, needle, from) == parts.page.find(needle, from),
            "the byte search finds what find finds");
}

}  // namespace

void run_price(std::string_view input) {
    const Input parts = split(input);
    check_byte_search(parts);
    const std::optional<Decimal> raw_decimal = Decimal::parse(parts.raw);
    const std::optional<Decimal> reference = Decimal::parse(parts.reference);
    for (const auto& d : {raw_decimal, reference}) {
        if (d) check_decimal(*d);
    }
    if (raw_decimal && reference) check_pair(*raw_decimal, *reference);

    std::string page_buffer, raw_buffer;
    const extract::PriceScale scale = extract::PriceScale::from_html(decode_utf8_lossy(parts.page, page_buffer));
    check_scale(scale);
    const Json raw_text(std::string(decode_utf8_lossy(parts.raw, raw_buffer)));
    check_verdict(scale, &raw_text, reference);
    if (const std::optional<Json> raw_json = parse_json(parts.raw)) check_verdict(scale, &*raw_json, reference);
    check_verdict(scale, nullptr, reference);
}

std::vector<std::string> price_seeds() {
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

}  // namespace kuv::fuzz
