// Gathering schema.org JSON-LD blocks from pages and writing their products.
#include "core/json.hpp"
#include "extract/dom.hpp"
#include "extract/graph_snapshot.hpp"
#include "extract/jsonld.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using kuv::Json;
using kuv::core::GraphBuilder;
using kuv::core::RelType;
using kuv::extract::PriceScale;
using kuv::testing::EdgeRow;
using kuv::testing::NodeRow;
using kuv::testing::Snapshot;
using kuv::testing::snapshot;
namespace dom = kuv::extract::dom;
namespace jsonld = kuv::extract::jsonld;

std::vector<std::string> gathered(const std::string& html) {
    dom::Document document{html};
    std::vector<Json> objects;
    jsonld::gather(document, objects);
    std::vector<std::string> texts;
    for (const Json& object : objects) texts.push_back(kuv::to_json_text(object));
    return texts;
}

std::string block(std::string_view json) { return R"(<script type="application/ld+json">)" + std::string(json) + "</script>"; }

TEST(JsonLdGather, BlocksInDocumentOrderFlattened) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"<head>" + block(R"({"@type":"Organization","name":"Shop"})") + "</head><body>" +
             block(R"([{"@type":"Product","name":"A"},{"@type":"Product","name":"B"}])") + "</body>",
         {R"({"@type":"Organization","name":"Shop"})", R"({"@type":"Product","name":"A"})",
          R"({"@type":"Product","name":"B"})"}},
        // "@graph" wins over "itemListElement"; the rest of the container is dropped.
        {block(R"({"@context":"https://schema.org","@graph":[{"@type":"WebPage"},[{"a":1}],1,"s",null],"itemListElement":[{"b":2}]})"),
         {R"({"@type":"WebPage"})", R"({"a":1})"}},
        {block(R"({"@type":"ItemList","itemListElement":[{"@type":"ListItem","position":1,"item":{"@type":"Product","name":"A"}},{"@type":"Product","name":"B"},{"item":[{"x":1},{"y":2}]},{"item":7}]})"),
         {R"({"@type":"Product","name":"A"})", R"({"@type":"Product","name":"B"})", R"({"x":1})", R"({"y":2})"}},
        {block(R"({"itemListElement":{"@graph":{"z":1}}})"), {R"({"z":1})"}},
        {block(R"({})") + block("[]") + block("null"), {"{}"}},
        // Not exactly one JSON value: skipped.
        {block(R"({"a":1} trailing)") + block(R"(<!-- {"a":2} -->)") + block(R"({"a":3)") + block(R"( {"a":4} )"),
         {R"({"a":4})"}},
        {block(R"({"a":"<b>x</b>"})"), {R"({"a":"<b>x</b>"})"}},
        {R"(<script type="text/javascript">{"a":1}</script><div type="application/ld+json">{"a":2}</div>)", {}},
        {R"(<template><script type="application/ld+json">{"t":1}</script></template>)", {R"({"t":1})"}},
        {"<script type=\"application/ld+json\">{\"cut\":", {}},
    };
    for (const auto& [html, expected] : cases) EXPECT_EQ(gathered(html), expected) << html;
}

TEST(JsonLdGather, DeepDocumentIsSkipped) {
    const std::string deep = std::string(200, '[') + "{}" + std::string(200, ']');
    EXPECT_EQ(gathered(block(deep) + block(R"({"ok":1})")), std::vector<std::string>{R"({"ok":1})"});
}

Snapshot ingest_page(const std::string& html, const PriceScale& scale = {}) {
    dom::Document document{html};
    std::vector<Json> objects;
    jsonld::gather(document, objects);
    GraphBuilder builder;
    for (const Json& object : objects) jsonld::ingest_jsonld_product(builder, object, scale);
    return snapshot(std::move(builder));
}

