#include "extract/microdata.hpp"

#include "extract/graph_snapshot.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kuv::extract::microdata {

void PrintTo(const MicrodataProduct& record, std::ostream* os) {
    const auto field = [os](const char* key, const std::optional<std::string>& value) {
        *os << " " << key << "=" << (value ? "\"" + *value + "\"" : "none");
    };
    *os << "{name=\"" << record.name << "\"";
    field("price", record.price);
    field("currency", record.currency);
    field("image", record.image);
    field("url", record.url);
    *os << "}";
}

namespace {

using testing::NodeRow;

constexpr std::string_view kOpenScope = R"(<div itemscope itemtype="https://schema.org/Product">)";

std::string scope(std::string_view body) { return std::string{kOpenScope} + std::string{body} + "</div>"; }

std::string og_url(std::string_view url) {
    return R"(<meta property="og:url" content=")" + std::string{url} + R"(">)";
}

struct ExtractCase {
    const char* what;
    std::string html;
    std::vector<MicrodataProduct> expected;
};

TEST(ExtractFromDom, ReadsProductScopesAndThePageRecord) {
    const std::vector<ExtractCase> cases = {
        {"all fields of one scope",
         og_url("s://h/cat") +
             scope(R"(<h1 itemprop="name"> Shirt </h1><span itemprop="price" content="12.50">12,50</span>)"
                   R"(<meta itemprop="priceCurrency" content="usd"><img itemprop="image" src="/img/a.png">)"
                   R"(<link itemprop="url" href="/p/7">)"),
         {{.name = "Shirt", .price = "12.50", .currency = "usd", .image = "s://h/img/a.png", .url = "s://h/p/7"}}},
        {"empty content attribute is a value", scope(R"(<meta itemprop="name" content="">)"), {{.name = ""}}},
        {"content before src before href before text",
         scope(R"(<a itemprop="name" href="h" src="s">t</a><a itemprop="price" href="9">1</a>)"
               R"(<a itemprop="priceCurrency">  EUR&nbsp;</a>)"),
         {{.name = "s", .price = "9", .currency = "EUR"}}},
        {"text of all descendants, Unicode white space trimmed",
         scope("<span itemprop=\"name\">\xE3\x80\x80 Blue <b>Shirt</b>\xC2\xA0</span>"), {{.name = "Blue Shirt"}}},
        {"elements without a value are passed over",
         scope(R"(<span itemprop="name"> </span><span itemprop="name">Second</span>)"), {{.name = "Second"}}},
        {"a blank-only name gives no record and no page record",
         scope(R"(<span itemprop="name"> </span><span itemprop="price">5</span>)"), {}},
        {"an itemprop of several words does not match",
         scope(R"(<span itemprop="name brand">X</span>)"), {}},
        {"ProductGroup and IndividualProduct open scopes, lower-case product does not",
         R"(<div itemscope itemtype="https://schema.org/ProductGroup"><i itemprop="name">G</i></div>)"
         R"(<div itemscope itemtype="https://schema.org/IndividualProduct"><i itemprop="name">I</i></div>)"
         R"(<div itemscope itemtype="https://schema.org/product"><i itemprop="name">L</i></div>)",
         {{.name = "G"}, {.name = "I"}}},
        {"scopes without a url take the page address",
         og_url("s://h/cat") + scope(R"(<i itemprop="name">A</i>)") + scope(R"(<i itemprop="name">B</i>)"),
         {{.name = "A", .url = "s://h/cat"}, {.name = "B", .url = "s://h/cat"}}},
        {"nested scopes: the outer one sees the inner one's fields",
         std::string{kOpenScope} + scope(R"(<i itemprop="name">Inner</i>)") + R"(<i itemprop="name">Outer</i></div>)",
         {{.name = "Inner"}, {.name = "Inner"}}},
        {"the scope element itself is not a candidate; the page record then finds it",
         R"(<div itemscope itemtype="Product" itemprop="name" content="Self"><i itemprop="price">3</i></div>)",
         {{.name = "Self", .price = "3"}}},
        {"page record from a name anywhere, with the og:url as written",
         og_url("/cat") + R"(<ol><li itemprop="name">Home</li></ol><img itemprop="image" src="//c/a.png">)"
                          R"(<b itemprop="price">7</b><link itemprop="url" href="/ignored">)",
         {{.name = "Home", .price = "7", .image = "https://c/a.png", .url = "/cat"}}},
        {"page record when every scope lacks a name",
         scope(R"(<i itemprop="price">1</i>)") + R"(<i itemprop="name">Org</i>)", {{.name = "Org", .price = "1"}}},
        {"the first og:url with a value is the base",
         R"(<meta property="og:url"><meta property="og:url" content="s://h/x">)" +
             scope(R"(<i itemprop="name">A</i><i itemprop="image">/a.png</i>)"),
         {{.name = "A", .image = "s://h/a.png", .url = "s://h/x"}}},
        {"og:url only on meta elements", R"(<link property="og:url" href="s://h/x">)" + scope(R"(<i itemprop="name">A</i>)"),
         {{.name = "A"}}},
        {"noscript content is text, not properties",
         "<noscript>" + scope(R"(<i itemprop="name">Hidden</i>)") + "</noscript>", {}},
        {"without a base an image address stays as written",
         scope(R"(<i itemprop="name">A</i><img itemprop="image" src="//c/a.png">)"), {{.name = "A", .image = "//c/a.png"}}},
        {"an attribute value inside a blank element still counts",
         scope(R"(<b itemprop="name"> <i itemprop="name" content="C"></i> </b>)"), {{.name = "C"}}},
        {"nothing", "<p>plain page</p>", {}},
    };
    for (const ExtractCase& c : cases) {
        const dom::Document document{c.html};
        EXPECT_EQ(extract_from_dom(document), c.expected) << c.what;
    }
}

TEST(ExtractFromDom, DeeplyNestedBlankCandidatesStayFast) {
    constexpr int kDepth = 100'000;
    std::string html;
    for (int i = 0; i < kDepth; ++i) html += R"(<span itemprop="name"> )";
    html += R"(<i itemprop="name" content="Deep"></i>)";
    const auto start = std::chrono::steady_clock::now();
    const dom::Document document{html};
    EXPECT_EQ(extract_from_dom(document), std::vector<MicrodataProduct>{{.name = "Deep"}});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

struct AbsolutizeCase {
    std::string url;
    std::optional<std::string> base;
    std::string expected;
};

TEST(Absolutize, AppliesTheFirstRuleThatFits) {
    const std::vector<AbsolutizeCase> cases = {
        {"https://x/a", "s://h/", "https://x/a"},
        {"httpfoo", "s://h/", "httpfoo"},
        {"http", std::nullopt, "http"},
        {"/a.png", std::nullopt, "/a.png"},
        {"", "s://h/cat", ""},
        {"//c/a.png", "s://h/cat", "s://c/a.png"},
        {"//c/a.png", "h/cat", "https://c/a.png"},
        {"//", "s://h", "s://"},
        {"/img/a.png", "s://h/cat", "s://h/img/a.png"},
        {"/a.png", "s://h", "s://h/a.png"},
        {"/a.png", "s:///cat", "/a.png"},
        {"/a.png", "h/cat", "/a.png"},
        {"/a", "a://b://c/d", "a://b:/a"},
        {"img/a.png", "s://h/cat", "img/a.png"},
        {"HTTPS://X/a", "s://h/", "HTTPS://X/a"},
        {"data:image/png;base64,AA", "s://h/", "data:image/png;base64,AA"},
    };
    for (const AbsolutizeCase& c : cases) {
        EXPECT_EQ(absolutize(c.url, c.base), c.expected) << c.url << " on " << c.base.value_or("(none)");
    }
}

struct IngestCase {
    const char* what;
    std::vector<MicrodataProduct> records;
    std::vector<NodeRow> nodes;
};

TEST(IngestMicrodata, WritesOneProductPerRecord) {
    const std::vector<IngestCase> cases = {
        {"all fields; the record's currency text replaces the page currency",
         {{.name = "Shirt", .price = "12.5", .currency = "usd", .image = "s://h/a.png", .url = "s://h/p/7"}},
         {{"Product", "s://h/p/7", "Shirt",
           R"({"currency":"usd","image":"s://h/a.png","price":"12.50","price_cents":1250,"price_confident":false,)"
           R"("price_scale":2,"price_score":0,"url":"s://h/p/7"})"}}},
        {"page currency when the record has none; decimal comma read as digits",
         {{.name = "A", .price = "12,50"}},
         {{"Product", "A", "A",
           R"({"currency":"EUR","price":"1250","price_cents":125000,"price_confident":false,"price_scale":2,"price_score":0})"}}},
        {"a price without a verdict writes no price key",
         {{.name = "A", .price = "call us", .currency = ""}},
         {{"Product", "A", "A", R"({"currency":""})"}}},
        {"nothing but a name", {{.name = "A"}}, {{"Product", "A", "A", "{}"}}},
        {"an empty name is still an id", {{.name = ""}}, {{"Product", "", "", "{}"}}},
        {"one url, two records: the last one wins",
         {{.name = "A", .url = "u"}, {.name = "B", .image = "i", .url = "u"}, {.name = "A"}},
         {{"Product", "u", "B", R"({"image":"i","url":"u"})"}, {"Product", "A", "A", "{}"}}},
    };
    PriceScale scale;
    scale.currency = "EUR";
    for (const IngestCase& c : cases) {
        core::GraphBuilder builder;
        ingest_microdata(builder, c.records, scale);
        const auto got = testing::snapshot(std::move(builder));
        EXPECT_EQ(got.nodes, c.nodes) << c.what;
        EXPECT_TRUE(got.edges.empty()) << c.what;
    }
}

}  // namespace
}  // namespace kuv::extract::microdata
