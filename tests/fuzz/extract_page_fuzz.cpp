// Page extraction: one input's bytes, decoded as a file's are, as the pages of one call (the
// whole text, and its form-feed separated pieces), through extract_page and the ingestion of
// their products, directly and by the parallel stream, which must agree; the graph is then
// frozen, thawed as a merge does, and carried through the graph file's bytes.
#include "core/builder.hpp"
#include "core/json.hpp"
#include "core/schema.hpp"
#include "core/utf8.hpp"
#include "extract/page_stream.hpp"
#include "extract/pipeline.hpp"
#include "fuzz_target.hpp"
#include "graph_checks.hpp"

#include <string>
#include <utility>
#include <vector>

namespace kuv::fuzz {
namespace {

// Every text of the frozen graph is UTF-8 (Graph::str throws otherwise) and every props text
// is what the one JSON printer writes for it.
void check_node_texts(const core::Graph& graph) {
    for (const core::Node& node : graph.nodes) {
        graph.str(node.id);
        graph.str(node.name);
        const std::string_view props = graph.str(node.props);
        const std::optional<Json> value = parse_json(props);
        require(value && to_json_text(*value) == props, "props is JSON text printed by the JSON printer");
    }
}

// The pages of one call: the whole text, then, when it holds form feeds, the pieces between
// them, so that later pages upsert nodes of earlier ones again.
std::vector<std::string_view> pages_of(std::string_view text) {
    std::vector<std::string_view> pages{text};
    if (text.find('\f') == std::string_view::npos) return pages;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\f', start);
        pages.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return pages;
        start = end + 1;
    }
}

// The graph of the input's pages, ingested in order into one builder directly and through the
// parallel stream, which must freeze alike.
core::Graph graph_of(std::string_view input) {
    std::string buffer;
    const std::vector<std::string_view> pages = pages_of(decode_utf8_lossy(input, buffer));
    core::GraphBuilder direct;
    for (const std::string_view page : pages) {
        const auto [extract, scale] = extract::extract_page(page);
        extract::ingest_into(direct, extract, scale);
    }
    core::GraphBuilder streamed;
    {
        // A window of one group: with many pieces, later groups wait for earlier ones' absorption,
        // which happens as soon as they are done.
        extract::PageStream stream(1);
        stream.absorb_early_into(streamed);
        for (const std::string_view page : pages) stream.add(page);
        stream.ingest_into(streamed);
    }
    core::Graph graph = std::move(direct).build();
    require(std::move(streamed).build() == graph, "the parallel stream equals ingesting the pages directly");
    return graph;
}

void run(std::string_view input) {
    const core::Graph graph = graph_of(input);
    check_node_texts(graph);
    check_thaw_keeps(graph);
    check_reads_back(graph);
}

// "Kind\tid\tname" per node.
std::string describe(std::string_view input) {
    const core::Graph graph = graph_of(input);
    std::string lines;
    for (const core::Node& node : graph.nodes) {
        lines.append(core::label(node.kind)).append("\t").append(graph.str(node.id)).append("\t");
        lines.append(graph.str(node.name)).append("\n");
    }
    return lines;
}

// More pieces than one group of the stream holds, naming the same products again and again.
std::string many_small_pages() {
    std::string pages;
    for (int i = 0; i < 300; ++i) {
        pages += R"(<a ga-product='{"id":"g)" + std::to_string(i % 50) + R"(","name":"Cap"}'></a>)";
        pages += '\f';
    }
    return pages;
}

std::vector<std::string> seeds() {
    return {
        many_small_pages(),
        // shop-platform product JSON
        R"(<script>var meta = {"products":[{"handle":"mug","title":"Mug","vendor":"Acme","price":"12.00",)"
        R"("variants":[{"id":7,"title":"Blue","price":1200}]}]};</script><p>$12.00 $12.00</p>)",
        // analytics attributes
        R"(<a ga-product='{"id":"g1","name":"Cap","brand":"Hatco","price":"19.99","category":"Hats/Caps"}'>)"
        R"(</a><p>&euro; 19,99 €19</p>)",
        // page-data script
        R"(<script id="__NEXT_DATA__" type="application/json">{"props":{"pageProps":{"product":)"
        R"({"id":"n1","name":"Lamp","sku":"L-1","price":{"amount":"45.50","currency":"EUR"},)"
        R"("brand":{"name":"Lumo"}}}}}</script><span>45,50 €</span>)",
        // microdata
        R"(<meta property="og:url" content="https://shop.example/p/7"><div itemscope )"
        R"(itemtype="https://schema.org/Product"><h1 itemprop="name"> Shirt </h1><link itemprop="url" )"
        R"(href="/p/7"><img itemprop="image" src="/a.png"><div itemprop="offers" itemscope )"
        R"(itemtype="https://schema.org/Offer"><span itemprop="price" content="12.50">12,50</span>)"
        R"(<meta itemprop="priceCurrency" content="usd"></div></div><p>$12.50</p>)",
        // JSON-LD
        R"(<script type="application/ld+json">{"@context":"https://schema.org","@graph":[{"@type":"Product",)"
        R"("@id":"#p","name":"Kettle","sku":"K1","brand":{"@type":"Brand","name":"Boil"},"manufacturer":)"
        R"({"name":"Boil Works"},"offers":[{"price":"39.90","priceCurrency":"GBP","availability":)"
        R"("https://schema.org/InStock"}],"aggregateRating":{"ratingValue":4.5,"reviewCount":"12"},)"
        R"("review":[{"author":{"name":"Ann"},"reviewRating":{"ratingValue":5},"datePublished":"2024-01-02"}],)"
        R"("hasVariant":[{"@type":"Product","sku":"K1-red","name":"Kettle red"}]}]}</script>)"
        R"(<body>£39.90 and £39.90</body>)",
    };
}

}  // namespace

const Target kExtractPage{"extract_page", run, seeds, describe};

}  // namespace kuv::fuzz
