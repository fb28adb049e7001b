#include "extract/pipeline.hpp"

#include "extract/page_stream.hpp"

#include "core/interrupt.hpp"
#include "core/utf8.hpp"
#include "graph_snapshot.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kuv::extract {
namespace {

std::string jsonld_page(const std::string& sku, const std::string& name) {
    return R"(<html><head><script type="application/ld+json">{"@type":"Product","sku":")" + sku +
           R"(","name":")" + name + R"(","offers":{"price":"5.00"}}</script></head><body>$5.00</body></html>)";
}

std::vector<std::string> product_names(const testing::Snapshot& graph) {
    std::vector<std::string> names;
    for (const auto& node : graph.nodes) {
        if (node.kind == "Product") names.push_back(node.name);
    }
    return names;
}

// Each page holds its own source and all those of lower priority: the first that yields wins,
// whatever sources that yield nothing come before it.
TEST(ExtractPage, SourcePriorityAndPriceEvidence) {
    const std::string sources[] = {
        R"(<script>var s = {"products":[{"handle":"mug","title":"Mug","price":"12.00"}]};</script>)",
        R"(<div ga-product='{"id":"g1","name":"Ga"}'></div>)",
        R"(<script id="__NEXT_DATA__" type="application/json">{"p":[{"name":"N","price":1}]}</script>)",
        R"(<div itemscope itemtype="https://schema.org/Product"><span itemprop="name">Md</span></div>)",
        jsonld_page("a", "A"),
        "<p>$19.99 and $19.99</p>",
    };
    std::string page;
    for (std::size_t first = std::size(sources); first-- > 0;) {
        page = sources[first] + page;
        const auto [extract, scale] = extract_page(page);
        EXPECT_EQ(extract.index(), first) << page;
        EXPECT_EQ(scale.seen, first < 5 ? AmountSet{19} : AmountSet{}) << page;  // evidence only with products
        EXPECT_EQ(scale.has_text_prices, first < 5) << page;
    }
    // A source that is present but yields nothing hands the page on to every later one.
    const std::string present_but_empty[] = {
        R"(<script>var s = {"products":[]};</script>)",
        R"(<div ga-product='not json'></div>)",
        R"(<script id="__NEXT_DATA__" type="application/json">{"props":{"page":"home"}}</script>)",
        R"(<div itemscope itemtype="https://schema.org/Product"><span itemprop="price">5</span></div>)",
    };
    for (std::size_t empty = 0; empty < std::size(present_but_empty); ++empty) {
        for (std::size_t next = empty + 1; next < 5; ++next) {
            page = present_but_empty[empty] + sources[next];
            EXPECT_EQ(extract_page(page).first.index(), next) << page;
        }
    }
}

