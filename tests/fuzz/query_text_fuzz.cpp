// Query text: each input is one query run against the small sample graph.
#include "core/store.hpp"
#include "core/utf8.hpp"
#include "cypher/parser.hpp"
#include "fuzz_target.hpp"
#include "graph_checks.hpp"

#include <set>
#include <string>
#include <variant>
#include <vector>

namespace kuv::fuzz {
namespace {

const core::LoadedGraph& sample_graph() {
    static const std::string image = sample_graph_image();
    static const core::LoadedGraph graph = core::LoadedGraph::from_bytes(image);
    return graph;
}

// Every property key the query names in RETURN, ORDER BY and inline properties, once each.
std::vector<std::string> keys_named(const cypher::Query& query) {
    std::set<std::string> keys;
    for (const cypher::ReturnItem& item : query.returns) {
        if (item.prop) keys.insert(*item.prop);
    }
    for (const cypher::OrderItem& item : query.order_by) {
        if (item.prop) keys.insert(*item.prop);
    }
    for (const cypher::NodePat& node : query.pattern.nodes) {
        for (const auto& [key, literal] : node.props) keys.insert(key);
    }
    return {keys.begin(), keys.end()};
}

// Query texts reach the engine as Python strings, so always as UTF-8. Besides the query's own
// checks, the keys it names are read on every node and compared with the parsed props.
void run(std::string_view input) {
    std::string buffer;
    const std::string_view text = decode_utf8_lossy(input, buffer);
    check_query(sample_graph(), text);
    const auto parsed = cypher::parse(text);
    if (const auto* query = std::get_if<cypher::Query>(&parsed)) check_property_reads(sample_graph(), keys_named(*query));
}

std::vector<std::string> seeds() {
    return {
        "MATCH (p:Product)-[:Offers]->(o:Offer) WHERE p.price_cents > 1000 RETURN p.name AS name, o.price AS price "
        "ORDER BY name DESC SKIP 0 LIMIT 10",
        "match (p {name: 'Mug', rating: 4.5, in_stock: true})-[:Brand|Manufacturer]->(x) return distinct x, x.kind",
        "MATCH (a)<--(b)<-[:Review]-(c) WHERE NOT (a.name = 'x') OR a.sku IN [42, '0042', -1.5, TRUE] RETURN a, b, c",
        "MATCH (n) WHERE n.desc CONTAINS 'STRASSE' AND n.desc STARTS WITH 'st' AND n.url ENDS WITH 'MUG' RETURN n.name",
        "MATCH (n) WHERE n.name =~ '(?i)^m\\w+$' AND n.price IS NOT NULL AND n.nul IS NULL RETURN n.name",
        "MATCH (n)-->(m) RETURN n.kind, count(*), min(m.price), max(m.price_cents), sum(n.n), avg(n.rating) "
        "ORDER BY n.kind",
        "MATCH (`p`:`Product`)-->() RETURN count(p) AS c",
        "MATCH (n:Category)-[:BroaderCategory]->(m) WHERE n.price >= 1 OR m.x <> 2 OR n.big < 1e400 RETURN n",
    };
}

}  // namespace

const Target kQueryText{"query_text", run, seeds};

}  // namespace kuv::fuzz
