#include "core/builder.hpp"

#include "core/json.hpp"

#include <limits>

namespace kuv::core {
namespace {

constexpr std::uint32_t kDropped = std::numeric_limits<std::uint32_t>::max();

// True when `props` is a JSON object whose member "url" is a string equal to `url`.
bool props_have_url(std::string_view props, std::string_view url) {
    static const std::string kUrlKey[] = {"url"};
    const auto picked = pick_json_members(props, kUrlKey);
    if (!picked || !picked->values[0]) return false;
    const Json& member = *picked->values[0];
    return member.is_string() && member.get_ref<const std::string&>() == url;
}

// One direction of the frozen adjacency, built by a stable counting sort over the kept
// relations so each run keeps recording order.
struct AdjacencyInput {
    std::uint32_t owner;  // node whose run the entry belongs to
    Edge entry;
};

void flatten(const std::vector<AdjacencyInput>& inputs, std::size_t node_count, std::vector<Edge>& edges,
             std::vector<std::uint32_t>& offsets) {
    offsets.assign(node_count + 1, 0);
    for (const auto& input : inputs) ++offsets[input.owner + 1];
    for (std::size_t i = 0; i < node_count; ++i) offsets[i + 1] += offsets[i];
    std::vector<std::uint32_t> cursor(offsets.begin(), offsets.end() - 1);
    edges.resize(inputs.size());
    for (const auto& input : inputs) edges[cursor[input.owner]++] = input.entry;
}

}  // namespace

Str reintern(std::string_view text, std::vector<char>& pool, InternMap& map) {
    if (auto found = map.find(text); found != map.end()) return found->second;
    const Str str{static_cast<std::uint32_t>(pool.size()), static_cast<std::uint32_t>(text.size())};
    pool.insert(pool.end(), text.begin(), text.end());
    map.emplace(std::string(text), str);
    return str;
}

Str GraphBuilder::intern(std::string_view text) { return reintern(text, string_pool_, intern_map_); }

std::uint32_t GraphBuilder::upsert_node(NodeKind kind, std::string_view id, std::string_view name,
                                        std::string_view props) {
    // Name and props enter the pool before the id is even looked up; the pool order shows it.
    const Str name_str = intern(name);
    const Str props_str = intern(props);
    if (auto found = id_index_.find(id); found != id_index_.end()) {
        Node& node = nodes_[found->second];
        node.kind = kind;
        node.name = name_str;
        node.props = props_str;
        if (auto removed = removed_ids_.find(id); removed != removed_ids_.end()) removed_ids_.erase(removed);
        return found->second;
    }
    const auto index = static_cast<std::uint32_t>(nodes_.size());
    nodes_.push_back(Node{kind, intern(id), name_str, props_str});
    id_index_.emplace(std::string(id), index);
    return index;
}

void GraphBuilder::add_edge(std::uint32_t source, RelType rel, std::string_view target_id) {
    pending_edges_.push_back(PendingEdge{source, rel, std::string(target_id)});
}

bool GraphBuilder::remove_node_by_url(std::string_view url) {
    for (const Node& node : nodes_) {
        if (props_have_url(text_of(node.props), url)) {
            removed_ids_.emplace(text_of(node.id));
            return true;
        }
    }
    return false;
}

GraphBuilder GraphBuilder::from_graph(const Graph& graph) {
    GraphBuilder builder;
    for (const Node& node : graph.nodes) {
        builder.upsert_node(node.kind, graph.str(node.id), graph.str(node.name), graph.str(node.props));
    }
    for (std::uint32_t i = 0; i < graph.nodes.size(); ++i) {
        for (const Edge& edge : graph.out_edges_of(i)) {
            builder.add_edge(i, edge.rel, graph.str(graph.nodes.at(edge.node).id));
        }
    }
    return builder;
}

Graph GraphBuilder::build() && {
    // Renumber: kept nodes get dense new indices in their old order.
    std::vector<std::uint32_t> new_index(nodes_.size(), kDropped);
    std::uint32_t kept = 0;
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        if (!removed_ids_.contains(text_of(nodes_[i].id))) new_index[i] = kept++;
    }

    // Fresh pool holding, per kept node, its id, name and props.
    Graph graph;
    graph.string_pool.reserve(string_pool_.size());
    graph.nodes.reserve(kept);
    InternMap pool_map;
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        if (new_index[i] == kDropped) continue;
        const Node& old = nodes_[i];
        const Str id = reintern(text_of(old.id), graph.string_pool, pool_map);
        const Str name = reintern(text_of(old.name), graph.string_pool, pool_map);
        const Str props = reintern(text_of(old.props), graph.string_pool, pool_map);
        graph.nodes.push_back(Node{old.kind, id, name, props});
    }

    // Resolve relations in recording order; drop those with a missing or removed end.
    std::vector<AdjacencyInput> outgoing;
    std::vector<AdjacencyInput> incoming;
    outgoing.reserve(pending_edges_.size());
    incoming.reserve(pending_edges_.size());
    for (const PendingEdge& pending : pending_edges_) {
        if (pending.source >= nodes_.size() || new_index[pending.source] == kDropped) continue;
        const auto target = id_index_.find(pending.target_id);
        if (target == id_index_.end() || new_index[target->second] == kDropped) continue;
        const std::uint32_t s = new_index[pending.source];
        const std::uint32_t t = new_index[target->second];
        outgoing.push_back({s, Edge{pending.rel, t}});
        incoming.push_back({t, Edge{pending.rel, s}});
    }
    flatten(outgoing, kept, graph.out_edges, graph.out_offsets);
    flatten(incoming, kept, graph.in_edges, graph.in_offsets);
    graph.magic = kGraphMagic;
    graph.version = kGraphVersion;
    return graph;
}

}  // namespace kuv::core
