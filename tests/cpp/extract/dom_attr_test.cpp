#include "extract/dom_attr.hpp"

#include "extract/graph_snapshot.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace kuv::extract::dom_attr {
namespace {

using namespace kuv::testing;

TEST(FindGaProducts, CollectsEveryParsableValueInPageOrder) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {R"(<a ga-product='{"id":"1"}'></a><a ga-product='{bad}'></a><a ga-product='[2]'></a>)", {R"({"id":"1"})", "[2]"}},
        {"ga-product=' \n{\"a\":1}\t ' ga-product='42' ga-product='{}' ga-product='\"s\"'", {R"({"a":1})", "42", "{}", "\"s\""}},
        // Only the exact needle with a single quote; character references stay as written.
        {R"(<a ga-product="{&quot;id&quot;:1}"><a ga-product = '{"id":"1"}'><a GA-PRODUCT='{"id":"1"}'>)", {}},
        {R"(<a ga-product='{&quot;id&quot;:&quot;1&quot;}'>)", {}}, {"<b>ga-product</b>", {}},
        // An apostrophe cuts the value and the search goes on after it; a missing closing quote ends it.
        {R"(<a ga-product='{"id":"1","title":"Bob's"}'></a><a ga-product='{"id":"2"}'>)", {R"({"id":"2"})"}},
        {R"(ga-product='{"t":"x'ga-product='3')", {"3"}}, {R"(ga-product='{"a":1}' ga-product='{"b":2})", {R"({"a":1})"}},
        {"ga-product='", {}},
    };
    for (const auto& [html, expected] : cases) EXPECT_EQ(json_texts(find_ga_products(html)), expected) << html;
}

TEST(FindGaProducts, ManyOrDeepValuesStayLinear) {
    std::string many, unclosed;
    for (int i = 0; i < 100'000; ++i) {
        many += R"(<i ga-product='{"id":"p"}'></i>)";
        unclosed += "ga-product='";
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(find_ga_products(many).size(), 100'000u);
    EXPECT_EQ(json_texts(find_ga_products("ga-product='" + std::string(100'000, '[') + "' ga-product='7'")),
              std::vector<std::string>{"7"});
    EXPECT_TRUE(find_ga_products(unclosed).empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// Each input is a JSON array of records, ingested in order on a page in euros that shows 20 twice.
void ingest_records(core::GraphBuilder& builder, const std::string& records) {
    const Json all = parse_json(records).value();
    for (const Json& record : all) ingest_ga_product(builder, record, PriceScale{{20}, {20}, "EUR", true});
}

TEST(IngestGaProduct, WritesProductsAndKeyedVariants) {
    const std::string sizes = R"({"id":"p","title":"Shirt","price":"19.99","variations":"[1,{},{\"key\":\"\"},{\"key\":5},)"
                              R"([\"key\"],{\"key\":\"S\",\"price\":\"20\",\"currency\":\"USD\"},{\"key\":\"M\",\"price\":1999},{\"key\":\"L\",\"price\":\"n/a\"}]"})";
    expect_graphs<std::string>({
        // Only non-empty objects with a non-empty string id; the name is "title"; the record's own price stays as written.
        {R"([42,["id"],{},{"id":42,"title":"T"},{"id":"","title":"T"},{"id":"42","name":"N","title":7}])",
         {{"Product", "42", "", R"({"id":"42","name":"N","title":7})"}}},
        // The "variations" string holds a JSON array; usable elements have a "key" string. Variant prices are judged
        // against the page, not the record's price, and the page's currency replaces their own.
        {"[" + sizes + "]",
         {{"Product", "p", "Shirt", to_json_text(parse_json(sizes).value())},
          {"Variant", "p#vS", "",
           R"({"currency":"EUR","key":"S","price":"20","price_cents":2000,"price_confident":true,"price_scale":2,"price_score":3})"},
          {"Variant", "p#vM", "", R"({"currency":"EUR","key":"M",)" + unconfident_price("1999", 199900) + "}"},
          {"Variant", "p#vL", "", R"({"key":"L","price":"n/a"})"}},
         {{"p", RelType::HasVariant, "p#vS"}, {"p", RelType::HasVariant, "p#vM"}, {"p", RelType::HasVariant, "p#vL"}}},
        {R"([{"id":"p","variations":[{"key":"S"}]},{"id":"r","variations":"[{\"key\":\"S\"}"}])",
         {{"Product", "p", "", R"({"id":"p","variations":[{"key":"S"}]})"},
          {"Product", "r", "", R"({"id":"r","variations":"[{\"key\":\"S\"}"})"}}},
        // A repeated id: the last record wins and the variants of both hang from it; a repeated key is one node.
        {R"([{"id":"p","title":"A","variations":"[{\"key\":\"S\"}]"},)"
         R"({"id":"p","title":"B","variations":"[{\"key\":\"M\",\"n\":1},{\"key\":\"M\",\"n\":2}]"}])",
         {{"Product", "p", "B", R"({"id":"p","title":"B","variations":"[{\"key\":\"M\",\"n\":1},{\"key\":\"M\",\"n\":2}]"})"},
          {"Variant", "p#vS", "", R"({"key":"S"})"}, {"Variant", "p#vM", "", R"({"key":"M","n":2})"}},
         {{"p", RelType::HasVariant, "p#vS"}, {"p", RelType::HasVariant, "p#vM"}, {"p", RelType::HasVariant, "p#vM"}}},
    }, ingest_records);
}

}  // namespace
}  // namespace kuv::extract::dom_attr
