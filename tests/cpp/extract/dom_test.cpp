#include "extract/dom.hpp"

#include <gtest/gtest.h>
#include <pthread.h>

#include <string>
#include <vector>

namespace kuv::extract::dom {
namespace {

std::vector<std::string> texts(const std::vector<Element>& elements) {
    std::vector<std::string> out;
    for (const Element& element : elements) out.push_back(element.text());
    return out;
}

std::vector<std::string> selected(const std::string& html, Selector selector) { return texts(Document{html}.select(selector)); }

// Values compare exactly, except the type of HTML (not foreign) elements, which ignores ASCII case.
TEST(DomSelect, SelectorsFollowTheirCaseAndMatchRulesInDocumentOrder) {
    const std::string scripts =
        R"(<head><script type="application/ld+json">1</script></head><body><template><script type="application/ld+json">2)"
        R"(</script></template><script type="APPLICATION/LD+JSON">3</script><script type="application/ld+json ">x</script>)"
        R"(<script type=text/javascript>x</script><div type="application/ld+json">x</div><svg><script type="Application/ld+json">)"
        R"(x</script><script type="application/ld+json">4</script></svg>)";
    const std::string microdata =
        R"(<div itemscope itemtype="https://schema.org/Product">a</div><div itemscope itemtype="x/product">b</div>)"
        R"(<div itemtype="https://schema.org/Product">c</div><div itemscope="" itemtype="ProductGroup">d</div>)"
        R"(<span itemprop="name">n</span><span itemprop="Name">x</span><span itemprop="name brand">x</span><a itemprop="url">u</a>)"
        R"(<span itemprop="price">1</span><span itemprop="priceCurrency">EUR</span><img itemprop="image" src=x>)"
        R"(<meta property="og:url" content="x"><link property="og:url"><meta property="OG:URL">)";
    struct Case { std::string html; Selector selector; std::vector<std::string> expected; };
    const Case cases[] = {
        {scripts, Selector::JsonLd, {"1", "2", "3", "4"}}, {microdata, Selector::ProductScope, {"a", "d"}},
        {microdata, Selector::Name, {"n"}}, {microdata, Selector::Price, {"1"}}, {microdata, Selector::Currency, {"EUR"}},
        {microdata, Selector::Image, {""}}, {microdata, Selector::Url, {"u"}}, {microdata, Selector::OgUrl, {""}},
        // Text: all descendant text without comments; script, style and noscript content is text.
        {R"(<div itemprop="name">a<b>b<!-- c -->c</b><script>s</script><style>t</style>&amp;</div>)", Selector::Name, {"abcst&"}},
        {R"(<div itemprop="name"><noscript><p>raw</p></noscript></div>)", Selector::Name, {"<p>raw</p>"}},
        {R"(<div itemprop="name"><template><i>in</i></template>out</div>)", Selector::Name, {"inout"}},
        {R"(<div itemprop="name"><p>a<div>b</p>c</div>)", Selector::Name, {"abc"}},
    };
    for (const Case& c : cases) EXPECT_EQ(selected(c.html, c.selector), c.expected) << c.html.substr(0, 100);
}

// Select within a scope finds descendants only; the first of duplicate attributes wins; a leading BOM is dropped.
TEST(DomElement, ScopesAttributesAndByteOrderMark) {
    const Document document{"\xEF\xBB\xBF" R"(<meta property="og:url" content="x"><div itemprop="name" itemscope itemtype="Product">)"
                            R"(<b itemprop="name">x</b></div><i itemprop="name">y</i><a itemprop="url" href="1" href="2" data-x>t</a>)"};
    const Element scope = document.select(Selector::ProductScope).at(0);
    EXPECT_EQ(texts(document.select_within(scope, Selector::Name)), std::vector<std::string>{"x"});
    const Element meta = document.select(Selector::OgUrl).at(0), link = document.select(Selector::Url).at(0);
    EXPECT_EQ(meta.attr("content"), "x");
    EXPECT_EQ(link.attr("href"), "1");
    EXPECT_EQ(link.attr("data-x"), "");
    EXPECT_EQ(link.attr("missing"), std::nullopt);
}

TEST(DomDocument, TreeIsReusedNestedDocumentsStayIndependentAndMalformedInputParses) {
    for (int round = 0; round < 3; ++round) {
        const Document outer{"<span itemprop=\"name\">outer</span>"};
        EXPECT_EQ(selected("<span itemprop=\"name\">inner</span>", Selector::Name), std::vector<std::string>{"inner"});
        EXPECT_EQ(texts(outer.select(Selector::Name)), std::vector<std::string>{"outer"});
    }
    const std::string malformed[] = {"", "<", "</div></div><table><td><tr>x", "<!-- never closed", "\xff\xfe<p>", {"a\0b<p>\0", 7}};
    for (const std::string& page : malformed) EXPECT_TRUE(selected(page, Selector::JsonLd).empty()) << page;
    EXPECT_EQ(selected("<script type=\"application/ld+json\">{", Selector::JsonLd), std::vector<std::string>{"{"});
}

// On a thread with a small stack, so recursion on page depth would crash.
TEST(DomDocument, DeeplyNestedPageIsWalkedWithoutRecursion) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 512 * 1024);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, [](void*) -> void* {
        std::string html;
        // Spans: nested <div>s make the HTML5 scope checks quadratic in the parser itself.
        for (int i = 0; i < 100'000; ++i) html += "<span>";
        const Document document{html + R"(<script type="application/ld+json">deep</script>)"};
        EXPECT_EQ(texts(document.select(Selector::JsonLd)), std::vector<std::string>{"deep"});
        return nullptr;
    }, nullptr), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

}  // namespace
}  // namespace kuv::extract::dom
