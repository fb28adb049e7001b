// Gathering schema.org JSON-LD blocks from pages and writing their products.
#include "extract/jsonld.hpp"

#include "extract/graph_snapshot.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kuv::extract::jsonld {
namespace {

using namespace kuv::testing;

std::string block(std::string_view json) { return R"(<script type="application/ld+json">)" + std::string(json) + "</script>"; }

std::vector<Json> gathered(const std::string& html) {
    std::vector<Json> objects;
    gather(dom::Document{html}, objects);
    return objects;
}

void ingest_page(core::GraphBuilder& builder, const std::string& html) {
    for (const Json& object : gathered(html)) ingest_jsonld_product(builder, object, PriceScale{});
}

TEST(JsonLdGather, BlocksInDocumentOrderFlattened) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"<head>" + block(R"({"@type":"Organization"})") + "</head><body>" + block(R"([{"n":"A"},{"n":"B"}])"),
         {R"({"@type":"Organization"})", R"({"n":"A"})", R"({"n":"B"})"}},
        // "@graph" wins over "itemListElement"; the rest of the container is dropped.
        {block(R"({"@context":"x","@graph":[{"@type":"WebPage"},[{"a":1}],1,"s",null],"itemListElement":[{"b":2}]})"),
         {R"({"@type":"WebPage"})", R"({"a":1})"}},
        {block(R"({"itemListElement":[{"position":1,"item":{"n":"A"}},{"n":"B"},{"item":[{"x":1},{"y":2}]},{"item":7}]})"),
         {R"({"n":"A"})", R"({"n":"B"})", R"({"x":1})", R"({"y":2})"}},
        {block(R"({"itemListElement":{"@graph":{"z":1}}})"), {R"({"z":1})"}}, {block("{}") + block("[]") + block("null"), {"{}"}},
        // Not exactly one JSON value, or nested too deep: skipped.
        {block(R"({"a":1} trailing)") + block(R"(<!-- {"a":2} -->)") + block(R"({"a":3)") + block(R"( {"a":4} )"),
         {R"({"a":4})"}},
        {block(std::string(200, '[') + "{}" + std::string(200, ']')) + block(R"({"ok":1})"), {R"({"ok":1})"}},
        {R"(<script type="text/javascript">{"a":1}</script><div type="application/ld+json">{"a":2}</div>)", {}},
        {R"(<template><script type="application/ld+json">{"t":1}</script></template>)", {R"({"t":1})"}},
        {block(R"({"a":"<b>x</b>"})"), {R"({"a":"<b>x</b>"})"}}, {"<script type=\"application/ld+json\">{\"cut\":", {}},
    };
    for (const auto& [html, expected] : cases) EXPECT_EQ(json_texts(gathered(html)), expected) << html;
}

