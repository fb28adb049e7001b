#include "core/builder.hpp"

#include "core/interrupt.hpp"
#include "core/json.hpp"

#include <algorithm>
#include <limits>
#include <optional>
#include <string>

namespace kuv::core {
namespace {

constexpr std::uint32_t kDropped = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t kNoReader = std::numeric_limits<std::size_t>::max();

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

// The frozen string pool under construction: each distinct text once, in the order first asked.
class PoolWriter {
public:
    PoolWriter(std::vector<char>& pool, std::size_t byte_bound, std::size_t text_bound) : pool_(pool) {
        pool_.reserve(byte_bound);  // never reallocates, so the table can compare against the pool
        texts_.reserve(text_bound);
    }

    Str intern(std::string_view text, TextHash hash) {
        const auto in_pool = [this](Str s) { return std::string_view(pool_.data() + s.offset, s.len); };
        if (const Str* found = texts_.find(text, hash, in_pool)) return *found;
        const Str str{static_cast<std::uint32_t>(pool_.size()), static_cast<std::uint32_t>(text.size())};
        pool_.insert(pool_.end(), text.begin(), text.end());
        texts_.insert(hash, str);
        return str;
    }

private:
    std::vector<char>& pool_;
    TextTable<Str> texts_;
};

}  // namespace

GraphBuilder::Text GraphBuilder::hold(const Text& text, std::uint32_t& block) {
    const TextArena::Stored stored = arena_.store(text.view());
    block = stored.block;
    return {stored.text.data(), text.size, text.hash};
}

const std::uint32_t* GraphBuilder::find_node(const Text& id) const {
    const auto id_of = [this](std::uint32_t index) { return nodes_[index].texts[kId].view(); };
    return id_index_.find(id.view(), id.hash, id_of);
}

std::uint32_t GraphBuilder::upsert(NodeKind kind, const std::array<Text, 3>& texts) {
    if (const std::uint32_t* found = find_node(texts[kId])) {
        NodeEntry& node = nodes_[*found];
        node.kind = kind;
        for (const Field field : {kName, kProps}) {  // an unchanged text is not held twice
            Text& held = node.texts[field];
            if (held.hash != texts[field].hash || held.view() != texts[field].view()) {
                held = hold(texts[field], node.blocks[field]);
            }
        }
        removed_[*found] = false;
        return *found;
    }
    const auto index = static_cast<std::uint32_t>(nodes_.size());
    NodeEntry& node = nodes_.emplace_back();
    node.kind = kind;
    for (const Field field : {kId, kName, kProps}) node.texts[field] = hold(texts[field], node.blocks[field]);
    removed_.push_back(false);
    id_index_.insert(texts[kId].hash, index);
    return index;
}

GraphBuilder::Text GraphBuilder::hashed(std::string_view text) {
    return {text.data(), static_cast<std::uint32_t>(text.size()), hash_text(text)};
}

std::uint32_t GraphBuilder::upsert_node(NodeKind kind, std::string_view id, std::string_view name,
                                        std::string_view props) {
    return upsert(kind, {hashed(id), hashed(name), hashed(props)});
}

void GraphBuilder::record_edge(std::uint32_t source, RelType rel, const Text& target_id) {
    if (const std::uint32_t* target = find_node(target_id)) {
        edges_.push_back({source, *target, rel, true});
        return;
    }
    edges_.push_back({source, static_cast<std::uint32_t>(unresolved_targets_.size()), rel, false});
    std::uint32_t block = 0;
    unresolved_targets_.push_back(hold(target_id, block));
}

void GraphBuilder::add_edge(std::uint32_t source, RelType rel, std::string_view target_id) {
    record_edge(source, rel, hashed(target_id));
}

void GraphBuilder::absorb(const GraphBuilder& page) {
    std::vector<std::uint32_t> index_of(page.nodes_.size());
    for (std::size_t i = 0; i < page.nodes_.size(); ++i) {
        index_of[i] = upsert(page.nodes_[i].kind, page.nodes_[i].texts);
    }
    for (const PendingEdge& edge : page.edges_) {
        const std::uint32_t source = edge.source < index_of.size() ? index_of[edge.source] : kDropped;
        if (edge.resolved) {
            edges_.push_back({source, index_of[edge.target], edge.rel, true});
        } else {
            record_edge(source, edge.rel, page.unresolved_targets_[edge.target]);
        }
    }
}

bool GraphBuilder::remove_node_by_url(std::string_view url) { return remove_nodes_by_urls({&url, 1}) == 1; }

std::size_t GraphBuilder::remove_nodes_by_urls(std::span<const std::string_view> urls) {
    // The distinct URLs, each with whether it has found its node yet.
    const auto url_at = [urls](std::uint32_t i) { return urls[i]; };
    TextTable<std::uint32_t> wanted;
    wanted.reserve(urls.size());
    for (std::uint32_t i = 0; i < urls.size(); ++i) {
        const TextHash hash = hash_text(urls[i]);
        if (!wanted.find(urls[i], hash, url_at)) wanted.insert(hash, i);
    }
    std::vector<bool> found(urls.size());
    std::size_t unfound = wanted.size();
    const std::string url_key[] = {"url"};
    for (std::size_t i = 0; i < nodes_.size() && unfound > 0; ++i) {
        check_interrupt();
        const auto url = url_of(nodes_[i].texts[kProps].view(), url_key);
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
    builder.edges_.reserve(graph.out_edges.size());
    builder.id_index_.reserve(graph.nodes.size());
    std::vector<std::uint32_t> index_of;  // stored index -> builder index (repeated ids fold)
    index_of.reserve(graph.nodes.size());
    for (const Node& node : graph.nodes) {
        check_interrupt();
        index_of.push_back(
            builder.upsert_node(node.kind, graph.str(node.id), graph.str(node.name), graph.str(node.props)));
    }
    // Each relation by the stored index of its source and the node its target's id names.
    for (std::uint32_t i = 0; i < graph.nodes.size(); ++i) {
        for (const Edge& edge : graph.out_edges_of(i)) {
            builder.edges_.push_back({i, index_of.at(edge.node), edge.rel, true});
        }
    }
    return builder;
}

std::vector<std::uint32_t> GraphBuilder::renumber(std::uint32_t& kept) const {
    std::vector<std::uint32_t> new_index(nodes_.size(), kDropped);
    kept = 0;
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        if (!removed_[i]) new_index[i] = kept++;
    }
    return new_index;
}

void GraphBuilder::resolve_edges(const std::vector<std::uint32_t>& new_index, std::uint32_t kept, Graph& graph) const {
    std::vector<AdjacencyInput> outgoing;
    std::vector<AdjacencyInput> incoming;
    outgoing.reserve(edges_.size());
    incoming.reserve(edges_.size());
    for (const PendingEdge& edge : edges_) {
        check_interrupt();
        if (edge.source >= nodes_.size() || new_index[edge.source] == kDropped) continue;
        std::uint32_t target = edge.target;
        if (!edge.resolved) {
            const std::uint32_t* found = find_node(unresolved_targets_[edge.target]);
            if (!found) continue;
            target = *found;
        }
        if (new_index[target] == kDropped) continue;
        const std::uint32_t s = new_index[edge.source];
        const std::uint32_t t = new_index[target];
        outgoing.push_back({s, Edge{edge.rel, t}});
        incoming.push_back({t, Edge{edge.rel, s}});
    }
    flatten(outgoing, kept, graph.out_edges, graph.out_offsets);
    flatten(incoming, kept, graph.in_edges, graph.in_offsets);
}

void GraphBuilder::copy_kept_nodes(const std::vector<std::uint32_t>& new_index, std::uint32_t kept, Graph& graph) {
    // Each block of held texts is freed once the last kept node reading it has been copied, so
    // the held texts and the new pool are never both there in full.
    std::vector<std::size_t> last_reader(arena_.block_count(), kNoReader);
    std::size_t byte_bound = 0;
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        if (new_index[i] == kDropped) continue;
        for (const Field field : {kId, kName, kProps}) {
            if (nodes_[i].blocks[field] != TextArena::kNoBlock) last_reader[nodes_[i].blocks[field]] = i;
            byte_bound += nodes_[i].texts[field].size;
        }
    }
    std::vector<std::pair<std::size_t, std::uint32_t>> releases;  // (last reader, block), by reader
    for (std::uint32_t block = 0; block < last_reader.size(); ++block) {
        if (last_reader[block] == kNoReader) {
            arena_.release(block);
        } else {
            releases.emplace_back(last_reader[block], block);
        }
    }
    std::sort(releases.begin(), releases.end());
    auto next_release = releases.begin();

    graph.nodes.reserve(kept);
    PoolWriter pool(graph.string_pool, byte_bound, std::size_t{3} * kept);
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        check_interrupt();
        if (new_index[i] == kDropped) continue;
        const NodeEntry& node = nodes_[i];
        std::array<Str, 3> strs;
        for (const Field field : {kId, kName, kProps}) {
            strs[field] = pool.intern(node.texts[field].view(), node.texts[field].hash);
        }
        graph.nodes.push_back(Node{node.kind, strs[kId], strs[kName], strs[kProps]});
        for (; next_release != releases.end() && next_release->first == i; ++next_release) {
            arena_.release(next_release->second);
        }
    }
}

Graph GraphBuilder::build() && {
    std::uint32_t kept = 0;
    const std::vector<std::uint32_t> new_index = renumber(kept);
    Graph graph;
    resolve_edges(new_index, kept, graph);
    edges_ = {};
    unresolved_targets_ = {};
    id_index_ = {};
    copy_kept_nodes(new_index, kept, graph);
    graph.magic = kGraphMagic;
    graph.version = kGraphVersion;
    return graph;
}

}  // namespace kuv::core
