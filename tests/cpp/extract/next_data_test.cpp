#include "extract/next_data.hpp"

#include "extract/graph_snapshot.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kuv::extract::next_data {
namespace {

using namespace kuv::testing;

std::string script(const std::string& body) {
    return R"(<script id="__NEXT_DATA__" type="application/json">)" + body + "</script>";
}

TEST(FindNextData, CutsTheFirstMarkedScript) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {script(R"({"b":[1],"a":null})"), R"({"a":null,"b":[1]})"}, {script("7"), "7"},
        // The marker is matched byte for byte, wherever it stands; the next '>' ends the tag.
        {R"(<script id='__NEXT_DATA__'>{"a":1}</script>)", std::nullopt}, {R"(<script id="__NEXT_DATA__")", std::nullopt},
        {R"(<meta content='id="__NEXT_DATA__"'>{"c":3}</script>)", R"({"c":3})"},
        // Only the first marker is used, and its script must end with "</script>".
        {script("{bad") + script("{}"), std::nullopt}, {R"(<script id="__NEXT_DATA__">{})", std::nullopt},
        {R"(<script id="__NEXT_DATA__">{}</SCRIPT>)", std::nullopt}, {script(R"({"a":1} x)"), std::nullopt},
        // Exactly one JSON value between Unicode white space; no byte-order mark; deep nesting fails quickly.
        {script("\xC2\xA0\n{\"a\":1}\xE3\x80\x80\xE2\x80\xA8"), R"({"a":1})"}, {script("\xEF\xBB\xBF{}"), std::nullopt},
        {script(std::string(100'000, '[') + std::string(100'000, ']')), std::nullopt},
        {script(std::string(127, '[') + std::string(127, ']')), std::string(127, '[') + std::string(127, ']')},
    };
    const auto start = std::chrono::steady_clock::now();
    for (const auto& [html, expected] : cases) {
        const auto found = find_next_data(html);
        EXPECT_EQ(found ? std::optional{to_json_text(*found)} : std::nullopt, expected) << html.substr(0, 80);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// Arrays whose elements all have a key containing "name"/"title" and one containing "price"/"amount"/"cost".
TEST(Walk, CollectsArraysWhoseElementsAllLookLikeProducts) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {R"({"p":{"list":[{"productName":"A","salePrice":1},{"subtitle":"B","Amount":2},{"USERNAME":"C","cost":3}]}})",
         {R"({"productName":"A","salePrice":1})", R"({"Amount":2,"subtitle":"B"})", R"({"USERNAME":"C","cost":3})"}},
        // A failing array is still searched; a collected one is not.
        {R"({"f":[{"name":"A","price":1,"items":[{"name":"C","amount":3}]},{"name":"B"}],"g":[{"name":"D","cost":1,"v":[{"name":"V","price":2}]}]})",
         {R"({"amount":3,"name":"C"})", R"({"cost":1,"name":"D","v":[{"name":"V","price":2}]})"}},
        {R"([{"name":"A","price":1},5])", {}}, {R"([{}])", {}}, {R"({"a":[]})", {}}, {R"(["name","price",1,null,true])", {}},
        {R"({"product":{"name":"A","price":1}})", {}},
        // Depth first, object members in key order.
        {R"({"b":[{"name":"B","price":1}],"a":{"z":[{"name":"Z","price":1}],"y":[[{"name":"Y","price":1}]]}})",
         {R"({"name":"Y","price":1})", R"({"name":"Z","price":1})", R"({"name":"B","price":1})"}},
        {std::string(125, '[') + R"([{"name":"A","price":1}])" + std::string(125, ']'), {R"({"name":"A","price":1})"}},
    };
    for (const auto& [document, expected] : cases) {
        std::vector<Json> out;
        walk(parse_json(document).value(), out);
        EXPECT_EQ(json_texts(out), expected) << document.substr(0, 80);
    }
}