TEST(JsonLdIngest, FullProductPage) {
    PriceScale scale;
    scale.currency = "USD";
    const std::string page = R"(<!doctype html><html><head><title>Trail shoe</title>)" + block(R"({
      "@context": "https://schema.org/",
      "@type": ["Product", "Thing"],
      "@id": "https://shop.example/shoe#product",
      "name": "Trail shoe",
      "url": "https://shop.example/shoe",
      "brand": {"@type": "Brand", "name": "Acme"},
      "manufacturer": "Acme Works",
      "offers": [
        {"@type": "Offer", "price": "19.99", "priceCurrency": "USD",
         "availability": "https://schema.org/InStock", "itemCondition": "NewCondition",
         "priceValidUntil": "2026-12-31", "seller": {"@type": "Organization", "name": "Shoe Shop"}},
        {"@type": "Offer", "price": 21}
      ],
      "aggregateRating": {"@type": "AggregateRating", "ratingValue": 4.5, "ratingCount": 10},
      "review": [
        {"@type": "Review", "reviewBody": "Great", "author": {"@type": "Person", "name": "Ann"},
         "reviewRating": {"ratingValue": "5"}, "datePublished": "2026-01-02"},
        {"@type": "Review", "author": "Bob"},
        "not an object",
        {"author": ["Eve"]}
      ]
    })") + "</head><body></body></html>";
    const Snapshot result = ingest_page(page, scale);
    const std::string id = "https://shop.example/shoe#product";
    const std::vector<NodeRow> expected_nodes = {
        {"Product", id, "Trail shoe",
         R"({"@context":"https://schema.org/","@id":"https://shop.example/shoe#product","@type":["Product","Thing"],)"
         R"("aggregateRating":{"@type":"AggregateRating","ratingCount":10,"ratingValue":4.5},"availability":"InStock",)"
         R"("brand":{"@type":"Brand","name":"Acme"},"currency":"USD","item_condition":"NewCondition","manufacturer":"Acme Works",)"
         R"("name":"Trail shoe","offers":[{"@type":"Offer","availability":"https://schema.org/InStock","itemCondition":"NewCondition",)"
         R"("price":"19.99","priceCurrency":"USD","priceValidUntil":"2026-12-31","seller":{"@type":"Organization","name":"Shoe Shop"}},)"
         R"({"@type":"Offer","price":21}],"price":"19.99","price_cents":1999,"price_confident":false,"price_scale":2,"price_score":0,)"
         R"("price_valid_until":"2026-12-31","rating_value":4.5,"review":[{"@type":"Review","author":{"@type":"Person","name":"Ann"},)"
         R"("datePublished":"2026-01-02","reviewBody":"Great","reviewRating":{"ratingValue":"5"}},{"@type":"Review","author":"Bob"},)"
         R"("not an object",{"author":["Eve"]}],"review_count":10,"seller_name":"Shoe Shop","url":"https://shop.example/shoe"})"},
        {"Brand", "Acme", "Acme", R"({"@type":"Brand","name":"Acme"})"},
        {"Organization", "Acme Works", "Acme Works", R"("Acme Works")"},
        {"Offer", id + "#offer0", R"("19.99")",
         R"({"@type":"Offer","availability":"https://schema.org/InStock","itemCondition":"NewCondition","price":"19.99",)"
         R"("priceCurrency":"USD","priceValidUntil":"2026-12-31","seller":{"@type":"Organization","name":"Shoe Shop"}})"},
        {"Offer", id + "#offer1", "21", R"({"@type":"Offer","price":21})"},
        {"AggregateRating", id + "#rating", "4.5",
         R"({"@type":"AggregateRating","ratingCount":10,"ratingValue":4.5,"rating_value":4.5,"review_count":10})"},
        {"Review", id + "#review0", "Great",
         R"({"@type":"Review","author":{"@type":"Person","name":"Ann"},"date":"2026-01-02","datePublished":"2026-01-02",)"
         R"("rating_value":"5","reviewBody":"Great","reviewRating":{"ratingValue":"5"}})"},
        {"Person", "Ann", "Ann", R"({"@type":"Person","name":"Ann"})"},
        {"Review", id + "#review1", "", R"({"@type":"Review","author":"Bob"})"},
        {"Person", "Bob", "Bob", R"("Bob")"},
        {"Review", id + "#review2", "", "{}"},
        {"Review", id + "#review3", "", R"({"author":["Eve"]})"},
    };
    EXPECT_EQ(result.nodes, expected_nodes);
    const std::vector<EdgeRow> expected_edges = {
        {id, RelType::Brand, "Acme"},
        {id, RelType::Manufacturer, "Acme Works"},
        {id, RelType::Offers, id + "#offer0"},
        {id, RelType::Offers, id + "#offer1"},
        {id, RelType::AggregateRating, id + "#rating"},
        {id, RelType::Review, id + "#review0"},
        {id, RelType::Review, id + "#review1"},
        {id, RelType::Review, id + "#review2"},
        {id, RelType::Review, id + "#review3"},
        {id + "#review0", RelType::Author, "Ann"},
        {id + "#review1", RelType::Author, "Bob"},
    };
    EXPECT_EQ(result.edges, expected_edges);
}

struct ProductCase {
    const char* object;
    std::vector<NodeRow> nodes;
    std::vector<EdgeRow> edges;
};

void expect_products(const std::vector<ProductCase>& cases) {
    for (const ProductCase& c : cases) {
        const Snapshot result = ingest_page(block(c.object));
        EXPECT_EQ(result.nodes, c.nodes) << c.object;
        EXPECT_EQ(result.edges, c.edges) << c.object;
    }
}

TEST(JsonLdIngest, TypeAndIdRules) {
    expect_products({
        {R"({"@type":"product","name":"a"})", {}, {}},
        {R"({"@type":"schema:Product","name":"a"})", {}, {}},
        {R"({"name":"a"})", {}, {}},
        {R"({"@type":["Thing"],"name":"a"})", {}, {}},
        {R"({"@type":"Product","@id":5,"sku":"S1","name":"N"})",
         {{"Product", "N", "N", R"({"@id":5,"@type":"Product","name":"N","sku":"S1"})"}}, {}},
        {R"({"@type":"Product","sku":"S1","url":"u"})", {{"Product", "S1", "", R"({"@type":"Product","sku":"S1","url":"u"})"}}, {}},
        {R"({"@type":"Product","url":"u","name":7})", {{"Product", "u", "", R"({"@type":"Product","name":7,"url":"u"})"}}, {}},
        {R"({"@type":"Product"})", {{"Product", "", "", R"({"@type":"Product"})"}}, {}},
    });
}

