#include "extract/microdata.hpp"

#include "extract/graph_snapshot.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kuv::extract::microdata {

void PrintTo(const MicrodataProduct& r, std::ostream* os) {
    *os << r.name;
    for (const auto* field : {&r.price, &r.currency, &r.image, &r.url}) *os << " | " << field->value_or("(none)");
}

namespace {

using namespace kuv::testing;

std::string scope(std::string_view body, std::string_view type = "https://schema.org/Product") {
    return R"(<div itemscope itemtype=")" + std::string{type} + R"(">)" + std::string{body} + "</div>";
}

TEST(ExtractFromDom, ReadsProductScopesAndThePageRecord) {
    const std::vector<std::pair<std::string, std::vector<MicrodataProduct>>> cases = {
        {R"(<meta property="og:url" content="s://h/cat">)" +
             scope(R"(<h1 itemprop="name"> Shirt </h1><span itemprop="price" content="12.50">12,50</span><link itemprop="url")"
                   R"( href="/p/7"><meta itemprop="priceCurrency" content="usd"><img itemprop="image" src="/img/a.png">)"),
         {{.name = "Shirt", .price = "12.50", .currency = "usd", .image = "s://h/img/a.png", .url = "s://h/p/7"}}},
        // A value is the content attribute (even empty), then src, then href, then all descendant text trimmed of
        // Unicode white space; elements without one are passed over, and an itemprop of several words does not match.
        {scope(R"(<meta itemprop="name" content="">)"), {{.name = ""}}}, {scope(R"(<span itemprop="name brand">X</span>)"), {}},
        {scope(R"(<a itemprop="name" href="h" src="s">t</a><a itemprop="price" href="9">1</a><a itemprop="priceCurrency">  EUR&nbsp;</a>)"),
         {{.name = "s", .price = "9", .currency = "EUR"}}},
        {scope("<span itemprop=\"name\">\xE3\x80\x80 Blue <b>Shirt</b>\xC2\xA0</span>"), {{.name = "Blue Shirt"}}},
        {scope(R"(<span itemprop="name"> </span><b itemprop="name"> <i itemprop="name" content="C"></i> </b>)"), {{.name = "C"}}},
        {scope(R"(<span itemprop="name"> </span><span itemprop="price">5</span>)"), {}},  // no name, no page record
        // ProductGroup and IndividualProduct open scopes too; the type is case-sensitive.
        {scope(R"(<i itemprop="name">G</i>)", "https://schema.org/ProductGroup") +
             scope(R"(<i itemprop="name">I</i>)", "IndividualProduct") + scope(R"(<i itemprop="name">L</i>)", "product"),
         {{.name = "G"}, {.name = "I"}}},
        // Nested scopes: the outer one sees the inner one's fields; the scope element itself is no candidate.
        {R"(<div itemscope itemtype="Product">)" + scope(R"(<i itemprop="name">Inner</i>)") + R"(<i itemprop="name">Outer</i></div>)",
         {{.name = "Inner"}, {.name = "Inner"}}},
        // Without a named scope, one page record from the first name, price and image anywhere, with the og:url as written.
        {R"(<div itemscope itemtype="Product" itemprop="name" content="Self"><i itemprop="price">3</i></div>)", {{.name = "Self", .price = "3"}}},
        {R"(<meta property="og:url" content="/cat"><ol><li itemprop="name">Home</li></ol><img itemprop="image" src="//c/a.png">)"
                          R"(<b itemprop="price">7</b><link itemprop="url" href="/ignored">)",
         {{.name = "Home", .price = "7", .image = "https://c/a.png", .url = "/cat"}}},
        {scope(R"(<i itemprop="price">1</i>)") + R"(<i itemprop="name">Org</i>)", {{.name = "Org", .price = "1"}}},
        // Scopes without a url take the first og:url with a value, from meta elements only; it is also the base.
        {R"(<meta property="og:url"><meta property="og:url" content="s://h/x">)" + scope(R"(<i itemprop="name">A</i>)") +
             scope(R"(<i itemprop="name">B</i><i itemprop="image">/a.png</i>)"),
         {{.name = "A", .url = "s://h/x"}, {.name = "B", .image = "s://h/a.png", .url = "s://h/x"}}},
        {R"(<link property="og:url" href="s://h/x">)" + scope(R"(<i itemprop="name">A</i><img itemprop="image" src="//c/a.png">)"),
         {{.name = "A", .image = "//c/a.png"}}},
        {"<noscript>" + scope(R"(<i itemprop="name">Hidden</i>)") + "</noscript>", {}},  // noscript content is text
    };
    for (const auto& [html, expected] : cases) EXPECT_EQ(extract_from_dom(dom::Document{html}), expected) << html;
}

// Every scope and field lookup searches one index of the page, so nesting costs no more than a flat page: scopes
// that each name and price themselves before their inner scopes, name elements that wrap the inner scopes and share
// the one text at the bottom, and blank name candidates that each wrap the next.
TEST(ExtractFromDom, DeeplyNestedScopesAndCandidatesStayFast) {
    constexpr int kDepth = 50'000;
    const std::string scope_open = R"(<span itemscope itemtype="https://schema.org/Product">)";
    std::string named, wrapping, blank;
    std::vector<MicrodataProduct> expected_named, expected_wrapping;
    for (int i = 0; i < kDepth; ++i) {
        const std::string n = std::to_string(i);
        named += scope_open + R"(<span itemprop="name">N)" + n + R"(</span><span itemprop="price">)" + n + "</span>";
        wrapping += scope_open + R"(<span itemprop="name">)";
        blank += R"(<span itemprop="name"> <span itemprop="name"> )";
        expected_named.push_back({.name = "N" + n, .price = n});
        expected_wrapping.push_back({.name = "x"});
    }
    wrapping += "x";
    blank += R"(<i itemprop="name" content="Deep"></i>)";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(extract_from_dom(dom::Document{named}), expected_named);
    EXPECT_EQ(extract_from_dom(dom::Document{wrapping}), expected_wrapping);
    EXPECT_EQ(extract_from_dom(dom::Document{blank}), std::vector<MicrodataProduct>{{.name = "Deep"}});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(Absolutize, AppliesTheFirstRuleThatFits) {
    struct Case { std::string url; std::optional<std::string> base; std::string expected; };
    const std::vector<Case> cases = {
        {"https://x/a", "s://h/", "https://x/a"}, {"HTTPS://X/a", "s://h/", "HTTPS://X/a"}, {"img/a.png", "s://h/cat", "img/a.png"},
        {"/a.png", std::nullopt, "/a.png"}, {"", "s://h/cat", ""}, {"//c/a.png", "s://h/cat", "s://c/a.png"},
        {"//c/a.png", "h/cat", "https://c/a.png"}, {"//", "s://h", "s://"}, {"/img/a.png", "s://h/cat", "s://h/img/a.png"},
        {"/a.png", "s://h", "s://h/a.png"}, {"/a.png", "s:///cat", "/a.png"}, {"/a.png", "h/cat", "/a.png"},
        {"/a", "a://b://c/d", "a://b:/a"}, {"data:image/png;base64,AA", "s://h/", "data:image/png;base64,AA"},
    };
    for (const Case& c : cases) EXPECT_EQ(absolutize(c.url, c.base), c.expected) << c.url << " on " << c.base.value_or("-");
}

TEST(IngestMicrodata, WritesOneProductPerRecordOnAPageInEuros) {
    expect_graphs<std::vector<MicrodataProduct>>({
        // The id is the url, else the name; the record's currency text replaces the page currency.
        {{{.name = "Shirt", .price = "12.5", .currency = "usd", .image = "s://h/a.png", .url = "s://h/p/7"}},
         {{"Product", "s://h/p/7", "Shirt",
           R"({"currency":"usd","image":"s://h/a.png",)" + unconfident_price("12.50", 1250) + R"(,"url":"s://h/p/7"})"}}},
        {{{.name = "A", .price = "12,50"}}, {{"Product", "A", "A", R"({"currency":"EUR",)" + unconfident_price("1250", 125000) + "}"}}},
        {{{.name = "A", .price = "call us", .currency = ""}}, {{"Product", "A", "A", R"({"currency":""})"}}},  // no verdict
        // The last record of an id wins; an empty name is still an id.
        {{{.name = "A", .url = "u"}, {.name = "B", .image = "i", .url = "u"}, {.name = "A"}, {.name = ""}},
         {{"Product", "u", "B", R"({"image":"i","url":"u"})"}, {"Product", "A", "A", "{}"}, {"Product", "", "", "{}"}}},
    }, [](core::GraphBuilder& builder, const std::vector<MicrodataProduct>& records) {
        ingest_microdata(builder, records, PriceScale{{}, {}, "EUR"});
    });
}

}  // namespace
}  // namespace kuv::extract::microdata
