// The verdict on one raw price and the price properties it writes.
#include "core/json.hpp"
#include "extract/price.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using kuv::Json;
using kuv::extract::Decimal;
using kuv::extract::PriceScale;
using kuv::extract::PriceVerdict;

constexpr std::string_view kAbsent = "<absent>";  // the source had no price member

struct Expected {
    std::string price;
    std::int64_t cents;
    int scale;
    int score;
};

struct VerdictCase {
    std::string raw;  // JSON text of the raw price, or kAbsent
    std::optional<std::string> reference;
    std::vector<std::uint64_t> seen;
    std::vector<std::uint64_t> repeated;
    std::string_view currency;
    std::optional<Expected> expected;
};

PriceScale evidence(const VerdictCase& c) {
    PriceScale scale;
    scale.seen.insert(c.seen.begin(), c.seen.end());
    scale.repeated.insert(c.repeated.begin(), c.repeated.end());
    scale.currency = c.currency;
    scale.has_text_prices = !scale.seen.empty();
    return scale;
}

std::optional<PriceVerdict> judge(const VerdictCase& c) {
    std::optional<Decimal> reference;
    if (c.reference) {
        reference = Decimal::parse(*c.reference);
        EXPECT_TRUE(reference) << *c.reference;
    }
    if (c.raw == kAbsent) return evidence(c).verdict(nullptr, reference);
    const auto raw = kuv::parse_json(c.raw);
    EXPECT_TRUE(raw) << c.raw;
    if (!raw) return std::nullopt;
    return evidence(c).verdict(&*raw, reference);
}

void expect_verdicts(const std::vector<VerdictCase>& cases) {
    for (const auto& c : cases) {
        const auto verdict = judge(c);
        const std::string label = c.raw + " ref " + c.reference.value_or("none");
        ASSERT_EQ(verdict.has_value(), c.expected.has_value()) << label;
        if (!verdict) continue;
        EXPECT_EQ(verdict->price, c.expected->price) << label;
        EXPECT_EQ(verdict->price_cents, c.expected->cents) << label;
        EXPECT_EQ(verdict->price_scale, c.expected->scale) << label;
        EXPECT_EQ(verdict->score, c.expected->score) << label;
        EXPECT_EQ(verdict->currency, c.currency) << label;
    }
}

TEST(PriceVerdict, WorkedExamples) {
    expect_verdicts({
        {R"("1,299.00")", std::nullopt, {1299}, {}, "USD", Expected{"1299", 129900, 2, 2}},
        {"129900", "1299", {5000}, {}, "USD", Expected{"1299", 129900, 2, 3}},
        {"1300", "1299", {}, {}, "USD", Expected{"1300", 130000, 2, 3}},
        {"129900", std::nullopt, {1299}, {1299}, "", Expected{"1299", 129900, 2, 3}},
        {R"("19.99")", std::nullopt, {}, {}, "EUR", Expected{"19.99", 1999, 2, 0}},
        {"1500", std::nullopt, {1500}, {}, "JPY", Expected{"1500", 1500, 0, 2}},
        {"2500", "25", {}, {}, "KRW", Expected{"25", 25, 0, 3}},
        {"12.345", std::nullopt, {}, {}, "", Expected{"12.34", 1234, 2, 0}},
        {R"("USD")", "10", {10}, {10}, "USD", std::nullopt},
    });
}

TEST(PriceVerdict, UnreadablePricesGiveNoVerdict) {
    expect_verdicts({
        {std::string(kAbsent), std::nullopt, {10}, {}, "USD", std::nullopt},
        {"null", std::nullopt, {}, {}, "", std::nullopt},
        {"true", std::nullopt, {}, {}, "", std::nullopt},
        {"[12]", std::nullopt, {}, {}, "", std::nullopt},
        {R"({"price":12})", std::nullopt, {}, {}, "", std::nullopt},
        {R"("")", std::nullopt, {}, {}, "", std::nullopt},
        {R"("price on request")", std::nullopt, {}, {}, "", std::nullopt},
        {R"(".")", std::nullopt, {}, {}, "", std::nullopt},
        {R"("12.50 was 15.00")", std::nullopt, {}, {}, "", std::nullopt},
        {R"("79228162514264337593543950336")", std::nullopt, {}, {}, "", std::nullopt},
        {R"("0.00000000000000000000000000001")", std::nullopt, {}, {}, "", std::nullopt},
        // Numbers printed with an exponent do not parse.
        {"1e16", std::nullopt, {}, {}, "", std::nullopt},
        {"1.5e-7", std::nullopt, {}, {}, "", std::nullopt},
        {"1e300", std::nullopt, {}, {}, "", std::nullopt},
    });
}

