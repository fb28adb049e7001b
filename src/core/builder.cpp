#include "core/builder.hpp"

#include "core/interrupt.hpp"
#include "core/json.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>

namespace kuv::core {
namespace {

constexpr std::uint32_t kDropped = std::numeric_limits<std::uint32_t>::max();

// Drawn once per process so texts that collide cannot be prepared in advance.
std::uint64_t hash_seed() {
    static const std::uint64_t seed = [] {
        std::random_device device;
        return (std::uint64_t{device()} << 32) ^ device();
    }();
    return seed;
}

std::uint64_t fold_multiply(std::uint64_t a, std::uint64_t b) {
    const auto product = static_cast<unsigned __int128>(a) * b;
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

// Keyed hash folding each 8-byte word into the state with a 128-bit multiply. Never 0, the
// empty-slot mark of TextTable.
std::uint64_t hash_text(std::string_view text) {
    constexpr std::uint64_t kMultiplier = 0x9e3779b97f4a7c15;
    std::uint64_t state = hash_seed() ^ text.size();
    std::uint64_t word = 0;
    for (; text.size() >= sizeof word; text.remove_prefix(sizeof word)) {
        std::memcpy(&word, text.data(), sizeof word);
        state = fold_multiply(state ^ word, kMultiplier);
    }
    word = 0;
    if (!text.empty()) std::memcpy(&word, text.data(), text.size());
    state = fold_multiply(state ^ word, kMultiplier);
    return std::max<std::uint64_t>(state, 1);
}

Str intern_hashed(std::string_view text, std::uint64_t hash, std::vector<char>& pool, InternMap& map) {
    const auto text_in_pool = [&pool](Str s) { return std::string_view(pool.data() + s.offset, s.len); };
    if (const Str* found = map.find(text, hash, text_in_pool)) return *found;
    const Str str{static_cast<std::uint32_t>(pool.size()), static_cast<std::uint32_t>(text.size())};
    pool.insert(pool.end(), text.begin(), text.end());
    map.insert(hash, str);
    return str;
}

// The "url" member of the JSON object `props`, when there is one and it is a string.
std::optional<std::string> url_of(std::string_view props, std::span<const std::string> url_key) {
    auto picked = pick_json_members(props, url_key);
    if (!picked || !picked->values[0] || !picked->values[0]->is_string()) return std::nullopt;
    return std::move(picked->values[0]->get_ref<std::string&>());
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
    return intern_hashed(text, hash_text(text), pool, map);
}

Str GraphBuilder::intern(std::string_view text) { return reintern(text, string_pool_, intern_map_); }

std::uint32_t GraphBuilder::upsert_node(NodeKind kind, std::string_view id, std::string_view name,
                                        std::string_view props) {
    // Name and props enter the pool before the id is even looked up; the pool order shows it.
    const Str name_str = intern(name);
    const Str props_str = intern(props);
    const std::uint64_t id_hash = hash_text(id);
    if (const std::uint32_t* found = find_node(id, id_hash)) {
        Node& node = nodes_[*found];
        node.kind = kind;
        node.name = name_str;
        node.props = props_str;
        removed_[*found] = false;
        return *found;
    }
    const auto index = static_cast<std::uint32_t>(nodes_.size());
    nodes_.push_back(Node{kind, intern_hashed(id, id_hash, string_pool_, intern_map_), name_str, props_str});
    removed_.push_back(false);
    id_index_.insert(id_hash, index);
    return index;
}

const std::uint32_t* GraphBuilder::find_node(std::string_view id, std::uint64_t hash) const {
    return id_index_.find(id, hash, [this](std::uint32_t index) { return text_of(nodes_[index].id); });
}

void GraphBuilder::add_edge(std::uint32_t source, RelType rel, std::string_view target_id) {
    pending_edges_.push_back(
        PendingEdge{target_ids_.size(), static_cast<std::uint32_t>(target_id.size()), source, rel});
    target_ids_.insert(target_ids_.end(), target_id.begin(), target_id.end());
}

bool GraphBuilder::remove_node_by_url(std::string_view url) {
    return remove_nodes_by_urls({&url, 1}) == 1;
}

std::size_t GraphBuilder::remove_nodes_by_urls(std::span<const std::string_view> urls) {
    // The distinct URLs, each with whether it has found its node yet.
    const auto url_at = [urls](std::uint32_t i) { return urls[i]; };
    TextTable<std::uint32_t> wanted;
    wanted.reserve(urls.size());
    for (std::uint32_t i = 0; i < urls.size(); ++i) {
        const std::uint64_t hash = hash_text(urls[i]);
        if (!wanted.find(urls[i], hash, url_at)) wanted.insert(hash, i);
    }
    std::vector<bool> found(urls.size());
    std::size_t unfound = wanted.size();
    const std::string url_key[] = {"url"};
    for (std::size_t i = 0; i < nodes_.size() && unfound > 0; ++i) {
        check_interrupt();
        const auto url = url_of(text_of(nodes_[i].props), url_key);
        if (!url) continue;
        const std::uint32_t* wanted_index = wanted.find(*url, hash_text(*url), url_at);
        if (!wanted_index || found[*wanted_index]) continue;
        found[*wanted_index] = true;
        removed_[i] = true;
        --unfound;
    }
    return wanted.size() - unfound;
}

GraphBuilder GraphBuilder::from_graph(const Graph& graph) {
    GraphBuilder builder;
    builder.nodes_.reserve(graph.nodes.size());
    builder.id_index_.reserve(graph.nodes.size());
    for (const Node& node : graph.nodes) {
        check_interrupt();
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
        if (!removed_[i]) new_index[i] = kept++;
    }

    // Fresh pool holding, per kept node, its id, name and props.
    Graph graph;
    graph.string_pool.reserve(string_pool_.size());
    graph.nodes.reserve(kept);
    InternMap pool_map;
    pool_map.reserve(intern_map_.size());  // the kept nodes' strings are among those interned
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        check_interrupt();
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
        check_interrupt();
        if (pending.source >= nodes_.size() || new_index[pending.source] == kDropped) continue;
        const std::string_view target_id = target_of(pending);
        const std::uint32_t* target = find_node(target_id, hash_text(target_id));
        if (!target || new_index[*target] == kDropped) continue;
        const std::uint32_t s = new_index[pending.source];
        const std::uint32_t t = new_index[*target];
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
