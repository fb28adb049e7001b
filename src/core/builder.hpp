#pragma once
// The mutable graph under construction: interned strings, nodes upserted by id, relations
// recorded by target id and resolved when the builder is frozen.
#include "core/graph.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kuv::core {

// Transparent hashing so lookups by string_view do not allocate.
struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
using InternMap = std::unordered_map<std::string, Str, StringHash, std::equal_to<>>;

// Interns `text` into `pool`/`map`: the existing Str for an equal string, else appends it.
Str reintern(std::string_view text, std::vector<char>& pool, InternMap& map);

class GraphBuilder {
public:
    GraphBuilder() = default;
    // Thaws a stored graph: upserts every node, then re-records every outgoing relation.
    static GraphBuilder from_graph(const Graph& graph);

    Str intern(std::string_view text);
    std::uint32_t upsert_node(NodeKind kind, std::string_view id, std::string_view name, std::string_view props);
    void add_edge(std::uint32_t source, RelType rel, std::string_view target_id);
    // Marks the first node (in node order) whose props hold a string member "url" equal to `url`.
    bool remove_node_by_url(std::string_view url);
    // Freezes into a graph, dropping removed nodes and unresolvable relations. Consumes the builder.
    Graph build() &&;

    std::size_t node_count() const { return nodes_.size(); }

private:
    struct PendingEdge {
        std::uint32_t source;
        RelType rel;
        std::string target_id;
    };
    std::string_view text_of(Str s) const { return {string_pool_.data() + s.offset, s.len}; }

    std::vector<char> string_pool_;
    std::vector<Node> nodes_;
    std::vector<PendingEdge> pending_edges_;
    InternMap intern_map_;
    std::unordered_map<std::string, std::uint32_t, StringHash, std::equal_to<>> id_index_;
    std::unordered_set<std::string, StringHash, std::equal_to<>> removed_ids_;
};

}  // namespace kuv::core
