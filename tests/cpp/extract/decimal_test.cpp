#include "extract/decimal.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace kuv::extract {
namespace {

Decimal dec(std::string_view text) { return Decimal::parse(text).value(); }

std::string text_of(const std::optional<Decimal>& value) { return value ? value->to_string() : "none"; }

constexpr const char* kMax = "79228162514264337593543950335";  // 2^96 - 1
constexpr const char* kMin = "-79228162514264337593543950335";
constexpr const char* kTiny = "0.0000000000000000000000000001";  // 28 decimals

TEST(DecimalParse, AcceptsExactTextsKeepingTheirScaleAndFailsRatherThanRounding) {
    const std::pair<std::string, std::string> cases[] = {
        {"1.29900", "1.29900"}, {"+5", "5"}, {"5.", "5"}, {".5", "0.5"}, {"-.5", "-0.5"}, {"007", "7"}, {"-0", "0"},
        {"-0.00", "0.00"}, {"1_000_", "1000"}, {"1.2_3", "1.23"}, {kTiny, kTiny}, {kMax, kMax}, {kMin, kMin},
        {"7922816251426433759354395033.5", "7922816251426433759354395033.5"}, {"000000000000000000000000000001", "1"},
        {"", "none"}, {"-", "none"}, {".", "none"}, {"_", "none"}, {"_1", "none"}, {"1e5", "none"}, {"1.2.3", "none"},
        {"12,50", "none"}, {" 1", "none"}, {"1 ", "none"}, {"--1", "none"}, {"+-1", "none"}, {"$5", "none"},
        {"79228162514264337593543950336", "none"}, {"0.00000000000000000000000000001", "none"},
        {"1.00000000000000000000000000000", "none"},
    };
    for (const auto& [input, printed] : cases) EXPECT_EQ(text_of(Decimal::parse(input)), printed) << input;
}

std::optional<Decimal> apply(const Decimal& a, char op, const Decimal& b) {
    return op == '*' ? a.checked_mul(b) : op == '/' ? a.checked_div(b) : a.checked_sub(b);
}

TEST(DecimalArithmetic, ExactWhereItFitsRoundedOrFailedWhereItDoesNot) {
    struct Case { const char* a; char op; const char* b; const char* result; };
    const Case cases[] = {
        {"12.99", '*', "100", "1299.00"}, {"-2", '*', "-3", "6"}, {"-5", '*', "0", "0"}, {kMax, '*', "2", "none"},
        {"7922816251426433759354395033.5", '*', "10", kMax}, {kMax, '*', "0.5", "39614081257132168796771975168"},
        {"5000000000000000000000000001", '*', "2.5", "12500000000000000000000000002"},
        {"0.0000000000000000000000000003", '*', "0.5", "0.0000000000000000000000000002"},
        {kTiny, '*', "0.5", "0.0000000000000000000000000000"},
        {"1.0000000000000000000000000001", '*', "1.0000000000000000000000000001", "1.0000000000000000000000000002"},
        // A quotient keeps the dividend's scale less the divisor's, and more only where it must.
        {"1250", '/', "100", "12.5"}, {"129900", '/', "100", "1299"}, {"1299.00", '/', "100", "12.99"},
        {"12.50", '/', "1", "12.50"}, {"5", '/', "0.01", "500"}, {"7", '/', "-2", "-3.5"}, {"-7", '/', "-2", "3.5"},
        {"2", '/', "3", "0.6666666666666666666666666667"}, {"100", '/', "3", "33.333333333333333333333333333"},
        {kTiny, '/', "2", "0"}, {"0.0000000000000000000000000003", '/', "2", "0.0000000000000000000000000002"},
        {"7", '/', "0.00", "none"}, {kMax, '/', "0.1", "none"}, {kMax, '/', "2", "39614081257132168796771975168"},
        {"12.5", '-', "0.25", "12.25"}, {"1", '-', "1.00", "0.00"}, {"5", '-', "7", "-2"}, {kMin, '-', "1", "none"},
        {kMax, '-', "-1", "none"}, {kMax, '-', "0.5", "79228162514264337593543950334"}, {kTiny, '-', kMax, kMin},
        {kMax, '-', "1.5", "79228162514264337593543950334"},
    };
    for (const Case& c : cases) EXPECT_EQ(text_of(apply(dec(c.a), c.op, dec(c.b))), c.result) << c.a << c.op << c.b;
}

TEST(DecimalRounding, RoundsHalfToEven) {
    struct Case { const char* value; int places; const char* result; };  // places -1: two-decimal printing
    const Case cases[] = {
        {"1299.515", 2, "1299.52"}, {"1299.5051", 2, "1299.51"}, {"0.125", 2, "0.12"}, {"-2.5", 0, "-2"}, {"-3.5", 0, "-4"},
        {"-0.004", 2, "0.00"}, {"12.5", 2, "12.5"}, {"1.999", 2, "2.00"}, {"12", -1, "12.00"}, {"-0.004", -1, "0.00"},
        {"79228162514264337593543950.335", 0, "79228162514264337593543950"}, {"-3.456", -1, "-3.46"},
    };
    for (const Case& c : cases) {
        const Decimal value = dec(c.value);
        EXPECT_EQ(c.places < 0 ? value.to_string_2dp() : value.round_dp(c.places).to_string(), c.result) << c.value;
    }
}

TEST(DecimalParts, IntegersSignFractionAndAbsoluteValue) {
    struct Case { const char* value; std::optional<std::uint64_t> u; std::optional<std::int64_t> i; bool negative = false; };
    const Case cases[] = {
        {"12.00", 12u, 12}, {"12.5", std::nullopt, std::nullopt}, {"-1", std::nullopt, -1, true}, {"-0.0", 0u, 0},
        {"18446744073709551615", UINT64_MAX, std::nullopt}, {"18446744073709551616", std::nullopt, std::nullopt},
        {"9223372036854775807", 9223372036854775807u, INT64_MAX}, {"9223372036854775808", 1ull << 63, std::nullopt},
        {"-9223372036854775808", std::nullopt, INT64_MIN, true}, {"-9223372036854775809", std::nullopt, std::nullopt, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dec(c.value).to_u64(), c.u) << c.value;
        EXPECT_EQ(dec(c.value).to_i64(), c.i) << c.value;
        EXPECT_EQ(dec(c.value).is_negative(), c.negative) << c.value;
        if (c.i) { EXPECT_EQ(Decimal::from_int(*c.i), dec(c.value)) << c.value; }
    }
    EXPECT_EQ(dec("12.345").fract().to_string(), "0.345");
    EXPECT_EQ(dec("-1.5").fract().to_string(), "-0.5");
    EXPECT_EQ(dec("-1.50").abs().to_string(), "1.50");
}

TEST(DecimalCompare, OrdersByValueWhateverTheScale) {
    struct Case { const char* a; const char* b; int order; };
    const Case cases[] = {
        {"1.0", "1", 0}, {"0", "-0.00", 0}, {"1.5", "1.49", 1}, {"-1", "0", -1}, {"-1.5", "-1.49", -1},
        {kTiny, "0", 1}, {kMax, "7922816251426433759354395033.5", 1}, {kMin, "-0.0000000000000000000000000001", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(compare(dec(c.a), dec(c.b)), c.order) << c.a << " vs " << c.b;
        EXPECT_EQ(compare(dec(c.b), dec(c.a)), -c.order) << c.b << " vs " << c.a;
        EXPECT_EQ(dec(c.a) == dec(c.b), c.order == 0);
        EXPECT_EQ(dec(c.a) < dec(c.b), c.order < 0);
    }
}

}  // namespace
}  // namespace kuv::extract
