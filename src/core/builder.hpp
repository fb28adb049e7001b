#pragma once
// The mutable graph under construction: nodes upserted by id, relations recorded by target id
// and resolved when the builder is frozen.
#include "core/graph.hpp"
#include "core/text_arena.hpp"
#include "core/text_table.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace kuv::core {

class GraphBuilder {
public:
    GraphBuilder() = default;
    GraphBuilder(GraphBuilder&&) noexcept = default;
    GraphBuilder& operator=(GraphBuilder&&) noexcept = default;
    GraphBuilder(const GraphBuilder&) = delete;  // its texts live in its own arena
    GraphBuilder& operator=(const GraphBuilder&) = delete;

    // Thaws a stored graph: upserts every node, then re-records every outgoing relation.
    static GraphBuilder from_graph(const Graph& graph);

    std::uint32_t upsert_node(NodeKind kind, std::string_view id, std::string_view name, std::string_view props);
    void add_edge(std::uint32_t source, RelType rel, std::string_view target_id);
    // Has the same effect as making all of `page`'s calls on this builder again, in their order,
    // given that every relation of `page` starts at a node of `page` (as extraction records
    // them): its nodes in first-upsert order with their last values, then its relations. Lets a
    // page be ingested into a builder of its own elsewhere, for instance on another thread.
    void absorb(const GraphBuilder& page);
    // Marks the first node (in node order) whose props hold a string member "url" equal to `url`.
    bool remove_node_by_url(std::string_view url);
    // The same for every URL of the list, in one pass over the nodes; a URL listed twice marks
    // one node. Returns the number of URLs that found a node.
    std::size_t remove_nodes_by_urls(std::span<const std::string_view> urls);
    // Freezes into a graph, dropping removed nodes and unresolvable relations. Consumes the builder.
    Graph build() &&;

    std::size_t node_count() const { return nodes_.size(); }

private:
    // A text, with its hash.
    struct Text {
        const char* data = nullptr;
        std::uint32_t size = 0;
        TextHash hash = 0;
        std::string_view view() const { return {data, size}; }
    };
    enum Field { kId, kName, kProps };
    struct NodeEntry {
        std::array<Text, 3> texts;             // id, name, props, held in the arena
        std::array<std::uint32_t, 3> blocks;   // the arena blocks holding them
        NodeKind kind;
    };
    // The target is a node index once its id names a node (ids never change owner), until then
    // an index into unresolved_targets_.
    struct PendingEdge {
        std::uint32_t source;
        std::uint32_t target;
        RelType rel;
        bool resolved;
    };

    static Text hashed(std::string_view text);  // a text of the caller's
    // Copies `text` into the arena; the copy's block goes to `block`.
    Text hold(const Text& text, std::uint32_t& block);
    const std::uint32_t* find_node(const Text& id) const;
    std::uint32_t upsert(NodeKind kind, const std::array<Text, 3>& texts);
    void record_edge(std::uint32_t source, RelType rel, const Text& target_id);
    // Freezing, step by step: new indices of the kept nodes (kDropped for the others), the
    // adjacency of the kept relations, and the kept nodes with a fresh pool.
    std::vector<std::uint32_t> renumber(std::uint32_t& kept) const;
    void resolve_edges(const std::vector<std::uint32_t>& new_index, std::uint32_t kept, Graph& graph) const;
    void copy_kept_nodes(const std::vector<std::uint32_t>& new_index, std::uint32_t kept, Graph& graph);

    TextArena arena_;
    std::vector<NodeEntry> nodes_;
    std::vector<bool> removed_;  // per node: marked for removal (cleared by a later upsert)
    std::vector<PendingEdge> edges_;
    std::vector<Text> unresolved_targets_;
    TextTable<std::uint32_t> id_index_;  // node index by the node's id text
};

}  // namespace kuv::core