TEST(JsonLdIngest, ProductsWithTheirEntitiesOffersRatingsAndReviews) {
    const std::string full = R"({"@type":["Product","Thing"],"@id":"p","name":"Shoe","brand":{"name":"Acme"},)"
        R"("manufacturer":"Works","offers":[{"price":"19.99","availability":"https://schema.org/InStock","itemCondition":"New",)"
        R"("priceValidUntil":"2026-12-31","seller":{"name":"Shop"}},{"price":21}],"aggregateRating":{"ratingValue":4.5,)"
        R"("ratingCount":10},"review":[{"reviewBody":"Great","author":{"name":"Ann"},"reviewRating":{"ratingValue":"5"},)"
        R"("datePublished":"2026-01-02"},{"author":"Bob"},"x"]})";
    const Json original = parse_json(full).value();
    const auto dump = [&](const char* key) { return to_json_text(original[key]); };
    expect_graphs<std::string>({
        {block(full),
         {{"Product", "p", "Shoe", R"({"@id":"p","@type":["Product","Thing"],"aggregateRating":)" + dump("aggregateRating") +
           R"(,"availability":"InStock","brand":{"name":"Acme"},"item_condition":"New","manufacturer":"Works","name":"Shoe",)"
           R"("offers":)" + dump("offers") + "," + unconfident_price("19.99", 1999) + R"(,"price_valid_until":"2026-12-31",)"
           R"("rating_value":4.5,"review":)" + dump("review") + R"(,"review_count":10,"seller_name":"Shop"})"},
          {"Brand", "Acme", "Acme", R"({"name":"Acme"})"}, {"Organization", "Works", "Works", R"("Works")"},
          {"Offer", "p#offer0", R"("19.99")", to_json_text(original["offers"][0])}, {"Offer", "p#offer1", "21", R"({"price":21})"},
          {"AggregateRating", "p#rating", "4.5", R"({"ratingCount":10,"ratingValue":4.5,"rating_value":4.5,"review_count":10})"},
          {"Review", "p#review0", "Great", R"({"author":{"name":"Ann"},"date":"2026-01-02","datePublished":"2026-01-02",)"
           R"("rating_value":"5","reviewBody":"Great","reviewRating":{"ratingValue":"5"}})"},
          {"Person", "Ann", "Ann", R"({"name":"Ann"})"}, {"Review", "p#review1", "", R"({"author":"Bob"})"},
          {"Person", "Bob", "Bob", R"("Bob")"}, {"Review", "p#review2", "", "{}"}},
         {{"p", RelType::Brand, "Acme"}, {"p", RelType::Manufacturer, "Works"}, {"p", RelType::Offers, "p#offer0"},
          {"p", RelType::Offers, "p#offer1"}, {"p", RelType::AggregateRating, "p#rating"}, {"p", RelType::Review, "p#review0"},
          {"p", RelType::Review, "p#review1"}, {"p", RelType::Review, "p#review2"}, {"p#review0", RelType::Author, "Ann"},
          {"p#review1", RelType::Author, "Bob"}}},
        // Only an exact "Product" type; the id is the first present of "@id", "sku", "url", else the name.
        {block(R"([{"@type":"product"},{"@type":"schema:Product"},{"name":"a"},{"@type":["Thing"]}])"), {}},
        {block(R"([{"@type":"Product","@id":5,"sku":"s","name":"N"},{"@type":"Product","sku":"s2","url":"u"},)"
               R"({"@type":"Product","url":"u","name":7},{"@type":"Product"}])"),
         {{"Product", "N", "N", R"({"@id":5,"@type":"Product","name":"N","sku":"s"})"},
          {"Product", "s2", "", R"({"@type":"Product","sku":"s2","url":"u"})"},
          {"Product", "u", "", R"({"@type":"Product","name":7,"url":"u"})"}, {"Product", "", "", R"({"@type":"Product"})"}}},
        // A lone offer has no index; only the first offer gives terms; any offer value is a node.
        {block(R"({"@type":"Product","sku":"p","offers":{"lowPrice":3,"availability":"InStock"}})"),
         {{"Product", "p", "", R"({"@type":"Product","availability":"InStock","offers":{"availability":"InStock","lowPrice":3},"sku":"p"})"},
          {"Offer", "p#offer", "", R"({"availability":"InStock","lowPrice":3})"}},
         {{"p", RelType::Offers, "p#offer"}}},
        {block(R"({"@type":"Product","sku":"p","offers":[7,{"availability":"a/b/"}]})"),
         {{"Product", "p", "", R"({"@type":"Product","offers":[7,{"availability":"a/b/"}],"sku":"p"})"},
          {"Offer", "p#offer0", "", "7"}, {"Offer", "p#offer1", "", R"({"availability":"a/b/"})"}},
         {{"p", RelType::Offers, "p#offer0"}, {"p", RelType::Offers, "p#offer1"}}},
        // Unnamed entities are skipped; a lone review is review0; reviewCount wins over ratingCount even when null.
        {block(R"({"@type":"Product","sku":"p","brand":"","manufacturer":{"name":3},"aggregateRating":5,)"
               R"("review":{"author":{"name":""}}})"),
         {{"Product", "p", "", R"({"@type":"Product","aggregateRating":5,"brand":"","manufacturer":{"name":3},)"
                               R"("review":{"author":{"name":""}},"sku":"p"})"},
          {"AggregateRating", "p#rating", "", "{}"}, {"Review", "p#review0", "", R"({"author":{"name":""}})"}},
         {{"p", RelType::AggregateRating, "p#rating"}, {"p", RelType::Review, "p#review0"}}},
        {block(R"({"@type":"Product","sku":"p","brand":["B"],"aggregateRating":{"reviewCount":null,"ratingCount":4}})"),
         {{"Product", "p", "", R"({"@type":"Product","aggregateRating":{"ratingCount":4,"reviewCount":null},"brand":["B"],)"
                               R"("review_count":null,"sku":"p"})"},
          {"AggregateRating", "p#rating", "", R"({"ratingCount":4,"reviewCount":null,"review_count":null})"}},
         {{"p", RelType::AggregateRating, "p#rating"}}},
        // Named entities share their id across products.
        {block(R"([{"@type":"Product","sku":"a","brand":{"name":"Acme","logo":"x"}},)"
               R"({"@type":"Product","sku":"b","brand":"Acme"}])"),
         {{"Product", "a", "", R"({"@type":"Product","brand":{"logo":"x","name":"Acme"},"sku":"a"})"},
          {"Brand", "Acme", "Acme", R"("Acme")"}, {"Product", "b", "", R"({"@type":"Product","brand":"Acme","sku":"b"})"}},
         {{"a", RelType::Brand, "Acme"}, {"b", RelType::Brand, "Acme"}}},
    }, ingest_page);
}

TEST(JsonLdGather, LargeMisnestedPageWithBrokenBlocks) {
    std::string page = "<html><body><table><div><p><b><i>";
    while (page.size() < 10'000'000) {
        page += R"(<tr><td><p>$12 <b>bold <i>both</b> italic</p></i><form><form></table><li><a><a>)";
        page += block(R"({"@type":"Product","sku":"x","offers":[{"price":"1"})");
    }
    page += block(R"({"@type":"Product","sku":"last"})") + R"(<script type="application/ld+json">{"@type":"Product","sku":"cut")";
    expect_graphs<std::string>({{page, {{"Product", "last", "", R"({"@type":"Product","sku":"last"})"}}}}, ingest_page);
}

}  // namespace
}  // namespace kuv::extract::jsonld
