#pragma once
// The graph file: writing the fixed little-endian layout atomically, and reading it back either
// mapped in place (LoadedGraph) or copied into an owned Graph. Every reader runs the structural
// check and validate_invariants first; afterwards offsets, edge node indices and string
// references can be used without further bounds checks.
#include "core/graph.hpp"
#include "core/mapped_file.hpp"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kuv::core {

inline constexpr std::size_t kRootSize = 56;
inline constexpr std::size_t kNodeRecordSize = 28;
inline constexpr std::size_t kEdgeEntrySize = 8;

// Little-endian u32 read from unaligned memory.
inline std::uint32_t load_u32(const char* p) {
    unsigned char b[4];
    std::memcpy(b, p, 4);
    return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
}

// The file image of a graph (exposed for tests and benchmarks).
std::string serialize(const Graph& graph);

// The temporary sibling path: the extension replaced by "bin.tmp" (or ".bin.tmp" appended).
std::string temp_path_for(const std::string& out_path);

// Writes the image to the temporary sibling, then renames it over out_path. Returns the byte
// count. Throws kuv::Error "write tmp graph.bin" / "atomic rename graph.bin".
std::uint64_t save(const Graph& graph, const std::string& out_path);

// A validated view of a graph file. Array accessors read the mapping in place.
class LoadedGraph {
public:
    // Throws kuv::Error: "open {:?}", the OS error text, "rkyv access (corrupt graph.bin?)" or a
    // validate_invariants message.
    static LoadedGraph open(const std::string& path);
    // Validates an image held in memory (used by open and by tests); the view borrows `bytes`.
    static LoadedGraph from_bytes(std::string_view bytes);

    std::uint32_t node_count() const { return node_count_; }
    std::string_view pool() const { return pool_; }

    NodeKind kind(std::uint32_t i) const { return NodeKind(static_cast<std::uint8_t>(nodes_[i * kNodeRecordSize])); }
    Str id(std::uint32_t i) const { return str_field(i, 4); }
    Str name(std::uint32_t i) const { return str_field(i, 12); }
    Str props(std::uint32_t i) const { return str_field(i, 20); }
    // The raw pool bytes of `s` (not checked for UTF-8).
    std::string_view bytes_of(Str s) const { return pool_.substr(s.offset, s.len); }

    // Node i's runs: [begin, end) indices into the edge arrays.
    std::uint32_t out_begin(std::uint32_t i) const { return load_u32(out_offsets_ + 4 * std::size_t(i)); }
    std::uint32_t out_end(std::uint32_t i) const { return load_u32(out_offsets_ + 4 * (std::size_t(i) + 1)); }
    std::uint32_t in_begin(std::uint32_t i) const { return load_u32(in_offsets_ + 4 * std::size_t(i)); }
    std::uint32_t in_end(std::uint32_t i) const { return load_u32(in_offsets_ + 4 * (std::size_t(i) + 1)); }
    Edge out_edge(std::uint32_t e) const { return edge_at(out_edges_, e); }
    Edge in_edge(std::uint32_t e) const { return edge_at(in_edges_, e); }

    // Copies the arrays into an owned graph.
    Graph to_graph() const;

private:
    Str str_field(std::uint32_t i, std::size_t at) const {
        const char* rec = nodes_ + std::size_t(i) * kNodeRecordSize;
        return {load_u32(rec + at), load_u32(rec + at + 4)};
    }
    static Edge edge_at(const char* base, std::uint32_t e) {
        const char* p = base + std::size_t(e) * kEdgeEntrySize;
        return {RelType(static_cast<std::uint8_t>(p[0])), load_u32(p + 4)};
    }

    MappedFile file_;  // empty when the view borrows bytes
    std::string_view pool_;
    const char* nodes_ = nullptr;
    const char* out_edges_ = nullptr;
    const char* out_offsets_ = nullptr;
    const char* in_edges_ = nullptr;
    const char* in_offsets_ = nullptr;
    std::uint32_t node_count_ = 0;
    std::uint32_t out_edge_count_ = 0;
    std::uint32_t in_edge_count_ = 0;
};

// Reads a graph file into an owned Graph and releases the file. Same errors as LoadedGraph::open.
Graph load_owned(const std::string& path);

}  // namespace kuv::core