TEST(PriceVerdict, ReadsTextAndNumbers) {
    expect_verdicts({
        {R"("-5")", std::nullopt, {}, {}, "", Expected{"5", 500, 2, 0}},
        {"-5", std::nullopt, {5000}, {}, "", Expected{"-5", -500, 2, 0}},
        {"-5", "5", {}, {}, "", Expected{"-5", -500, 2, 0}},
        {R"("12,50")", std::nullopt, {}, {}, "", Expected{"1250", 125000, 2, 0}},
        {R"("1.299,00")", std::nullopt, {}, {}, "", Expected{"1.30", 130, 2, 0}},
        {R"("US$ 24.90 ")", std::nullopt, {}, {}, "", Expected{"24.90", 2490, 2, 0}},
        {R"("١٢")", std::nullopt, {}, {}, "", std::nullopt},
        {R"("1.2e3")", std::nullopt, {}, {}, "", Expected{"1.23", 123, 2, 0}},
        {"100.0", std::nullopt, {}, {}, "", Expected{"100", 10000, 2, 0}},
        {"0.00001", std::nullopt, {}, {}, "", Expected{"0", 0, 2, 0}},
        {"18446744073709551615", std::nullopt, {}, {},
         "", Expected{"18446744073709551615", 0, 2, 0}},
    });
}

TEST(PriceVerdict, ReferencePriceDecidesTheUnits) {
    expect_verdicts({
        // Only a strictly positive reference takes part.
        {"996", "0", {}, {}, "", Expected{"996", 99600, 2, 0}},
        {"996", "-10", {}, {}, "", Expected{"996", 99600, 2, 0}},
        // Minor units: strictly within half the reference of 100 x reference.
        {"996", "10", {}, {}, "", Expected{"9.96", 996, 2, 3}},
        {"1004.99", "10", {}, {}, "", Expected{"10.05", 1005, 2, 3}},
        {"995", "10", {}, {}, "", Expected{"995", 99500, 2, 0}},
        {"1005", "10", {}, {}, "", Expected{"1005", 100500, 2, 0}},
        // Major units: strictly within a hundredth of the reference; the raw value is kept.
        {"100.99", "100", {}, {}, "", Expected{"100.99", 10099, 2, 3}},
        {"99.01", "100", {}, {}, "", Expected{"99.01", 9901, 2, 3}},
        {"101", "100", {}, {}, "", Expected{"101", 10100, 2, 0}},
        {"99", "100", {}, {}, "", Expected{"99", 9900, 2, 0}},
        // Without a reference match the page text still decides.
        {"995", "10", {995}, {}, "", Expected{"995", 99500, 2, 2}},
        // Overflow fails the test instead of stopping the page.
        {"5", "79228162514264337593543950335", {}, {}, "", Expected{"5", 500, 2, 0}},
        {"-9223372036854775808", "79228162514264337593543950335", {}, {},
         "", Expected{"-9223372036854775808", 0, 2, 0}},
        {R"("79228162514264337593543950335")", "79228162514264337593543950335", {}, {},
         "", Expected{"79228162514264337593543950335", 0, 2, 3}},
    });
}

