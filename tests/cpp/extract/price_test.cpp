// Page price evidence: visible text, currency-marked amounts and the page currency.
#include "extract/price.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace kuv::extract {
namespace {

std::string repeat(std::string_view unit, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += unit;
    return out;
}

struct EvidenceCase { std::string html; std::set<std::uint64_t> seen, repeated = {}; };

void expect_evidence(const EvidenceCase& c) {
    const PriceScale scale = PriceScale::from_html(c.html);
    EXPECT_EQ(std::set(scale.seen.begin(), scale.seen.end()), c.seen) << c.html.substr(0, 60);
    EXPECT_EQ(std::set(scale.repeated.begin(), scale.repeated.end()), c.repeated) << c.html.substr(0, 60);
    EXPECT_EQ(scale.has_text_prices, !c.seen.empty()) << c.html.substr(0, 60);
}

TEST(PriceEvidence, RecordsWholeAmountsBesideCurrencySymbols) {
    const std::vector<EvidenceCase> cases = {
        {"$30 $30 $30 $40", {30, 40}, {30}}, {"<p>42 items</p>", {}}, {"$19.99", {19}}, {"12,5 \u20AC", {12}},  // fractions are dropped
        // Three digits after the last separator, or none, make every separator grouping.
        {"$18,446,744,073,709,551,616.99", {}}, {"1.299,00 \u20AC", {1299}}, {"$1,299.00", {1299}}, {"$12.50.", {1250}},
        {"\u20AC1.299", {1299}}, {"$1.2.34", {12}}, {"$18446744073709551615", {UINT64_MAX}}, {"$18446744073709551616", {}},
        // Amounts below 10 and the likely years 1900 to 2100 do not count.
        {"$9.99 $10", {10}}, {"$2,000 \u20AC1999 $1900 $2100", {}}, {"$2,101 $1,899", {1899, 2101}},
        // Neighbours are the nearest characters that are not white space.
        {"$1 299", {}}, {"$1 299 \u20AC", {299}}, {"$\n\t\u00A0\u3000\u2028 25", {25}}, {"25\u202F\u205F\u20AC", {25}},
        {"25$30", {25, 30}}, {"$25x", {25}}, {"x25 y", {}}, {"&#36;25 &dollar;25 &euro;25", {}},  // references stay undecoded
        // Tags become one space; script and style blocks vanish without one.
        {"<span>$</span><b>25</b>", {25}}, {"$<!-- note -->25", {25}}, {"$<SCRIPT>var a = $30;</ScRiPt>25", {25}},
        {"$<style>p{}</style>25", {25}}, {"$25 <script>$30", {25}}, {"a < b $25 > c", {}}, {"$25<", {25}},
        // A block opens at any tag whose name starts with script or style and ends at the first closing tag that
        // starts with that name, whatever follows the name up to its '>'; unclosed, it runs to the end.
        {"$<scripts>$30</scriptx>25", {25}}, {"$<stylesheet>$30</STYLESHEET>25", {25}}, {"$<script a='>'>x</script  >25", {25}},
        {"$<script>a</b>< /script>$30</script>25", {25}}, {"$< script>$30</script>25", {30}}, {"$25 <script>a</style>$30</scrip>$40", {25}},
        // A truncated UTF-8 sequence never swallows the '<' or the digit after it.
        {"\xE2\x82<b>$25</b>", {25}}, {"$\xE2\x82" "25", {}}, {"\xF0\x9F$25", {25}},
    };
    for (const auto& c : cases) expect_evidence(c);
}

// The visible text is read as one stream: a removed block joins what stands around it, and the
// neighbour after a run may lie past white space, tags and other runs.
TEST(PriceEvidence, RunsAndNeighboursAcrossTheStream) {
    const std::vector<EvidenceCase> cases = {
        {"$12<script>x</script>34", {1234}}, {"12<style>p{}</style>34 \u20AC", {1234}}, {"$1,2<script>x</script>99", {1299}},
        {"25 <b>$</b>", {25}}, {"25 <br> \u00A0 \u20AC", {25}}, {"25<script>$</script>", {}}, {"25<script>$</script>$", {25}},
        {"$25 30 $", {25, 30}}, {"25 30$", {30}}, {"$.25", {}}, {"$ .25", {}}, {"$,25 $", {25}}, {"$25.", {25}}, {"$25,", {25}},
        {"\u20AC 25\u00A0\u00A0", {25}}, {"\u5186 12 \u5186", {12}}, {"x\u20AC\u3000 40", {40}}, {"\u20AC\uFFFD40", {}},
        {"$40\xFF", {40}}, {"40\xE2\x82 \u20AC", {}}, {"40 \xE2\x82\xAC", {40}}, {"$10$20$30", {10, 20, 30}},
        {"$10 $10 <p>10 $</p>", {10}, {10}}, {"50", {}}, {"$", {}}, {"$ ", {}}, {" 50 $", {50}},
        {"$<s>25</s>", {25}}, {"<S $30>$25<Sty $40>", {25}}, {"$<span>25</span>", {25}}, {"$<Style>25", {}},
    };
    for (const auto& c : cases) expect_evidence(c);
}

// Plain text is passed over in blocks: whatever stands at any offset into a block still counts,
// and a symbol still waits for its amount across any stretch of white space.
TEST(PriceEvidence, MarksAtEveryOffsetOfPlainText) {
    for (std::size_t offset = 0; offset < 40; ++offset) {
        const std::string text(offset, 'x');
        const std::string space(offset, ' ');
        const std::vector<EvidenceCase> cases = {
            {text + "$25", {25}}, {text + "25$", {25}}, {text + "\u20AC" + space + "30", {30}}, {text + "<b>$</b>" + space + "40", {40}},
            {"$" + text + "50", offset == 0 ? std::set<std::uint64_t>{50} : std::set<std::uint64_t>{}},
            {text + "60" + space + "\u00A5" + text, {60}}, {text + "70 " + text + "\u00A5", offset == 0 ? std::set<std::uint64_t>{70} : std::set<std::uint64_t>{}},
        };
        for (const auto& c : cases) expect_evidence(c);
    }
}

TEST(PriceEvidence, OnlyTheFixedSymbolsMarkAmounts) {
    for (const std::string symbol : {"$", "\u00A2", "\u00A3", "\u00A4", "\u00A5", "\u20A0", "\u20A9", "\u20AA", "\u20AB", "\u20AC",
                                     "\u20B9", "\u20BD", "\u20BF", "\u5143", "\u5186", "\u5706", "\u5713", "\uC6D0", "\uFDFC"}) {
        for (const std::string& html : {symbol + "25", "25" + symbol}) expect_evidence({html, {25}});
    }
    for (const std::string other : {"\uFF04", "\u20C0", "\u209F", "\u00A6", "\u00A1", "kr", "#", "\uFFFD", "\xFF"}) {
        for (const std::string& html : {other + "25", "25" + other}) expect_evidence({html, {}});
    }
}

TEST(PriceEvidence, NamesThePageCurrency) {
    const std::string filler = "0123456789012345678901234";
    const std::vector<std::pair<std::string, std::string_view>> cases = {
        {R"({"priceCurrency":"usd"})", "USD"}, {R"({"currency": "Euro"})", "EUR"}, {R"({"currency":"abcusd"})", "USD"},
        {R"(<meta itemprop="priceCurrency" content="usd">)", "USD"}, {R"({"currency":{"code":"EUR"}})", "EUR"},
        {R"({"currency_code":"thb"})", "THB"}, {R"({"currency":"U1SD"})", ""}, {R"({"currency":"ＵＳＤ"})", ""},
        {R"({"PriceCurrency":"EUR"})", ""}, {"\u00A325", "GBP"},
        // Keys are tried in order, each at its first occurrence only, looking 16 bytes past the key.
        {R"("currency":"GBP" "priceCurrency":"JPY")", "JPY"}, {R"("priceCurrency":"xx)" + filler + R"(" "currency":"CAD")", "CAD"},
        {R"("currency":"zz)" + filler + R"(" "currency":"CAD")", ""}, {R"("currency":"EU)", ""},
        {R"("currency":)" + std::string(12, ' ') + "USD", "USD"}, {R"("currency":)" + std::string(13, ' ') + "USD", ""},
        // Symbol fallback, in table order, anywhere in the raw text.
        {R"({"currency":"US Dollar"} <p>$25</p>)", ""}, {"<script>var sign = '\u20AC';</script><p>$25</p>", "EUR"},
        {"\u00A325 \u20AC30", "EUR"}, {"\u20A925 \u20B925", "INR"}, {"NT$100", "TWD"},
        {"NT\uFF04100", "TWD"}, {"nt$100", ""}, {"&euro;25", ""}, {"<p>\u00A525</p>", ""}, {R"({"currency":"xyz"} ₩25)", "KRW"},
    };
    for (const auto& [html, currency] : cases) EXPECT_EQ(PriceScale::from_html(html).currency, currency) << html;
}

// Inputs of one to two megabytes built to defeat rescanning; each must come back quickly.
TEST(PriceEvidence, LargeAdversarialPagesStayLinear) {
    constexpr std::size_t kMegabyte = 1 << 20;
    const std::vector<EvidenceCase> cases = {
        {"$25 " + repeat("<script", 300'000), {25}}, {"$25 " + repeat("<script>", 250'000), {25}},
        {"$25 <script>" + repeat("</scrip<", 250'000), {25}}, {"$25 " + repeat("<style x", 250'000) + ">", {25}},
        {"$25 " + repeat("<a", 500'000), {25}}, {"25" + repeat(" ", 2 * kMegabyte) + "$", {25}},
        {repeat("7" + std::string(1000, ' '), 1000), {}}, {repeat("$7 ", 500'000), {}}, {repeat("$", kMegabyte) + "25", {25}},
        {"$" + repeat("9", kMegabyte), {}}, {"$" + repeat("0", kMegabyte) + "25", {25}},
        {"$" + repeat("1,2.", 300'000), {}}, {repeat("$12.34 ", 200'000), {12}, {12}}, {repeat("\u20AC", 400'000), {}},
    };
    for (const auto& c : cases) expect_evidence(c);
    std::string distinct_amounts;
    for (std::uint64_t k = 1; distinct_amounts.size() < kMegabyte; ++k) {
        distinct_amounts += "$" + std::to_string(k * 1'000'003) + " ";
    }
    const PriceScale many = PriceScale::from_html(distinct_amounts);
    EXPECT_GT(many.seen.size(), 50'000u);
    EXPECT_TRUE(many.repeated.empty());
}

}  // namespace
}  // namespace kuv::extract
