// Query text: each input is one query run against the small sample graph.
#include "core/store.hpp"
#include "core/utf8.hpp"
#include "cypher/parser.hpp"
#include "fuzz_target.hpp"
#include "property_checks.hpp"
#include "query_checks.hpp"
#include "sample_graph.hpp"

#include <algorithm>
#include <string>
#include <variant>
#include <vector>

namespace kuv::fuzz {
namespace {

const core::LoadedGraph& fixed_graph() {
    static const std::string image = sample_graph_image();
    static const core::LoadedGraph graph = core::LoadedGraph::from_bytes(image);
    return graph;
}

// Every property key the query names in RETURN, ORDER BY and inline properties, once each.
std::vector<std::string> keys_named(const cypher::Query& query) {
    std::vector<std::string> keys;
    const auto add = [&keys](const std::string& key) {
        if (std::ranges::find(keys, key) == keys.end()) keys.push_back(key);
    };
    for (const cypher::ReturnItem& item : query.returns) {
        if (item.prop) add(*item.prop);
    }
    for (const cypher::OrderItem& item : query.order_by) {
        if (item.prop) add(*item.prop);
    }
    for (const cypher::NodePat& node : query.pattern.nodes) {
        for (const auto& [key, literal] : node.props) add(key);
    }
    return keys;
}

}  // namespace

// Query texts reach the engine as Python strings, so always as UTF-8. Besides the query's own
// checks, the keys it names are read on every node and compared with the parsed props.
void run_query_text(std::string_view input) {
    std::string buffer;
    const std::string_view text = decode_utf8_lossy(input, buffer);
    check_query(fixed_graph(), text);
    const auto parsed = cypher::parse(text);
    if (const auto* query = std::get_if<cypher::Query>(&parsed)) check_property_reads(fixed_graph(), keys_named(*query));
}

std::vector<std::string> query_text_seeds() {
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

}  // namespace kuv::fuzz