TEST(PriceVerdict, PageAmountsDecideTheUnits) {
    expect_verdicts({
        // The raw value is rounded half-to-even before the lookup.
        {"1299.5", std::nullopt, {1300}, {}, "", Expected{"1299.50", 129950, 2, 2}},
        {"1298.5", std::nullopt, {1298}, {}, "", Expected{"1298.50", 129850, 2, 2}},
        {"1298.5", std::nullopt, {1299}, {}, "", Expected{"1298.50", 129850, 2, 0}},
        {"19.99", std::nullopt, {19}, {}, "", Expected{"19.99", 1999, 2, 0}},
        {R"("24.50")", std::nullopt, {24}, {}, "", Expected{"24.50", 2450, 2, 2}},
        {R"("25.50")", std::nullopt, {26}, {26}, "", Expected{"25.50", 2550, 2, 3}},
        // Whole hundreds are tried as minor units.
        {"129950", std::nullopt, {1299, 1300}, {}, "", Expected{"129950", 12995000, 2, 0}},
        {"1000", std::nullopt, {10}, {}, "", Expected{"10", 1000, 2, 2}},
        {"1000", std::nullopt, {10}, {10}, "", Expected{"10", 1000, 2, 3}},
        {"1000", std::nullopt, {10, 1000}, {10}, "", Expected{"1000", 100000, 2, 2}},
        {"100", std::nullopt, {1}, {}, "", Expected{"1", 100, 2, 2}},
        {"99", std::nullopt, {1}, {}, "", Expected{"99", 9900, 2, 0}},
        {"1000.00", std::nullopt, {10}, {}, "", Expected{"10", 1000, 2, 2}},
        // No amounts, negative values and values beyond u64 never match.
        {"1299", std::nullopt, {}, {}, "", Expected{"1299", 129900, 2, 0}},
        {"-1299", std::nullopt, {1299}, {}, "", Expected{"-1299", -129900, 2, 0}},
        {R"("18446744073709551616")", std::nullopt, {10}, {},
         "", Expected{"18446744073709551616", 0, 2, 0}},
        {R"("18446744073709551615.5")", std::nullopt, {10}, {},
         "", Expected{"18446744073709551615.50", 0, 2, 0}},
    });
}

TEST(PriceVerdict, NormalisesTextAndMinorUnits) {
    expect_verdicts({
        {"12.5", std::nullopt, {}, {}, "", Expected{"12.50", 1250, 2, 0}},
        {R"("12.00")", std::nullopt, {}, {}, "", Expected{"12", 1200, 2, 0}},
        {R"("1299.505")", std::nullopt, {}, {}, "", Expected{"1299.50", 129950, 2, 0}},
        {R"("1299.515")", std::nullopt, {}, {}, "", Expected{"1299.52", 129952, 2, 0}},
        {"0.004", std::nullopt, {}, {}, "", Expected{"0", 0, 2, 0}},
        {"0.125", std::nullopt, {}, {}, "", Expected{"0.12", 12, 2, 0}},
        {"0.135", std::nullopt, {}, {}, "", Expected{"0.14", 14, 2, 0}},
        {"1500.5", std::nullopt, {}, {}, "JPY", Expected{"1500", 1500, 0, 0}},
        {"1501.5", std::nullopt, {}, {}, "JPY", Expected{"1502", 1502, 0, 0}},
        {"-2.5", std::nullopt, {}, {}, "VND", Expected{"-2", -2, 0, 0}},
        {"1500", std::nullopt, {}, {}, "TWD", Expected{"1500", 1500, 0, 0}},
        {"1500", std::nullopt, {}, {}, "IDR", Expected{"1500", 1500, 0, 0}},
        {"1500", std::nullopt, {}, {}, "KRW", Expected{"1500", 1500, 0, 0}},
        {"1500", std::nullopt, {}, {}, "CNY", Expected{"1500", 150000, 2, 0}},
        // price_cents is 0 rather than a wrapped number when it leaves the i64 range.
        {R"("92233720368547758.07")", std::nullopt, {}, {},
         "", Expected{"92233720368547758.07", INT64_MAX, 2, 0}},
        {R"("92233720368547758.08")", std::nullopt, {}, {}, "", Expected{"92233720368547758.08", 0, 2, 0}},
        {"-9223372036854775808", std::nullopt, {}, {}, "JPY", Expected{"-9223372036854775808", INT64_MIN, 0, 0}},
        {R"("9223372036854775808")", std::nullopt, {}, {}, "JPY", Expected{"9223372036854775808", 0, 0, 0}},
        {R"("79228162514264337593543950335")", std::nullopt, {}, {},
         "", Expected{"79228162514264337593543950335", 0, 2, 0}},
    });
}

