#pragma once
// The frozen graph: a string pool, node records and offset-indexed adjacency in both directions.
#include "core/schema.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace kuv::core {

// A (offset, length) reference into a graph's string pool.
struct Str {
    std::uint32_t offset = 0;
    std::uint32_t len = 0;
    friend bool operator==(const Str&, const Str&) = default;
};

struct Node {
    NodeKind kind = NodeKind::Product;
    Str id;
    Str name;
    Str props;  // text of a JSON object
    friend bool operator==(const Node&, const Node&) = default;
};

struct Edge {
    RelType rel = RelType::Offers;
    std::uint32_t node = 0;  // the target in out_edges, the source in in_edges
    friend bool operator==(const Edge&, const Edge&) = default;
};

inline constexpr std::array<char, 4> kGraphMagic{'K', 'U', 'V', '1'};
inline constexpr std::uint32_t kGraphVersion = 4;

struct Graph {
    std::array<char, 4> magic = kGraphMagic;
    std::uint32_t version = kGraphVersion;
    std::vector<char> string_pool;
    std::vector<Node> nodes;
    std::vector<Edge> out_edges;
    std::vector<std::uint32_t> out_offsets;  // node count + 1 entries
    std::vector<Edge> in_edges;
    std::vector<std::uint32_t> in_offsets;  // node count + 1 entries

    // The pool text `s` denotes. Throws kuv::Fatal "string_pool utf8: ..." when the bytes are not
    // UTF-8 (possible only in a graph read from a file).
    std::string_view str(Str s) const;
    // Node i's outgoing run (i below the node count).
    std::span<const Edge> out_edges_of(std::uint32_t i) const;

    friend bool operator==(const Graph&, const Graph&) = default;
};

}  // namespace kuv::core
