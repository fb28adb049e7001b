#include "extract/dom_attr.hpp"

#include "extract/graph_snapshot.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace kuv::extract::dom_attr {
namespace {

using core::RelType;
using testing::EdgeRow;
using testing::NodeRow;

std::vector<std::string> printed(const std::vector<Json>& values) {
    std::vector<std::string> out;
    for (const Json& value : values) out.push_back(to_json_text(value));
    return out;
}

struct FindCase {
    const char* what;
    std::string html;
    std::vector<std::string> expected;
};

TEST(FindGaProducts, CollectsEveryParsableValueInPageOrder) {
    const std::vector<FindCase> cases = {
        {"second of three invalid",
         R"(<a ga-product='{"id":"1"}'></a><a ga-product='{bad}'></a><a ga-product='[2]'></a>)",
         {R"({"id":"1"})", "[2]"}},
        {"double quotes", R"(<a ga-product="{&quot;id&quot;:1}">)", {}},
        {"spaces around equals", R"(<a ga-product = '{"id":"1"}'>)", {}},
        {"other letter case", R"(<a GA-PRODUCT='{"id":"1"}'>)", {}},
        {"character references stay as written", R"(<a ga-product='{&quot;id&quot;:&quot;1&quot;}'>)", {}},
        {"apostrophe cuts the value, the search goes on after it",
         R"(<a ga-product='{"id":"1","title":"Bob's"}'></a><a ga-product='{"id":"2"}'>)", {R"({"id":"2"})"}},
        {"value right after the cut counts",
         R"(ga-product='{"t":"x'ga-product='3')", {"3"}},
        {"white space around the value", "ga-product=' \n{\"a\":1}\t '", {R"({"a":1})"}},
        {"scalars and empty objects are values", "ga-product='42' ga-product='{}' ga-product='\"s\"'",
         {"42", "{}", "\"s\""}},
        {"empty value does not parse", "ga-product=''", {}},
        {"no closing quote ends the search", R"(ga-product='{"a":1}' ga-product='{"b":2})", {R"({"a":1})"}},
        {"needle without value", "ga-product='", {}},
        {"no needle", "<html><body>ga-product</body></html>", {}},
    };
    for (const FindCase& c : cases) EXPECT_EQ(printed(find_ga_products(c.html)), c.expected) << c.what;
}

TEST(FindGaProducts, ManyOrDeepValuesStayLinear) {
    std::string many;
    for (int i = 0; i < 100'000; ++i) many += R"(<i ga-product='{"id":"p"}'></i>)";
    std::string deep = "ga-product='" + std::string(100'000, '[') + "' ga-product='7'";
    std::string unclosed;
    for (int i = 0; i < 100'000; ++i) unclosed += "ga-product='";

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(find_ga_products(many).size(), 100'000u);
    EXPECT_EQ(printed(find_ga_products(deep)), std::vector<std::string>{"7"});
    EXPECT_TRUE(find_ga_products(unclosed).empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

struct IngestCase {
    const char* what;
    std::vector<std::string> records;
    std::vector<NodeRow> nodes;
    std::vector<EdgeRow> edges;
};

// The verdict keys of an unsupported price on a page without evidence or currency.
std::string unsupported_price(const std::string& price, int cents) {
    return R"("price":")" + price + R"(","price_cents":)" + std::to_string(cents) +
           R"(,"price_confident":false,"price_scale":2,"price_score":0)";
}

TEST(IngestGaProduct, WritesProductsAndKeyedVariants) {
    const std::string two_sizes =
        R"({"id":"p","title":"Shirt","variations":"[{\"key\":\"S\",\"price\":\"12.5\"},{\"key\":\"M\",\"price\":7}]"})";
    const std::vector<IngestCase> cases = {
        {"not an object", {"42", R"(["id"])", "{}"}, {}, {}},
        {"numeric id is not used", {R"({"id":42,"title":"T"})"}, {}, {}},
        {"empty id", {R"({"id":"","title":"T"})"}, {}, {}},
        {"string id; name is not consulted",
         {R"({"id":"42","name":"N"})"},
         {{"Product", "42", "", R"({"id":"42","name":"N"})"}},
         {}},
        {"own price is neither judged nor normalised",
         {R"({"title":"Shirt","price":"19.99","id":"a"})"},
         {{"Product", "a", "Shirt", R"({"id":"a","price":"19.99","title":"Shirt"})"}},
         {}},
        {"non-string title gives an empty name",
         {R"({"id":"a","title":7})"},
         {{"Product", "a", "", R"({"id":"a","title":7})"}},
         {}},
        {"variations string gives keyed variants in order",
         {two_sizes},
         {{"Product", "p", "Shirt", to_json_text(*parse_json(two_sizes))},
          {"Variant", "p#vS", "", R"({"key":"S",)" + unsupported_price("12.50", 1250) + "}"},
          {"Variant", "p#vM", "", R"({"key":"M",)" + unsupported_price("7", 700) + "}"}},
         {{"p", RelType::HasVariant, "p#vS"}, {"p", RelType::HasVariant, "p#vM"}}},
        {"unusable variations are skipped",
         {R"({"id":"p","variations":"[1,{},{\"key\":\"\"},{\"key\":5},[\"key\"],{\"key\":\"L\",\"price\":\"n/a\"}]"})"},
         {{"Product", "p", "",
           R"({"id":"p","variations":"[1,{},{\"key\":\"\"},{\"key\":5},[\"key\"],{\"key\":\"L\",\"price\":\"n/a\"}]"})"},
          {"Variant", "p#vL", "", R"({"key":"L","price":"n/a"})"}},
         {{"p", RelType::HasVariant, "p#vL"}}},
        {"variations as an array is ignored",
         {R"({"id":"p","variations":[{"key":"S"}]})"},
         {{"Product", "p", "", R"({"id":"p","variations":[{"key":"S"}]})"}},
         {}},
        {"variations text that is not an array",
         {R"({"id":"p","variations":"{\"key\":\"S\"}"})", R"({"id":"q","variations":"[{\"key\":\"S\"}"})"},
         {{"Product", "p", "", R"({"id":"p","variations":"{\"key\":\"S\"}"})"},
          {"Product", "q", "", R"({"id":"q","variations":"[{\"key\":\"S\"}"})"}},
         {}},
        {"same id twice: second record wins, variants of both hang from it",
         {R"({"id":"p","title":"A","variations":"[{\"key\":\"S\"}]"})",
          R"({"id":"p","title":"B","variations":"[{\"key\":\"M\"}]"})"},
         {{"Product", "p", "B", R"({"id":"p","title":"B","variations":"[{\"key\":\"M\"}]"})"},
          {"Variant", "p#vS", "", R"({"key":"S"})"},
          {"Variant", "p#vM", "", R"({"key":"M"})"}},
         {{"p", RelType::HasVariant, "p#vS"}, {"p", RelType::HasVariant, "p#vM"}}},
        {"same key twice: one node, two relations",
         {R"({"id":"123","variations":"[{\"key\":\"XL\",\"n\":1},{\"key\":\"XL\",\"n\":2}]"})"},
         {{"Product", "123", "", R"({"id":"123","variations":"[{\"key\":\"XL\",\"n\":1},{\"key\":\"XL\",\"n\":2}]"})"},
          {"Variant", "123#vXL", "", R"({"key":"XL","n":2})"}},
         {{"123", RelType::HasVariant, "123#vXL"}, {"123", RelType::HasVariant, "123#vXL"}}},
        {"variation price is judged without the record's price as reference",
         {R"({"id":"p","price":"19.99","variations":"[{\"key\":\"S\",\"price\":1999}]"})"},
         {{"Product", "p", "", R"({"id":"p","price":"19.99","variations":"[{\"key\":\"S\",\"price\":1999}]"})"},
          {"Variant", "p#vS", "", R"({"key":"S",)" + unsupported_price("1999", 199900) + "}"}},
         {{"p", RelType::HasVariant, "p#vS"}}},
    };
    for (const IngestCase& c : cases) {
        core::GraphBuilder builder;
        for (const std::string& record : c.records) ingest_ga_product(builder, *parse_json(record), PriceScale{});
        const auto got = testing::snapshot(std::move(builder));
        EXPECT_EQ(got.nodes, c.nodes) << c.what;
        EXPECT_EQ(got.edges, c.edges) << c.what;
    }
}

TEST(IngestGaProduct, VariantPricesFollowThePageEvidence) {
    PriceScale scale;
    scale.currency = "EUR";
    scale.seen.insert(20);
    scale.repeated.insert(20);
    scale.has_text_prices = true;
    core::GraphBuilder builder;
    ingest_ga_product(builder, *parse_json(R"({"id":"p","variations":"[{\"key\":\"S\",\"price\":\"20\",\"currency\":\"USD\"}]"})"),
                      scale);
    const auto got = testing::snapshot(std::move(builder));
    ASSERT_EQ(got.nodes.size(), 2u);
    EXPECT_EQ(got.nodes[1].props,
              R"({"currency":"EUR","key":"S","price":"20","price_cents":2000,"price_confident":true,"price_scale":2,"price_score":3})");
}

}  // namespace
}  // namespace kuv::extract::dom_attr
