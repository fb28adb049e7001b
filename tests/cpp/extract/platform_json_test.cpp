// Finding a shop platform's product array in raw page text and writing its products.
#include "core/json.hpp"
#include "extract/graph_snapshot.hpp"
#include "extract/platform_json.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using kuv::Json;
using kuv::core::GraphBuilder;
using kuv::core::RelType;
using kuv::extract::PriceScale;
using kuv::testing::EdgeRow;
using kuv::testing::NodeRow;
using kuv::testing::snapshot;
namespace platform_json = kuv::extract::platform_json;

std::optional<std::string> found_text(std::string_view html) {
    const auto found = platform_json::find_products_array(html);
    if (!found) return std::nullopt;
    return kuv::to_json_text(Json(*found));
}

TEST(PlatformFind, NeedlesBracketsAndFallbacks) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        // An empty array under an earlier needle gives way to a later needle.
        {R"(<script>var a = {"products": [], "items": [{"handle": "x"}]};</script>)", R"([{"handle":"x"}])"},
        // Only the first occurrence of a needle counts, even when it is invalid.
        {R"({"products": [1,,2]} {"products": [3]} {"goods": [4]})", "[4]"},
        // Brackets and escaped quotes inside strings do not count.
        {R"("items": ["a]\"[", "b\\"] tail ])", R"(["a]\"[","b\\"])"},
        // The first '[' after the needle, whatever stands between.
        {R"("items": {"list": [1, 2]})", "[1,2]"},
        {R"("productList" x y "z" [true])", "[true]"},
        // Table order, not page order.
        {R"("items": [1] "goods": [2] "productList": [3])", "[3]"},
        {R"("products": [[1], [2])", std::nullopt},
        {R"(products: [1])", std::nullopt},
        {R"("products" but no array)", std::nullopt},
        {R"("products": [1] trailing "]")", "[1]"},
        {"", std::nullopt},
    };
    for (const auto& [html, expected] : cases) EXPECT_EQ(found_text(html), expected) << html;
}

TEST(PlatformFind, TruncatedAndHugeInput) {
    std::string html = R"("products": [)";
    html.append(5'000'000, '[');
    EXPECT_EQ(found_text(html), std::nullopt);
    std::string deep = R"("items": )" + std::string(200, '[') + std::string(200, ']');
    EXPECT_EQ(found_text(deep), std::nullopt);  // nested past what the parser takes
}

struct IngestCase {
    const char* product;
    std::vector<NodeRow> nodes;
    std::vector<EdgeRow> edges;
};

void expect_ingested(const std::vector<IngestCase>& cases, const PriceScale& scale) {
    for (const IngestCase& c : cases) {
        GraphBuilder builder;
        const auto value = kuv::parse_json(c.product);
        ASSERT_TRUE(value) << c.product;
        platform_json::ingest_product(builder, *value, scale);
        const auto result = snapshot(std::move(builder));
        EXPECT_EQ(result.nodes, c.nodes) << c.product;
        EXPECT_EQ(result.edges, c.edges) << c.product;
    }
}

TEST(PlatformIngest, IdsAndNames) {
    expect_ingested(
        {
            {R"({"handle":"shirt","id":7,"title":"Shirt"})",
             {{"Product", "shirt", "Shirt", R"({"handle":"shirt","id":7,"title":"Shirt"})"}}, {}},
            {R"({"id":7,"name":5,"title":"Shirt"})", {{"Product", "7", "", R"({"id":7,"name":5,"title":"Shirt"})"}}, {}},
            {R"({"title":"Shirt"})", {{"Product", "Shirt", "Shirt", R"({"title":"Shirt"})"}}, {}},
            {R"({"id":"x7","name":"X"})", {{"Product", R"("x7")", "X", R"({"id":"x7","name":"X"})"}}, {}},
            {R"({"id":12.5})", {{"Product", "12.5", "", R"({"id":12.5})"}}, {}},
            {R"({"id":null,"handle":3})", {{"Product", "null", "", R"({"handle":3,"id":null})"}}, {}},
            {R"({"handle":"","id":7})", {}, {}},
            {R"({"name":""})", {}, {}},
            {R"({})", {}, {}},
            {R"([{"handle":"a"}])", {}, {}},
            {R"("shirt")", {}, {}},
        },
        PriceScale{});
}

