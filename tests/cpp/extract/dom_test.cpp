#include "extract/dom.hpp"

#include <gtest/gtest.h>
#include <pthread.h>

#include <string>
#include <vector>

namespace {

using kuv::extract::dom::Document;
using kuv::extract::dom::Element;
using kuv::extract::dom::Selector;

std::vector<std::string> texts(const std::vector<Element>& elements) {
    std::vector<std::string> out;
    for (const Element& element : elements) out.push_back(element.text());
    return out;
}

struct SelectorCase {
    const char* html;
    Selector selector;
    std::vector<std::string> expected_texts;
};

TEST(DomSelect, SelectorsFollowTheirCaseAndMatchRules) {
    const std::vector<SelectorCase> cases = {
        {R"(<script type="application/ld+json">a</script><script type="APPLICATION/LD+JSON">b</script>)",
         Selector::JsonLd, {"a", "b"}},
        {R"(<script type="application/ld+json ">a</script><script type=text/javascript>b</script>)",
         Selector::JsonLd, {}},
        {R"(<div type="application/ld+json">a</div><svg><script type="Application/ld+json">b</script></svg>)",
         Selector::JsonLd, {}},
        {R"(<svg><script type="application/ld+json">b</script></svg>)", Selector::JsonLd, {"b"}},
        {R"(<div itemscope itemtype="https://schema.org/Product">a</div><div itemscope itemtype="x/product">b</div>)",
         Selector::ProductScope, {"a"}},
        {R"(<div itemtype="https://schema.org/Product">a</div><div itemscope="" itemtype="ProductGroup">b</div>)",
         Selector::ProductScope, {"b"}},
        {R"(<span itemprop="name">a</span><span itemprop="Name">b</span><span itemprop="name brand">c</span>)",
         Selector::Name, {"a"}},
        {R"(<span itemprop="price">1</span><span itemprop="priceCurrency">EUR</span>)", Selector::Price, {"1"}},
        {R"(<span itemprop="price">1</span><span itemprop="priceCurrency">EUR</span>)", Selector::Currency, {"EUR"}},
        {R"(<img itemprop="image"><a itemprop="url">u</a><a itemprop="URL">v</a>)", Selector::Url, {"u"}},
        {R"(<img itemprop="image" src=x>)", Selector::Image, {""}},
        {R"(<meta property="og:url" content="x"><link property="og:url"><meta property="OG:URL">)",
         Selector::OgUrl, {""}},
    };
    for (const SelectorCase& c : cases) {
        Document document{c.html};
        EXPECT_EQ(texts(document.select(c.selector)), c.expected_texts) << c.html;
    }
}

TEST(DomSelect, TemplateContentsAndDocumentOrder) {
    Document document{R"(<head><script type="application/ld+json">1</script></head>
        <body><template><script type="application/ld+json">2</script></template>
        <div><script type="application/ld+json">3</script></div></body>)"};
    EXPECT_EQ(texts(document.select(Selector::JsonLd)), (std::vector<std::string>{"1", "2", "3"}));
}

TEST(DomSelect, WithinSearchesDescendantsOnly) {
    Document document{R"(<div itemprop="name" itemscope itemtype="Product"><b itemprop="name">x</b></div>
        <i itemprop="name">y</i>)"};
    const auto scopes = document.select(Selector::ProductScope);
    ASSERT_EQ(scopes.size(), 1u);
    EXPECT_EQ(texts(document.select_within(scopes[0], Selector::Name)), std::vector<std::string>{"x"});
}

TEST(DomElement, TextConcatenatesDescendantTextWithoutComments) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {R"(<div itemprop="name">a<b>b<!-- c -->c</b><script>s</script><style>t</style>&amp;</div>)", "abcst&"},
        {R"(<div itemprop="name"><noscript><p>raw</p></noscript></div>)", "<p>raw</p>"},
        {R"(<div itemprop="name"><template><i>in</i></template>out</div>)", "inout"},
        {R"(<div itemprop="name"><p>a<div>b</p>c</div>)", "abc"},
    };
    for (const auto& [html, expected] : cases) {
        Document document{html};
        const auto found = document.select(Selector::Name);
        ASSERT_EQ(found.size(), 1u) << html;
        EXPECT_EQ(found[0].text(), expected) << html;
    }
}

TEST(DomElement, FirstOfDuplicateAttributesWins) {
    Document document{R"(<a itemprop="url" href="first" href="second" data-x>t</a>)"};
    const auto found = document.select(Selector::Url);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].attr("href"), "first");
    EXPECT_EQ(found[0].attr("data-x"), "");
    EXPECT_EQ(found[0].attr("missing"), std::nullopt);
}

TEST(DomDocument, LeadingByteOrderMarkIsDropped) {
    Document document{"\xEF\xBB\xBF<meta property=\"og:url\" content=\"x\">"};
    const auto found = document.select(Selector::OgUrl);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].attr("content"), "x");
}

TEST(DomDocument, TreeIsReusedAndNestedDocumentsStayIndependent) {
    for (int round = 0; round < 3; ++round) {
        Document outer{"<span itemprop=\"name\">outer</span>"};
        {
            Document inner{"<span itemprop=\"name\">inner</span>"};
            EXPECT_EQ(texts(inner.select(Selector::Name)), std::vector<std::string>{"inner"});
        }
        EXPECT_EQ(texts(outer.select(Selector::Name)), std::vector<std::string>{"outer"});
    }
}

TEST(DomDocument, MalformedInputParses) {
    const std::vector<std::string> pages = {
        "", "<", "</div></div><table><td><tr>x", std::string("a\0b<p>\0", 7), "<script type=\"application/ld+json\">{",
        "<!-- never closed", "\xff\xfe<p>",
    };
    for (const std::string& page : pages) {
        Document document{page};
        (void)document.select(Selector::JsonLd);
    }
}

// Runs `work` on a thread with a small stack, so recursion on page depth would crash.
void run_on_small_stack(void (*work)()) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 512 * 1024);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, [](void* fn) -> void* {
        reinterpret_cast<void (*)()>(fn)();
        return nullptr;
    }, reinterpret_cast<void*>(work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

TEST(DomDocument, DeeplyNestedPageIsWalkedWithoutRecursion) {
    run_on_small_stack([] {
        constexpr int kDepth = 100000;
        std::string html;
        // Spans: nested <div>s make the HTML5 scope checks quadratic in the parser itself.
        for (int i = 0; i < kDepth; ++i) html += "<span>";
        html += R"(<script type="application/ld+json">deep</script><span itemprop="name">n</span>)";
        Document document{html};
        const auto found = document.select(Selector::JsonLd);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].text(), "deep");
        const auto names = document.select(Selector::Name);
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(names[0].text(), "n");
    });
}

}  // namespace