TEST(JsonLdIngest, OffersShapes) {
    expect_products({
        {R"({"@type":"Product","sku":"p","offers":[]})", {{"Product", "p", "", R"({"@type":"Product","offers":[],"sku":"p"})"}}, {}},
        {R"({"@type":"Product","sku":"p","offers":null})",
         {{"Product", "p", "", R"({"@type":"Product","offers":null,"sku":"p"})"}, {"Offer", "p#offer", "", "null"}},
         {{"p", RelType::Offers, "p#offer"}}},
        {R"({"@type":"Product","sku":"p","offers":{"@type":"AggregateOffer","lowPrice":3,"availability":"InStock","seller":"S"}})",
         {{"Product", "p", "",
           R"({"@type":"Product","availability":"InStock","offers":{"@type":"AggregateOffer","availability":"InStock","lowPrice":3,"seller":"S"},"sku":"p"})"},
          {"Offer", "p#offer", "", R"({"@type":"AggregateOffer","availability":"InStock","lowPrice":3,"seller":"S"})"}},
         {{"p", RelType::Offers, "p#offer"}}},
        // Only the first offer supplies the product's terms; a non-object offer is still a node.
        {R"({"@type":"Product","sku":"p","offers":[7,{"price":"1.00","availability":"a/b/"}]})",
         {{"Product", "p", "", R"({"@type":"Product","offers":[7,{"availability":"a/b/","price":"1.00"}],"sku":"p"})"},
          {"Offer", "p#offer0", "", "7"},
          {"Offer", "p#offer1", R"("1.00")", R"({"availability":"a/b/","price":"1.00"})"}},
         {{"p", RelType::Offers, "p#offer0"}, {"p", RelType::Offers, "p#offer1"}}},
    });
}

TEST(JsonLdIngest, EntitiesRatingsAndReviews) {
    expect_products({
        {R"({"@type":"Product","sku":"p","brand":"","manufacturer":{"name":3},"aggregateRating":5,"review":{"reviewBody":"Fine","author":{"name":""}}})",
         {{"Product", "p", "",
           R"({"@type":"Product","aggregateRating":5,"brand":"","manufacturer":{"name":3},"review":{"author":{"name":""},"reviewBody":"Fine"},"sku":"p"})"},
          {"AggregateRating", "p#rating", "", "{}"},
          {"Review", "p#review0", "Fine", R"({"author":{"name":""},"reviewBody":"Fine"})"}},
         {{"p", RelType::AggregateRating, "p#rating"}, {"p", RelType::Review, "p#review0"}}},
        {R"({"@type":"Product","sku":"p","brand":["B"],"aggregateRating":{"reviewCount":null,"ratingCount":4}})",
         {{"Product", "p", "",
           R"({"@type":"Product","aggregateRating":{"ratingCount":4,"reviewCount":null},"brand":["B"],"review_count":null,"sku":"p"})"},
          {"AggregateRating", "p#rating", "", R"({"ratingCount":4,"reviewCount":null,"review_count":null})"}},
         {{"p", RelType::AggregateRating, "p#rating"}}},
    });
}

TEST(JsonLdIngest, NamedEntitiesShareIdsAcrossProducts) {
    const Snapshot result = ingest_page(block(
        R"([{"@type":"Product","sku":"a","brand":{"name":"Acme","logo":"x"}},{"@type":"Product","sku":"b","brand":"Acme"}])"));
    const std::vector<NodeRow> expected_nodes = {
        {"Product", "a", "", R"({"@type":"Product","brand":{"logo":"x","name":"Acme"},"sku":"a"})"},
        {"Brand", "Acme", "Acme", R"("Acme")"},
        {"Product", "b", "", R"({"@type":"Product","brand":"Acme","sku":"b"})"},
    };
    EXPECT_EQ(result.nodes, expected_nodes);
    EXPECT_EQ(result.edges, (std::vector<EdgeRow>{{"a", RelType::Brand, "Acme"}, {"b", RelType::Brand, "Acme"}}));
}

}  // namespace

namespace {

TEST(JsonLdGather, LargeMisnestedPageWithBrokenBlocks) {
    std::string page = "<html><body><table><div><p><b><i>";
    while (page.size() < 10'000'000) {
        page += R"(<tr><td><p>$12 <b>bold <i>both</b> italic</p></i><form><form></table><li><a><a>)";
        page += block(R"({"@type":"Product","sku":"x","offers":[{"price":"1"})");
    }
    page += block(R"({"@type":"Product","sku":"last"})");
    page += R"(<script type="application/ld+json">{"@type":"Product","sku":"cut")";
    const Snapshot result = ingest_page(page);
    EXPECT_EQ(result.nodes, (std::vector<NodeRow>{{"Product", "last", "", R"({"@type":"Product","sku":"last"})"}}));
}

}  // namespace