TEST(PlatformIngest, VariantsAndRange) {
    expect_ingested(
        {
            {R"({"handle":"p","variants":[{"id":"red","title":"Red","name":"n"},{"id":2},{"title":"A"},{"title":"B"},3]})",
             {{"Product", "p", "",
               R"({"handle":"p","variants":[{"id":"red","name":"n","title":"Red"},{"id":2},{"title":"A"},{"title":"B"},3]})"},
              {"Variant", R"(p#v"red")", "Red", R"({"id":"red","name":"n","title":"Red"})"},
              {"Variant", "p#v2", "", R"({"id":2})"},
              {"Variant", "p#v", "", "{}"}},
             {{"p", RelType::HasVariant, R"(p#v"red")"},
              {"p", RelType::HasVariant, "p#v2"},
              {"p", RelType::HasVariant, "p#v"},
              {"p", RelType::HasVariant, "p#v"},
              {"p", RelType::HasVariant, "p#v"}}},
            // "variants" present but not an array blocks "variations"; the range node is made.
            {R"({"handle":"p","variants":{"a":1},"variations":[{"id":1}],"price_range":"cheap"})",
             {{"Product", "p", "", R"({"handle":"p","price_range":"cheap","variants":{"a":1},"variations":[{"id":1}]})"},
              {"Variant", "p#range", "price_range", "{}"}},
             {{"p", RelType::HasVariant, "p#range"}}},
            {R"({"handle":"p","variations":[{"id":1,"title":"One"}]})",
             {{"Product", "p", "", R"({"handle":"p","variations":[{"id":1,"title":"One"}]})"},
              {"Variant", "p#v1", "One", R"({"id":1,"title":"One"})"}},
             {{"p", RelType::HasVariant, "p#v1"}}},
            // Variant nodes win over the range.
            {R"({"handle":"p","variants":[{"id":1}],"price_range":{}})",
             {{"Product", "p", "", R"({"handle":"p","price_range":{},"variants":[{"id":1}]})"},
              {"Variant", "p#v1", "", R"({"id":1})"}},
             {{"p", RelType::HasVariant, "p#v1"}}},
            {R"({"handle":"p","variants":[],"price_range":null})",
             {{"Product", "p", "", R"({"handle":"p","price_range":null,"variants":[]})"},
              {"Variant", "p#range", "price_range", "{}"}},
             {{"p", RelType::HasVariant, "p#range"}}},
        },
        PriceScale{});
}

// Price keys with no page evidence and no reference: unconfident, score 0.
TEST(PlatformIngest, PricesAreNormalisedOnEveryNode) {
    PriceScale scale;
    scale.currency = "EUR";
    expect_ingested(
        {
            {R"({"handle":"p","price":"19.99","variants":[{"id":1,"price":"5.00","title":"S"}]})",
             {{"Product", "p", "",
               R"({"currency":"EUR","handle":"p","price":"19.99","price_cents":1999,"price_confident":false,"price_scale":2,"price_score":0,"variants":[{"id":1,"price":"5.00","title":"S"}]})"},
              {"Variant", "p#v1", "S",
               R"({"currency":"EUR","id":1,"price":"5","price_cents":500,"price_confident":false,"price_scale":2,"price_score":0,"title":"S"})"}},
             {{"p", RelType::HasVariant, "p#v1"}}},
            // No verdict for an unusable price: the raw member stays as it was.
            {R"({"handle":"p","price":"call us"})", {{"Product", "p", "", R"({"handle":"p","price":"call us"})"}}, {}},
        },
        scale);
}

// The reference price makes the verdict read 996 against 10.00 as minor units (score 3).
TEST(PlatformIngest, ReferencePriceSources) {
    struct Case {
        const char* product;
        std::optional<int> product_score;
    };
    const std::vector<Case> cases = {
        {R"({"handle":"p","price":996,"price_min":"10.00"})", 3},
        {R"({"handle":"p","price":996,"price_min":10,"price_range":{"min":{"price":1000}}})", 3},
        {R"({"handle":"p","price":996,"price_min":"ten","price_range":{"min":{"price":"10"}}})", 3},
        {R"({"handle":"p","price":996,"price_range":{"min":1000}})", 0},
        {R"({"handle":"p","price":996,"price_min":10})", 0},
    };
    for (const Case& c : cases) {
        GraphBuilder builder;
        platform_json::ingest_product(builder, *kuv::parse_json(c.product), PriceScale{});
        const auto result = snapshot(std::move(builder));
        ASSERT_FALSE(result.nodes.empty()) << c.product;
        const Json props = *kuv::parse_json(result.nodes[0].props);
        EXPECT_EQ(props.value("price_score", -1), *c.product_score) << c.product;
    }
}

TEST(PlatformIngest, RangeNodeJudgesTheRangeMinimumAgainstTheSameReference) {
    GraphBuilder builder;
    platform_json::ingest_product(builder, *kuv::parse_json(R"({"handle":"p","price_range":{"min":{"price":"1000"}}})"),
                                  PriceScale{});
    const auto result = snapshot(std::move(builder));
    ASSERT_EQ(result.nodes.size(), 2u);
    EXPECT_EQ(result.nodes[1].id, "p#range");
    const Json props = *kuv::parse_json(result.nodes[1].props);
    EXPECT_EQ(props["min"], Json::parse(R"({"price":"1000"})"));
    EXPECT_EQ(props["price_score"], 3);
}

TEST(PlatformIngest, RepeatedHandleOverwritesAndKeepsAllRelations) {
    GraphBuilder builder;
    const auto products = platform_json::find_products_array(
        R"(<script>window.shop = {"products": [{"handle":"p","title":"First","variants":[{"id":1}]},
                                               {"handle":"p","title":"Second","variants":[{"id":2}]}]};</script>)");
    ASSERT_TRUE(products);
    for (const Json& product : *products) platform_json::ingest_product(builder, product, PriceScale{});
    const auto result = snapshot(std::move(builder));
    ASSERT_EQ(result.nodes.size(), 3u);
    EXPECT_EQ(result.nodes[0], (NodeRow{"Product", "p", "Second", R"({"handle":"p","title":"Second","variants":[{"id":2}]})"}));
    EXPECT_EQ(result.edges, (std::vector<EdgeRow>{{"p", RelType::HasVariant, "p#v1"}, {"p", RelType::HasVariant, "p#v2"}}));
}

}  // namespace