// The raw-text needles of the three text sources and of the page currency are found at any
// offset, also in the page's last bytes, and never across a byte sequence that decoding replaced.
TEST(ExtractPage, TextNeedlesAtAnyOffsetAndNotAcrossInvalidBytes) {
    struct Case { std::string tail; std::size_t source; std::string_view currency; };
    const std::vector<Case> cases = {
        {R"("products":[{"handle":"m","price":"$12"}])", 0, ""}, {R"("productList":[1] "priceCurrency":"usd")", 0, "USD"},
        {R"(<a ga-product='{"id":"g"}'>"currency_code":"jpy")", 1, "JPY"}, {"<b ga-product='7'>\u20AC", 1, "EUR"},
        {R"(<script id="__NEXT_DATA__">{"p":[{"name":"N","price":1}]}</script>"currency":"gbp")", 2, "GBP"},
        {R"("items":[1]"currency":"xx"NT$)", 0, "TWD"}, {R"("items":[1] "priceCurrency")", 0, ""},
        // Invalid bytes inside a needle become U+FFFD and break it.
        {"\"prod\xFFucts\":[1]", 5, ""}, {"<a ga-product=\xE2\x82'7'>", 5, ""}, {"\"goods\":[1]\"price\xC0" "Currency\":\"usd\"", 0, ""},
        {"\"goods\":[1]\xE2\x82\xE2\x82\xAC", 0, "EUR"}, {"\"goods\":[1]\xE2\x82\xFF\xAC", 0, ""},
    };
    std::string buffer;
    for (const std::size_t offset : {0, 1, 30, 31, 32, 33, 64, 100'000}) {
        for (const Case& c : cases) {
            const std::string bytes = std::string(offset, ' ') + c.tail;
            const auto [extract, scale] = extract_page(decode_utf8_lossy(bytes, buffer));
            EXPECT_EQ(extract.index(), c.source) << offset << ": " << c.tail;
            EXPECT_EQ(scale.currency, c.currency) << offset << ": " << c.tail;
        }
    }
}

// Whatever the grouping (small pages fill a group by count, a large one by size), however small
// the window, and whether the texts are the caller's or written into the stream's memory (into
// recycled blocks, into some while the budget of one block is full at times, or into none), and
// whether finished groups are absorbed while pages are still being added, pages are ingested in
// input order and a later page wins.
TEST(PageStream, IngestsInInputOrderAndLaterPagesOverwriteTheSameId) {
    const char* const kinds[] = {"Caf\xC3\xA9 ", "\xE2\x82\xAC ", "\xF0\x9F\x98\x80 "};  // two, three, four bytes
    std::vector<std::string> pages, expected;
    for (int i = 0; i < 700; ++i) {
        const std::string name = kinds[i % 3] + std::to_string(i);
        pages.push_back(jsonld_page("sku" + std::to_string(i), name) + (i % 30 == 1 ? std::string(1'500'000, 'z') : ""));
        expected.push_back(i == 0 ? "First again" : name);
    }
    pages.insert(pages.end(), {R"(<script>var s = {"products":[{"handle":"mug","title":"Mug"}]};</script>)",
                               jsonld_page("sku0", "First again")});
    expected.push_back("Mug");
    struct Run { std::size_t window, budget; bool written, early = false; };
    const auto ingest = [&](const Run& run) {
        core::GraphBuilder builder;
        PageStream stream(run.window, run.budget);
        if (run.early) stream.absorb_early_into(builder);
        for (const std::string& page : pages) {
            if (!run.written) {
                stream.add(page);
                continue;
            }
            const std::string text = page;  // written from a text that dies at once
            std::copy(text.begin(), text.end(), stream.room_for(2 * text.size()));
            stream.add_written(text.size());
        }
        stream.ingest_into(builder);
        PageStream().ingest_into(builder);  // no pages: nothing changes
        return testing::snapshot(std::move(builder));
    };
    const testing::Snapshot plain = ingest({PageStream::kWindow, PageStream::kCopyBudget, false});
    EXPECT_EQ(product_names(plain), expected);
    for (const Run& run : {Run{1, PageStream::kCopyBudget, false}, Run{3, PageStream::kCopyBudget, true},
                           Run{PageStream::kWindow, PageCopies::kBlockBytes, true}, Run{PageStream::kWindow, 0, true},
                           Run{1, PageStream::kCopyBudget, false, true}, Run{4, PageCopies::kBlockBytes, true, true}}) {
        const testing::Snapshot got = ingest(run);
        EXPECT_EQ(got.nodes, plain.nodes) << run.window << " " << run.budget << " " << run.written << " " << run.early;
        EXPECT_EQ(got.edges, plain.edges) << run.window << " " << run.budget << " " << run.written << " " << run.early;
    }
}

// Left after a stop request with its groups still being extracted, the stream waits for them
// before its pages and slots go.
TEST(PageStream, AStopRequestEndsTheWaitAndTheStreamCanBeLeft) {
    struct StopAlways : InterruptProbe {
        bool stop_requested() override { return true; }
    } probe;
    const std::string page = jsonld_page("s", "S");  // outlives the stream
    core::GraphBuilder builder;
    PageStream stream;
    for (int i = 0; i < 1000; ++i) stream.add(page);
    const InterruptScope scope(probe);
    EXPECT_THROW(stream.ingest_into(builder), Interrupted);
}

}  // namespace
}  // namespace kuv::extract
