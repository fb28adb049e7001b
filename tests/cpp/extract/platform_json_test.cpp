// Finding a shop platform's product array in raw page text and writing its products.
#include "extract/platform_json.hpp"

#include "extract/graph_snapshot.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace kuv::extract::platform_json {
namespace {

using namespace kuv::testing;

// Ingests the text as one product JSON value, or, when it is not JSON, each product of its array.
void ingest_text(core::GraphBuilder& builder, const std::string& text) {
    const auto value = parse_json(text);
    const auto products = value ? std::optional{std::vector{*value}} : find_products_array(text);
    for (const Json& product : products.value()) ingest_product(builder, product, PriceScale{});
}

TEST(PlatformFind, NeedlesBracketsAndFallbacks) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        // An empty array, or an invalid one at a needle's first occurrence, gives way to the next needle.
        {R"(<script>var a = {"products": [], "items": [{"handle": "x"}]};</script>)", R"([{"handle":"x"}])"},
        {R"({"products": [1,,2]} {"products": [3]} {"goods": [4]})", "[4]"},
        {R"("items": ["a]\"[", "b\\"] tail ])", R"(["a]\"[","b\\"])"},  // brackets in strings do not count
        // The first '[' after the needle, whatever stands between; needles in table order, not page order.
        {R"("items": {"list": [1, 2]})", "[1,2]"}, {R"("items": [1] "goods": [2] "productList": [3])", "[3]"},
        {R"("products": [[1], [2])", std::nullopt}, {R"(products: [1])", std::nullopt}, {R"("products": [1] trailing "]")", "[1]"},
        {R"("products": )" + std::string(5'000'000, '['), std::nullopt},
        {R"("items": )" + std::string(200, '[') + std::string(200, ']'), std::nullopt},  // nested past the parser's limit
    };
    for (const auto& [html, expected] : cases) {
        const auto found = find_products_array(html);
        EXPECT_EQ(found ? std::optional{to_json_text(Json(*found))} : std::nullopt, expected) << html.substr(0, 80);
    }
}

