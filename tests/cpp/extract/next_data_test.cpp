#include "extract/next_data.hpp"

#include "extract/graph_snapshot.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kuv::extract::next_data {
namespace {

using core::RelType;
using testing::EdgeRow;
using testing::NodeRow;

std::optional<std::string> found_text(const std::string& html) {
    const auto value = find_next_data(html);
    if (!value) return std::nullopt;
    return to_json_text(*value);
}

std::string script(const std::string& body) {
    return R"(<script id="__NEXT_DATA__" type="application/json">)" + body + "</script>";
}

struct FindCase {
    const char* what;
    std::string html;
    std::optional<std::string> expected;
};

TEST(FindNextData, CutsTheFirstMarkedScript) {
    const std::vector<FindCase> cases = {
        {"plain", script(R"({"b":[1],"a":null})"), R"({"a":null,"b":[1]})"},
        {"single-quoted marker", R"(<script id='__NEXT_DATA__'>{"a":1}</script>)", std::nullopt},
        {"other letter case", R"(<script id="__next_data__">{"a":1}</script>)", std::nullopt},
        {"marker in an attribute value of another element",
         R"(<meta content='id="__NEXT_DATA__"'>{"c":3}</script>)", R"({"c":3})"},
        {"marker in a comment: the comment end closes the tag",
         R"(<!-- id="__NEXT_DATA__" --><script>{"c":3}</script>)", std::nullopt},
        {"only the first marker is used", script("{bad") + script("{}"), std::nullopt},
        {"text after the value", script(R"({"a":1} x)"), std::nullopt},
        {"only white space", script(" \n\t "), std::nullopt},
        {"empty", script(""), std::nullopt},
        {"Unicode white space is trimmed", script("\xC2\xA0\n{\"a\":1}\xE3\x80\x80\xE2\x80\xA8"), R"({"a":1})"},
        {"a byte-order mark is not white space", script("\xEF\xBB\xBF{}"), std::nullopt},
        {"character references are not decoded", script("{&quot;a&quot;:1}"), std::nullopt},
        {"no closing angle bracket", R"(<script id="__NEXT_DATA__")", std::nullopt},
        {"no end tag", R"(<script id="__NEXT_DATA__">{})", std::nullopt},
        {"end tag is case-sensitive", R"(<script id="__NEXT_DATA__">{}</SCRIPT>)", std::nullopt},
        {"scalar document", script("7"), "7"},
    };
    for (const FindCase& c : cases) EXPECT_EQ(found_text(c.html), c.expected) << c.what;
}

TEST(FindNextData, DeepNestingFailsQuickly) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(found_text(script(std::string(100'000, '[') + std::string(100'000, ']'))), std::nullopt);
    EXPECT_EQ(found_text(script(std::string(127, '[') + std::string(127, ']'))).value_or("").size(), 254u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

struct WalkCase {
    const char* what;
    std::string document;
    std::vector<std::string> expected;
};

std::vector<std::string> walked(const std::string& document) {
    std::vector<Json> out;
    walk(*parse_json(document), out);
    std::vector<std::string> texts;
    for (const Json& value : out) texts.push_back(to_json_text(value));
    return texts;
}

TEST(Walk, CollectsArraysWhoseElementsAllLookLikeProducts) {
    const std::vector<WalkCase> cases = {
        {"whole array collected",
         R"({"p":{"list":[{"name":"A","price":1},{"title":"B","cost":2}]}})",
         {R"({"name":"A","price":1})", R"({"cost":2,"title":"B"})"}},
        {"keys are matched as lower-cased substrings",
         R"([{"productName":"A","salePrice":1},{"subtitle":"B","Amount":2},{"USERNAME":"C","priceRange":3}])",
         {R"({"productName":"A","salePrice":1})", R"({"Amount":2,"subtitle":"B"})",
          R"({"USERNAME":"C","priceRange":3})"}},
        {"one element without a price: nested arrays still searched",
         R"([{"name":"A","price":1,"items":[{"name":"C","amount":3}]},{"name":"B"}])",
         {R"({"amount":3,"name":"C"})"}},
        {"an element that is not an object", R"([{"name":"A","price":1},5])", {}},
        {"an object without members", R"([{}])", {}},
        {"empty array", R"({"a":[]})", {}},
        {"a single product object is not collected", R"({"product":{"name":"A","price":1}})", {}},
        {"collected elements are not searched further",
         R"([{"name":"A","price":1,"variants":[{"name":"V","price":2}]}])",
         {R"({"name":"A","price":1,"variants":[{"name":"V","price":2}]})"}},
        {"depth first, members in key order",
         R"({"b":[{"name":"B","price":1}],"a":{"z":[{"name":"Z","price":1}],"y":[[{"name":"Y","price":1}]]}})",
         {R"({"name":"Y","price":1})", R"({"name":"Z","price":1})", R"({"name":"B","price":1})"}},
        {"scalars", R"(["name","price",1,null,true])", {}},
    };
    for (const WalkCase& c : cases) EXPECT_EQ(walked(c.document), c.expected) << c.what;
}

TEST(Walk, DeepestParsableDocument) {
    const std::string product = R"([{"name":"A","price":1}])";
    const std::string document = std::string(125, '[') + product + std::string(125, ']');
    EXPECT_EQ(walked(document), std::vector<std::string>{R"({"name":"A","price":1})"});
}

struct IngestCase {
    const char* what;
    std::string product;
    std::vector<NodeRow> nodes;
    std::vector<EdgeRow> edges;
};

TEST(IngestNextProduct, WritesProductsAndVariants) {
    const std::string unsupported12 =
        R"("price":"12.50","price_cents":1250,"price_confident":false,"price_scale":2,"price_score":0)";
    const std::vector<IngestCase> cases = {
        {"not an object", R"([{"id":"a","name":"n"}])", {}, {}},
        {"numeric id gives way to the sku",
         R"({"id":1,"sku":"S1","name":"N"})",
         {{"Product", "S1", "N", R"({"id":1,"name":"N","sku":"S1"})"}},
         {}},
        {"no id string: the name is the id",
         R"({"id":1,"title":"T"})",
         {{"Product", "T", "T", R"({"id":1,"title":"T"})"}},
         {}},
        {"handle and productId", R"({"productId":"q","handle":"h"})", {{"Product", "h", "", R"({"handle":"h","productId":"q"})"}}, {}},
        {"empty id stops everything", R"({"id":"","sku":"S","name":"N","variants":[{"id":"v"}]})", {}, {}},
        {"neither id nor name", R"({"price":1,"variants":[{"id":"v"}]})", {}, {}},
        {"name before title, productName last",
         R"({"id":"a","title":"T","name":"N","productName":"P"})",
         {{"Product", "a", "N", R"({"id":"a","name":"N","productName":"P","title":"T"})"}},
         {}},
        {"the normalised price replaces the own one",
         R"({"id":"a","price":"12.5"})",
         {{"Product", "a", "", R"({"id":"a",)" + unsupported12 + "}"}},
         {}},
        {"a present null price ends the price search",
         R"({"id":"a","price":null,"salePrice":"12.5"})",
         {{"Product", "a", "", R"({"id":"a","price":null,"salePrice":"12.5"})"}},
         {}},
        {"salePrice before amount",
         R"({"id":"a","amount":"3","salePrice":"12.5"})",
         {{"Product", "a", "", R"({"amount":"3","id":"a",)" + unsupported12 + R"(,"salePrice":"12.5"})"}},
         {}},
        {"variant list: first key holding an array",
         R"({"id":"P","variants":{"id":"x"},"skus":[{"id":"r","title":"Red","name":"n"},{"sku":"g","name":"Green"},3]})",
         {{"Product", "P", "", R"({"id":"P","skus":[{"id":"r","name":"n","title":"Red"},{"name":"Green","sku":"g"},3],"variants":{"id":"x"}})"},
          {"Variant", "P#vr", "Red", R"({"id":"r","name":"n","title":"Red"})"},
          {"Variant", "P#vg", "Green", R"({"name":"Green","sku":"g"})"}},
         {{"P", RelType::HasVariant, "P#vr"}, {"P", RelType::HasVariant, "P#vg"}}},
        {"variants without a string id or sku share one node",
         R"({"id":"P","variants":[{"name":"a","price":"12.5"},{"id":5,"name":"b"},{"id":5,"sku":"S"}]})",
         {{"Product", "P", "", R"({"id":"P","variants":[{"name":"a","price":"12.5"},{"id":5,"name":"b"},{"id":5,"sku":"S"}]})"},
          {"Variant", "P#v", "b", R"({"id":5,"name":"b"})"},
          {"Variant", "P#vS", "", R"({"id":5,"sku":"S"})"}},
         {{"P", RelType::HasVariant, "P#v"}, {"P", RelType::HasVariant, "P#v"}, {"P", RelType::HasVariant, "P#vS"}}},
        {"empty variant id string still counts",
         R"({"id":"P","variants":[{"id":"","sku":"s"}]})",
         {{"Product", "P", "", R"({"id":"P","variants":[{"id":"","sku":"s"}]})"}, {"Variant", "P#v", "", R"({"id":"","sku":"s"})"}},
         {{"P", RelType::HasVariant, "P#v"}}},
        {"empty variant list",
         R"({"id":"P","variants":[],"skus":[{"id":"s"}]})",
         {{"Product", "P", "", R"({"id":"P","skus":[{"id":"s"}],"variants":[]})"}},
         {}},
        {"variant prices are normalised; the product keeps its variant array",
         R"({"id":"P","price":"12.5","variants":[{"id":"v","amount":"12.5"}]})",
         {{"Product", "P", "", R"({"id":"P",)" + unsupported12 + R"(,"variants":[{"amount":"12.5","id":"v"}]})"},
          {"Variant", "P#vv", "", R"({"amount":"12.5","id":"v",)" + unsupported12 + "}"}},
         {{"P", RelType::HasVariant, "P#vv"}}},
    };
    for (const IngestCase& c : cases) {
        core::GraphBuilder builder;
        ingest_next_product(builder, *parse_json(c.product), PriceScale{});
        const auto got = testing::snapshot(std::move(builder));
        EXPECT_EQ(got.nodes, c.nodes) << c.what;
        EXPECT_EQ(got.edges, c.edges) << c.what;
    }
}

TEST(IngestNextProduct, PageCurrencyIsWrittenWithThePrice) {
    PriceScale scale;
    scale.currency = "JPY";
    core::GraphBuilder builder;
    ingest_next_product(builder, *parse_json(R"({"id":"a","priceValue":1500.5,"currency":"USD"})"), scale);
    const auto got = testing::snapshot(std::move(builder));
    ASSERT_EQ(got.nodes.size(), 1u);
    EXPECT_EQ(got.nodes[0].props,
              R"({"currency":"JPY","id":"a","price":"1500","priceValue":1500.5,"price_cents":1500,"price_confident":false,"price_scale":0,"price_score":0})");
}

}  // namespace
}  // namespace kuv::extract::next_data
