// The verdict on one raw price and the price properties it writes.
#include "core/json.hpp"
#include "extract/price.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kuv::extract {
namespace {

// "price cents score scale currency", or "none" without a verdict.
std::string summary(const std::optional<PriceVerdict>& v) {
    if (!v) return "none";
    return v->price + " " + std::to_string(v->price_cents) + " " + std::to_string(v->score) + " " +
           std::to_string(v->price_scale) + (v->currency.empty() ? "" : " " + std::string(v->currency));
}

struct VerdictCase {
    std::string raw;  // JSON text of the raw price
    std::optional<std::string> reference;
    std::string expected;  // a summary
    AmountSet seen = {}, repeated = {};
    std::string_view currency = "";
};

void expect_verdicts(const std::vector<VerdictCase>& cases) {
    for (const auto& c : cases) {
        const PriceScale evidence{c.seen, c.repeated, c.currency, !c.seen.empty()};
        const auto reference = c.reference ? std::optional{Decimal::parse(*c.reference).value()} : std::nullopt;
        const Json raw = parse_json(c.raw).value();
        EXPECT_EQ(summary(evidence.verdict(&raw, reference)), c.expected) << c.raw << " " << c.reference.value_or("");
    }
}

TEST(PriceVerdict, WorkedExamples) {
    expect_verdicts({
        {R"("1,299.00")", {}, "1299 129900 2 2 USD", {1299}, {}, "USD"}, {"129900", "1299", "1299 129900 3 2", {5000}},
        {"1300", "1299", "1300 130000 3 2"}, {"129900", {}, "1299 129900 3 2", {1299}, {1299}}, {"12.345", {}, "12.34 1234 0 2"},
        {R"("19.99")", {}, "19.99 1999 0 2 EUR", {}, {}, "EUR"}, {"1500", {}, "1500 1500 2 0 JPY", {1500}, {}, "JPY"},
        {"2500", "25", "25 25 3 0 KRW", {}, {}, "KRW"}, {R"("USD")", "10", "none", {10}, {10}, "USD"},
    });
}

TEST(PriceVerdict, ReadsAndNormalisesTheAmount) {
    EXPECT_FALSE(PriceScale{}.verdict(nullptr, Decimal::parse("10")));
    expect_verdicts({
        {R"("-5")", {}, "5 500 0 2"}, {"-5", {}, "-5 -500 0 2", {5000}}, {R"("1.299,00")", {}, "1.30 130 0 2"},
        {R"("US$ 24.90 ")", {}, "24.90 2490 0 2"}, {"0.00001", {}, "0 0 0 2"},
        // Two decimals, or none when the cents are zero; zero-decimal currencies round to whole units half-to-even.
        {"12.5", {}, "12.50 1250 0 2"}, {R"("12.00")", {}, "12 1200 0 2"}, {R"("1299.505")", {}, "1299.50 129950 0 2"},
        {"0.135", {}, "0.14 14 0 2"}, {"1500.5", {}, "1500 1500 0 0 JPY", {}, {}, "JPY"}, {"-2.5", {}, "-2 -2 0 0 VND", {}, {}, "VND"},
        {"1501.5", {}, "1502 1502 0 0 IDR", {}, {}, "IDR"}, {"1500", {}, "1500 150000 0 2 CNY", {}, {}, "CNY"},
        // price_cents is 0 rather than a wrapped number when it leaves the i64 range.
        {R"("92233720368547758.07")", {}, "92233720368547758.07 9223372036854775807 0 2"},
        {R"("92233720368547758.08")", {}, "92233720368547758.08 0 0 2"}, {"18446744073709551615", {}, "18446744073709551615 0 0 2"},
        {"-9223372036854775808", {}, "-9223372036854775808 -9223372036854775808 0 0 JPY", {}, {}, "JPY"},
        {R"("9223372036854775808")", {}, "9223372036854775808 0 0 0 JPY", {}, {}, "JPY"},
        // Texts keep only digits and points and must then parse exactly; numbers printed with an exponent do not.
        {"null", {}, "none"}, {"[12]", {}, "none"}, {R"("price on request")", {}, "none"}, {R"(".")", {}, "none"},
        {R"("12.50 was 15.00")", {}, "none"}, {R"("79228162514264337593543950336")", {}, "none"}, {R"("١٢")", {}, "none"},
        {R"("0.00000000000000000000000000001")", {}, "none"}, {"1e16", {}, "none"}, {"1.5e-7", {}, "none"},
    });
}

TEST(PriceVerdict, ReferenceThenPageAmountsDecideTheUnits) {
    const std::string kMax = "79228162514264337593543950335";
    expect_verdicts({
        // Minor units: strictly within half the reference of 100 x reference, which must be strictly positive.
        {"996", "10", "9.96 996 3 2"}, {"1004.99", "10", "10.05 1005 3 2"}, {"995", "10", "995 99500 0 2"},
        {"1005", "10", "1005 100500 0 2"}, {"996", "0", "996 99600 0 2"},
        // Major units: strictly within a hundredth of the reference; the raw value is kept.
        {"100.99", "100", "100.99 10099 3 2"}, {"99.01", "100", "99.01 9901 3 2"}, {"101", "100", "101 10100 0 2"},
        {"99", "100", "99 9900 0 2"},
        // Without a reference match the page amounts decide, compared after rounding half-to-even.
        {"995", "10", "995 99500 2 2", {995}}, {"1299.5", {}, "1299.50 129950 2 2", {1300}},
        {"1298.5", {}, "1298.50 129850 2 2", {1298}}, {"1298.5", {}, "1298.50 129850 0 2", {1299}},
        {"19.99", {}, "19.99 1999 0 2", {19}}, {R"("25.50")", {}, "25.50 2550 3 2", {26}, {26}},
        // Whole hundreds are tried as minor units.
        {"129950", {}, "129950 12995000 0 2", {1299, 1300}}, {"1000", {}, "10 1000 2 2", {10}},
        {"1000", {}, "10 1000 3 2", {10}, {10}}, {"1000", {}, "1000 100000 2 2", {10, 1000}, {10}},
        // No amounts, negative values and values beyond u64 never match; overflow fails a test, not the page.
        {"1299", {}, "1299 129900 0 2"}, {"-1299", {}, "-1299 -129900 0 2", {1299}}, {"-5", "5", "-5 -500 0 2"},
        {R"("18446744073709551616")", {}, "18446744073709551616 0 0 2", {10}}, {"5", kMax, "5 500 0 2"},
        {R"("18446744073709551615.5")", {}, "18446744073709551615.50 0 0 2", {10}},
        {"-9223372036854775808", kMax, "-9223372036854775808 0 0 2"}, {'"' + kMax + '"', kMax, kMax + " 0 3 2"},
    });
}

TEST(PriceVerdictWrite, WritesThePricePropertiesReplacingOnlyThoseNames) {
    struct Case { PriceVerdict verdict; std::string before; std::string after; };
    const std::vector<Case> cases = {
        {{"-5", "JPY", -5, 0, 0}, "null",
         R"({"currency":"JPY","price":"-5","price_cents":-5,"price_confident":false,"price_scale":0,"price_score":0})"},
        {{"19.99", "", 1999, 2, 2}, R"({"currency":"GBP","name":"A","price":19.99,"price_score":"n"})",
         R"({"currency":"GBP","name":"A","price":"19.99","price_cents":1999,"price_confident":true,"price_scale":2,)"
         R"("price_score":2})"},
    };
    for (const auto& c : cases) {
        Json props = parse_json(c.before).value();
        c.verdict.write_into(props);
        EXPECT_EQ(to_json_text(props), c.after);
    }
}

}  // namespace
}  // namespace kuv::extract
