#pragma once
// The mutable graph under construction: nodes upserted by id, relations recorded by target id
// and resolved when the builder is frozen.
#include "core/graph.hpp"
#include "core/text_arena.hpp"
#include "core/text_table.hpp"

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
    // A text held in the arena, with its hash.
    struct Text {
        const char* data = nullptr;
        std::uint32_t size = 0;
        std::uint32_t block = TextArena::kNoBlock;
        std::uint64_t hash = 0;
        std::string_view view() const { return {data, size}; }
    };
    struct NodeEntry {
        Text id;
        Text name;
        Text props;
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

    Text hold(std::string_view text, std::uint64_t hash);
    // `held`, or `text` newly held when it differs.
    Text keep_or_hold(const Text& held, std::string_view text, std::uint64_t hash);
    const std::uint32_t* find_node(std::string_view id, std::uint64_t hash) const;
    std::uint32_t upsert(NodeKind kind, const Text& id, const Text& name, const Text& props);
    void record_edge(std::uint32_t source, RelType rel, const Text& target_id);

    TextArena arena_;
    std::vector<NodeEntry> nodes_;
    std::vector<bool> removed_;  // per node: marked for removal (cleared by a later upsert)
    std::vector<PendingEdge> edges_;
    std::vector<Text> unresolved_targets_;
    TextTable<std::uint32_t> id_index_;  // node index by the node's id text
};

}  // namespace kuv::core
