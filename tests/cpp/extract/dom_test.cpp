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

// The walk reports elements around their descendants and text in tree order, template contents included and
// comments left out; the first of duplicate attributes wins; a leading BOM is dropped.
TEST(DomDocument, WalksTheTreeInOrderAndReadsAttributes) {
    struct Recorder final : TreeVisitor {
        std::vector<std::string> events;
        void open(Element element) override {
            if (auto id = element.attr("id")) events.push_back("<" + *id);
        }
        void close(Element element) override {
            if (auto id = element.attr("id")) events.push_back(">" + *id);
        }
        void text(std::string_view text) override { events.emplace_back(text); }
    } recorder;
    Document{"\xEF\xBB\xBF" R"(<div id=a>x<b id=b id=z>y</b><!--c--><template id=t>z</template></div><i id=i></i>)"}.walk(recorder);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"<a", "x", "<b", "y", ">b", "<t", "z", ">t", ">a", "<i", ">i"}));

    const Document document{R"(<a itemprop="url" href="1" href="2" data-x>t</a>)"};
    const Element link = document.select(Selector::Url).at(0);
    EXPECT_EQ(link.attr("href"), "1");
    EXPECT_EQ(link.attr("data-x"), "");
    EXPECT_EQ(link.attr("missing"), std::nullopt);
}

std::string all_text(const std::string& html) {
    struct Collector final : TreeVisitor {
        std::string all;
        void open(Element) override {}
        void close(Element) override {}
        void text(std::string_view chunk) override { all += chunk; }
    } collector;
    Document{html}.walk(collector);
    return collector.all;
}

const std::string kReplacement = "\xEF\xBF\xBD";

// The text of a page as the HTML rules read it. U+0000 is dropped where they read text (also in tables and MathML
// text) and is U+FFFD in raw text, RCDATA and foreign content. Raw-text elements keep character references as
// written, also after an end tag that does not close them; RCDATA elements and foreign elements named like raw-text
// ones decode them. Text appended to a text node whose leading white space or newline the tree builder cropped is
// kept whole (the first such page made the parser copy between overlapping buffers).
TEST(DomDocument, TextFollowsTheHtmlRules) {
    using namespace std::string_literals;
    const std::string r = kReplacement;
    std::vector<std::pair<std::string, std::string>> cases = {
        {"<i>\0\0ab\0c</i>"s, "abc"}, {"<i>\0\0\xC3\xA9\0i</i>"s, "\xC3\xA9i"}, {"<i>a\0\0&amp;\0\0b&#x41;\0</i>"s, "a&bA"},
        {"<i>\0</i>"s, ""}, {"<i><table>a\0\0b\0c<tr><td>d\0\0e\0f</td></tr></table></i>"s, "abcdef"},
        {"<i><math><mi>a\0\0b\0c</mi></math></i>"s, "abc"}, {"<i><svg>a\0\0b<desc>c\0\0d</desc></svg></i>"s, "a" + r + r + "bcd"},
        {"<i><style>a\0\0b</style><textarea>c\0d</textarea><script>e\0f</script><!--\0-->\0</i>"s, "a" + r + r + "bc" + r + "de" + r + "f"},
        {"<i><svg><style>x&amp;y</style></svg></i>", "x&y"}, {"<head><noscript>a&amp;</p>b</noscript></head><i>c</i>", "a&amp;</p>bc"},
        {"\n          ></e>)\n " + r + r + ">", ">)\n " + r + r + ">"}, {"\n          ></e>)\n abcdef>", ">)\n abcdef>"},
        {"<pre>\nfoo</b>barbazquxquux</pre>", "foobarbazquxquux"}, {"<listing>\nfoo</b>bar</b>baz", "foobarbaz"},
        {"<head>\n  foo</x>barbazquxquux<b>x", "\n  foobarbazquxquuxx"},
        {"<html>  \t x</x>" + std::string(100, 'y') + "</x>z", "x" + std::string(100, 'y') + "z"},
    };
    for (const std::string tag : {"noscript", "iframe", "style", "xmp", "noembed", "noframes", "script"}) {
        cases.push_back({"<i>A<" + tag + ">x&amp;</div>y&lt;\r\n</b " + tag + "></" + tag + ">&amp;</i>",
                         "Ax&amp;</div>y&lt;\n</b " + tag + ">&"});
    }
    for (const std::string tag : {"textarea", "title"}) {
        cases.push_back({"<i>A<" + tag + ">x&amp;</div>y&lt;</" + tag + ">&amp;</i>", "Ax&</div>y<&"});
    }
    for (const auto& [html, text] : cases) EXPECT_EQ(all_text(html), text) << html;
}

// Attribute values read U+0000 as U+FFFD. Bytes that are not UTF-8 (which the pipeline's lossy decoding never hands
// over) leave the DOM repaired, one U+FFFD per maximal invalid sequence, from text, raw text, attribute values and
// the walk alike.
TEST(DomDocument, TextAndAttributesLeaveAsValidUtf8) {
    using namespace std::string_literals;
    const Document nuls{"<i itemprop=name content=\"x\0\0y\">t</i>"s};
    EXPECT_EQ(nuls.select(Selector::Name).at(0).attr("content"), "x" + kReplacement + kReplacement + "y");
    const Document document{"<i itemprop=name content=\"a\xC3\">b\xFF\xFE<style>\xE2\x82</style>\xF0\x9F\x98\x80</i>"};
    const Element name = document.select(Selector::Name).at(0);
    EXPECT_EQ(name.attr("content"), "a" + kReplacement);
    EXPECT_EQ(name.text(), "b" + kReplacement + kReplacement + kReplacement + "\xF0\x9F\x98\x80");
    EXPECT_EQ(all_text("b\xFF<p>\xC0\xAF"), "b" + kReplacement + kReplacement + kReplacement);
}

// A page too big to keep its tree for reuse is followed by pages parsed into a new tree.
TEST(DomDocument, TreeIsReusedNestedDocumentsStayIndependentAndMalformedInputParses) {
    std::string huge;
    for (int i = 0; i < 250'000; ++i) huge += "<b a=1>x</b>";
    EXPECT_EQ(selected(huge + "<i itemprop=name>last</i>", Selector::Name), std::vector<std::string>{"last"});
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
