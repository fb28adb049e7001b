// Graph files: mutated bytes of graph files are opened and validated; a file that passes is
// copied into an owned graph, written and read back, thawed and frozen again as a merge does,
// and queried through the mapped view, where its property reads must agree with the JSON layer.
#include "core/builder.hpp"
#include "core/error.hpp"
#include "core/json.hpp"
#include "core/store.hpp"
#include "extract/pipeline.hpp"
#include "fuzz_target.hpp"
#include "graph_checks.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kuv::fuzz {
namespace {

// Queries that read every part of a file: node records, props, both adjacency directions.
constexpr std::string_view kQueries[] = {
    "MATCH (n) RETURN n, n.name, n.kind, n.price ORDER BY n.price DESC, n.name",
    "MATCH (a)-->(b) RETURN a.url, b, count(*)",
    "MATCH (a)<-[:Offers|Brand|HasVariant]-(b:Product) WHERE b.name CONTAINS 'a' OR b.sku =~ '^[0-9]+$' "
    "RETURN DISTINCT a, b.price_cents",
    "MATCH (a)-->(b)<--(c) RETURN count(*), min(c.name), sum(a.price)",
};

std::optional<core::LoadedGraph> open_or_nothing(std::string_view bytes) {
    try {
        return core::LoadedGraph::from_bytes(bytes);
    } catch (const Error&) {
        return std::nullopt;
    }
}

// Thawing needs the pool texts to be UTF-8 and is allowed to stop on the first that is not;
// whatever it thaws freezes into a file that passes validation.
void check_thaw_and_freeze(const core::Graph& graph) {
    std::optional<core::GraphBuilder> builder;
    try {
        builder = core::GraphBuilder::from_graph(graph);
    } catch (const Fatal& fatal) {
        require(std::string_view(fatal.what()).starts_with("string_pool utf8: "), fatal.what());
        return;
    }
    const std::string image = core::serialize(std::move(*builder).build());
    try {
        core::LoadedGraph::from_bytes(image);
    } catch (const Error& error) {
        throw Broken(std::string("a refrozen graph fails validation: ") + error.what());
    }
}

// The record's keys, one never written, and the end keys of the nodes' props, up to a handful.
std::vector<std::string> keys_to_read(const core::LoadedGraph& graph) {
    std::vector<std::string> keys{"name", "kind", "price", "missing"};
    for (std::uint32_t node = 0; node < graph.node_count() && keys.size() < 10; ++node) {
        if (const std::optional<Json> props = parse_json(graph.bytes_of(graph.props(node)))) add_end_keys(keys, *props);
    }
    return keys;
}

void run(std::string_view input) {
    const std::optional<core::LoadedGraph> loaded = open_or_nothing(input);
    if (!loaded) return;
    const core::Graph graph = loaded->to_graph();
    check_reads_back(graph);
    check_thaw_and_freeze(graph);
    for (const std::string_view query : kQueries) check_query(*loaded, query);
    check_property_reads(*loaded, keys_to_read(*loaded));
}

// The empty graph, the sample graph and the graphs of the page seeds.
std::vector<std::string> seeds() {
    std::vector<std::string> seeds{core::serialize(core::GraphBuilder{}.build()), sample_graph_image()};
    for (const std::string& page : kExtractPage.seeds()) {
        const auto [extract, scale] = extract::extract_page(page);
        core::GraphBuilder builder;
        extract::ingest_into(builder, extract, scale);
        seeds.push_back(core::serialize(std::move(builder).build()));
    }
    return seeds;
}

}  // namespace

const Target kGraphFile{"graph_file", run, seeds};

}  // namespace kuv::fuzz