TEST(PriceVerdict, JudgesAgainstEvidenceGatheredFromThePage) {
    const PriceScale scale = PriceScale::from_html(
        R"(<script>{"priceCurrency":"USD"}</script><p>$1,299.00</p><p>Now $1,299.00</p>)");
    const Json raw = Json(129900);
    const auto verdict = scale.verdict(&raw, std::nullopt);
    ASSERT_TRUE(verdict);
    EXPECT_EQ(verdict->price, "1299");
    EXPECT_EQ(verdict->score, 3);
    EXPECT_EQ(verdict->currency, "USD");
}

struct WriteCase {
    PriceVerdict verdict;
    std::string props_before;
    std::string props_after;
};

TEST(PriceVerdictWrite, WritesThePricePropertiesReplacingOnlyThoseNames) {
    const std::vector<WriteCase> cases = {
        {{"1299", "USD", 129900, 2, 2}, "{}",
         R"({"currency":"USD","price":"1299","price_cents":129900,"price_confident":true,"price_scale":2,"price_score":2})"},
        {{"1299", "", 129900, 3, 2}, "{}",
         R"({"price":"1299","price_cents":129900,"price_confident":true,"price_scale":2,"price_score":3})"},
        {{"-5", "JPY", -5, 0, 0}, "null",
         R"({"currency":"JPY","price":"-5","price_cents":-5,"price_confident":false,"price_scale":0,"price_score":0})"},
        {{"19.99", "", 1999, 0, 2}, R"({"currency":"GBP","name":"A","price":"x","price_score":"n"})",
         R"({"currency":"GBP","name":"A","price":"19.99","price_cents":1999,"price_confident":false,"price_scale":2,"price_score":0})"},
        {{"19.99", "EUR", 1999, 2, 2}, R"({"currency":"GBP","name":"A","price":19.99})",
         R"({"currency":"EUR","name":"A","price":"19.99","price_cents":1999,"price_confident":true,"price_scale":2,"price_score":2})"},
    };
    for (const auto& c : cases) {
        auto props = kuv::parse_json(c.props_before);
        ASSERT_TRUE(props) << c.props_before;
        c.verdict.write_into(*props);
        EXPECT_EQ(kuv::to_json_text(*props), c.props_after);
        EXPECT_TRUE((*props)["price_cents"].is_number_integer());
        EXPECT_TRUE((*props)["price_scale"].is_number_integer());
        EXPECT_TRUE((*props)["price_score"].is_number_integer());
        EXPECT_TRUE((*props)["price_confident"].is_boolean());
    }
}

TEST(PriceDecimalToU64Round, RoundsHalfToEvenWithinRange) {
    struct Case { std::string value; std::optional<std::uint64_t> expected; };
    const std::vector<Case> cases = {
        {"0", 0},
        {"0.5", 0},
        {"1.5", 2},
        {"2.5", 2},
        {"1299.5", 1300},
        {"1298.5", 1298},
        {"12.49", 12},
        {"-0.4", 0},
        {"-0.6", std::nullopt},
        {"-1", std::nullopt},
        {"18446744073709551615", 18446744073709551615ULL},
        {"18446744073709551615.4", 18446744073709551615ULL},
        {"18446744073709551615.5", std::nullopt},
        {"18446744073709551616", std::nullopt},
        {"79228162514264337593543950335", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto value = Decimal::parse(c.value);
        ASSERT_TRUE(value) << c.value;
        EXPECT_EQ(kuv::extract::decimal_to_u64_round(*value), c.expected) << c.value;
    }
}

}  // namespace