TEST(PlatformIngest, IdsNamesVariantsRangeAndPrices) {
    expect_graphs<std::string>({
        // The id is a string "handle", else the JSON text of "id", else the name ("name" if present, else "title").
        {R"({"handle":"shirt","id":7,"title":"Shirt"})", {{"Product", "shirt", "Shirt", R"({"handle":"shirt","id":7,"title":"Shirt"})"}}},
        {R"({"id":7,"name":5,"title":"Shirt"})", {{"Product", "7", "", R"({"id":7,"name":5,"title":"Shirt"})"}}},
        {R"({"title":"Shirt"})", {{"Product", "Shirt", "Shirt", R"({"title":"Shirt"})"}}},
        {R"({"id":"x7","name":"X"})", {{"Product", R"("x7")", "X", R"({"id":"x7","name":"X"})"}}},
        {R"({"id":null,"handle":3})", {{"Product", "null", "", R"({"handle":3,"id":null})"}}},
        {R"({"handle":"","id":7})", {}}, {R"({"name":""})", {}}, {"{}", {}}, {R"([{"handle":"a"}])", {}}, {R"("shirt")", {}},
        // Variants: ids from "id" text, "#v" alone without one; names from "title".
        {R"({"handle":"p","variants":[{"id":"red","title":"Red","name":"n"},{"id":2},{"title":"A"},{"title":"B"},3]})",
         {{"Product", "p", "", R"({"handle":"p","variants":[{"id":"red","name":"n","title":"Red"},{"id":2},{"title":"A"},)"
                               R"({"title":"B"},3]})"},
          {"Variant", R"(p#v"red")", "Red", R"({"id":"red","name":"n","title":"Red"})"}, {"Variant", "p#v2", "", R"({"id":2})"},
          {"Variant", "p#v", "", "{}"}},
         {{"p", RelType::HasVariant, R"(p#v"red")"}, {"p", RelType::HasVariant, "p#v2"}, {"p", RelType::HasVariant, "p#v"},
          {"p", RelType::HasVariant, "p#v"}, {"p", RelType::HasVariant, "p#v"}}},
        // "variants" that is not an array still blocks "variations"; then the range node is written.
        {R"({"handle":"p","variants":{"a":1},"variations":[{"id":1}],"price_range":"cheap"})",
         {{"Product", "p", "", R"({"handle":"p","price_range":"cheap","variants":{"a":1},"variations":[{"id":1}]})"},
          {"Variant", "p#range", "price_range", "{}"}},
         {{"p", RelType::HasVariant, "p#range"}}},
        {R"({"handle":"p","variations":[{"id":1}],"price_range":{}})",  // variant nodes win over the range
         {{"Product", "p", "", R"({"handle":"p","price_range":{},"variations":[{"id":1}]})"}, {"Variant", "p#v1", "", R"({"id":1})"}},
         {{"p", RelType::HasVariant, "p#v1"}}},
        // The range node judges the range minimum against that same minimum as reference.
        {R"({"handle":"p","variants":[],"price_range":{"min":{"price":"1000"}}})",
         {{"Product", "p", "", R"({"handle":"p","price_range":{"min":{"price":"1000"}},"variants":[]})"},
          {"Variant", "p#range", "price_range", R"({"min":{"price":"1000"},"price":"1000","price_cents":100000,)"
                                                   R"("price_confident":true,"price_scale":2,"price_score":3})"}},
         {{"p", RelType::HasVariant, "p#range"}}},
        // Every node gets the price verdict; an unusable price leaves the member as it was.
        {R"({"handle":"p","price":"19.99","variants":[{"id":1,"price":"5.00"}]})",
         {{"Product", "p", "", R"({"handle":"p",)" + unconfident_price("19.99", 1999) + R"(,"variants":[{"id":1,"price":"5.00"}]})"},
          {"Variant", "p#v1", "", R"({"id":1,)" + unconfident_price("5", 500) + "}"}},
         {{"p", RelType::HasVariant, "p#v1"}}},
        {R"({"handle":"p","price":"call us"})", {{"Product", "p", "", R"({"handle":"p","price":"call us"})"}}},
        // A repeated handle overwrites the product and keeps the relations of both.
        {R"(<script>window.shop = {"products": [{"handle":"p","title":"First","variants":[{"id":1}]},)"
         R"({"handle":"p","title":"Second","variants":[{"id":2}]}]};</script>)",
         {{"Product", "p", "Second", R"({"handle":"p","title":"Second","variants":[{"id":2}]})"},
          {"Variant", "p#v1", "", R"({"id":1})"}, {"Variant", "p#v2", "", R"({"id":2})"}},
         {{"p", RelType::HasVariant, "p#v1"}, {"p", RelType::HasVariant, "p#v2"}}},
    }, ingest_text);
}

// The reference is a "price_min" text, else the range's minimum price: 996 against 10 reads as minor units.
TEST(PlatformIngest, ReferencePriceSources) {
    const std::pair<const char*, int> cases[] = {
        {R"({"handle":"p","price":996,"price_min":"10.00"})", 3},
        {R"({"handle":"p","price":996,"price_min":10,"price_range":{"min":{"price":1000}}})", 3},
        {R"({"handle":"p","price":996,"price_min":"ten","price_range":{"min":{"price":"10"}}})", 3},
        {R"({"handle":"p","price":996,"price_range":{"min":1000}})", 0}, {R"({"handle":"p","price":996,"price_min":10})", 0},
    };
    for (const auto& [product, score] : cases) {
        core::GraphBuilder builder;
        ingest_text(builder, product);
        EXPECT_EQ(parse_json(snapshot(std::move(builder)).nodes.at(0).props)->value("price_score", -1), score) << product;
    }
}

}  // namespace
}  // namespace kuv::extract::platform_json