// On a page in yen, so verdicts write whole units and the page currency over the product's own.
TEST(IngestNextProduct, WritesProductsAndVariants) {
    const std::string yen12 = unconfident_price("12", 12, 0);
    expect_graphs<std::string>({
        // Id: the first string of "id", "sku", "handle", "productId", else the name; name before title.
        {R"([[{"id":"a","name":"n"}],{"id":"","sku":"S","name":"N","variants":[{"id":"v"}]},{"price":1,"variants":[{"id":"v"}]},)"
         R"({"id":1,"sku":"S1","title":"T","name":"N","productName":"P"},{"id":1,"title":"T"},{"productId":"q","handle":"h"}])",
         {{"Product", "S1", "N", R"({"id":1,"name":"N","productName":"P","sku":"S1","title":"T"})"},
          {"Product", "T", "T", R"({"id":1,"title":"T"})"}, {"Product", "h", "", R"({"handle":"h","productId":"q"})"}}},
        // The first present of "price", "salePrice", "amount", "priceValue" is judged, even when it holds null.
        {R"([{"id":"a","price":null,"salePrice":"12.5"},{"id":"b","amount":"3","salePrice":"12.5"},)"
         R"({"id":"c","priceValue":1500.5,"currency":"USD"}])",
         {{"Product", "a", "", R"({"id":"a","price":null,"salePrice":"12.5"})"},
          {"Product", "b", "", R"({"amount":"3","currency":"JPY","id":"b",)" + yen12 + R"(,"salePrice":"12.5"})"},
          {"Product", "c", "", R"({"currency":"JPY","id":"c","price":"1500","priceValue":1500.5,"price_cents":1500,)"
                               R"("price_confident":false,"price_scale":0,"price_score":0})"}}},
        // Variants: the first key holding an array; ids "#v" + the id or sku string, else one shared "#v".
        {R"([{"id":"P","variants":{"id":"x"},"skus":[{"id":"r","title":"R","name":"n"},{"sku":"g","name":"G"},3]},)"
         R"({"id":"Q","variants":[{"name":"a"},{"id":5,"sku":"S"},{"id":"","sku":"s"}]},{"id":"R","variants":[],"skus":[{}]},)"
         R"({"id":"S","price":"12.5","variants":[{"id":"v","amount":"12.5"}]}])",
         {{"Product", "P", "", R"({"id":"P","skus":[{"id":"r","name":"n","title":"R"},{"name":"G","sku":"g"},3],"variants":{"id":"x"}})"},
          {"Variant", "P#vr", "R", R"({"id":"r","name":"n","title":"R"})"}, {"Variant", "P#vg", "G", R"({"name":"G","sku":"g"})"},
          {"Product", "Q", "", R"({"id":"Q","variants":[{"name":"a"},{"id":5,"sku":"S"},{"id":"","sku":"s"}]})"},
          {"Variant", "Q#v", "", R"({"id":"","sku":"s"})"}, {"Variant", "Q#vS", "", R"({"id":5,"sku":"S"})"},
          {"Product", "R", "", R"({"id":"R","skus":[{}],"variants":[]})"},
          {"Product", "S", "", R"({"currency":"JPY","id":"S",)" + yen12 + R"(,"variants":[{"amount":"12.5","id":"v"}]})"},
          {"Variant", "S#vv", "", R"({"amount":"12.5","currency":"JPY","id":"v",)" + yen12 + "}"}},
         {{"P", RelType::HasVariant, "P#vr"}, {"P", RelType::HasVariant, "P#vg"}, {"Q", RelType::HasVariant, "Q#v"},
          {"Q", RelType::HasVariant, "Q#vS"}, {"Q", RelType::HasVariant, "Q#v"}, {"S", RelType::HasVariant, "S#vv"}}},
    }, [](core::GraphBuilder& builder, const std::string& products) {
        const Json all = parse_json(products).value();
        for (const Json& one : all) ingest_next_product(builder, one, PriceScale{{}, {}, "JPY"});
    });
}

}  // namespace
}  // namespace kuv::extract::next_data
