#pragma once
// The graph file: writing the fixed little-endian layout atomically, and reading it back either
// mapped in place (LoadedGraph) or copied into an owned Graph. Every reader runs the structural
// check and validate_invariants first; afterwards offsets, edge node indices and string
// references can be used without further bounds checks.
#include "core/graph.hpp"
#include "core/mapped_file.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// The file image of a graph (exposed for tests and benchmarks). Throws kuv::Fatal "out of range
// integral type conversion attempted" when an array would start more than 2^31 bytes before its
// root field.
std::string serialize(const Graph& graph);

// The root's relative offset from the field at `field_position` to an array at `array_start`.
// Throws kuv::Fatal when it does not fit a signed 32-bit integer.
std::int32_t relative_offset(std::uint64_t array_start, std::uint64_t field_position);

// The temporary sibling path: the extension replaced by "bin.tmp" (or ".bin.tmp" appended).
std::string temp_path_for(const std::string& out_path);

// Writes the image to the temporary sibling, then renames it over out_path; saves that share the
// temporary sibling take turns. Returns the byte count. Throws kuv::Error "write tmp graph.bin" /
// "atomic rename graph.bin", or Interrupted (the output path untouched).
std::uint64_t save(const Graph& graph, const std::string& out_path);

// The arrays of a graph image, located through its root record. Only the structural check makes
// one, so every array lies inside the image, kind and relation bytes are in range, and the
// pointers may be read at their file widths. The check reads each array once; what the later
// checks need from that pass is kept here, with a copy of the node kinds for fast scans.
struct ArchivedGraph {
    std::array<char, 4> magic{};
    std::uint32_t version = 0;
    std::string_view pool;
    const char* nodes = nullptr;
    std::uint32_t node_count = 0;
    const char* out_edges = nullptr;
    std::uint32_t out_edge_count = 0;
    const char* out_offsets = nullptr;
    std::uint32_t out_offset_count = 0;
    const char* in_edges = nullptr;
    std::uint32_t in_edge_count = 0;
    const char* in_offsets = nullptr;
    std::uint32_t in_offset_count = 0;
    std::vector<std::uint8_t> kinds;          // one kind code per node
    std::uint64_t largest_string_end = 0;     // of any node's id, name or props
    std::uint32_t largest_out_node = 0;       // node index in out_edges (0 when empty)
    std::uint32_t largest_in_node = 0;        // node index in in_edges (0 when empty)
};

// The structural check: nullopt unless the root and every array it locates fit the image.
std::optional<ArchivedGraph> access_graph(std::string_view image);

// Checks magic, version, both offset arrays, edge node indices and string references, in that
// order. Throws kuv::Error with the message of the first failing check.
void validate_invariants(const ArchivedGraph& root);

// A validated view of a graph file. Array accessors read the mapping in place.
class LoadedGraph {
public:
    // Throws kuv::Error: "open {:?}", the OS error text, "rkyv access (corrupt graph.bin?)" or a
    // validate_invariants message.
    static LoadedGraph open(const std::string& path);
    // Validates an image held in memory (used by open and by tests); the view borrows `bytes`.
    static LoadedGraph from_bytes(std::string_view bytes);

    std::array<char, 4> magic() const { return root_.magic; }
    std::uint32_t version() const { return root_.version; }
    std::uint32_t node_count() const { return root_.node_count; }
    std::uint32_t out_edge_count() const { return root_.out_edge_count; }
    std::uint32_t in_edge_count() const { return root_.in_edge_count; }
    std::string_view pool() const { return root_.pool; }

    NodeKind kind(std::uint32_t i) const { return NodeKind(root_.kinds[i]); }
    Str id(std::uint32_t i) const { return str_field(i, 4); }
    Str name(std::uint32_t i) const { return str_field(i, 12); }
    Str props(std::uint32_t i) const { return str_field(i, 20); }
    // The raw pool bytes of `s` (not checked for UTF-8).
    std::string_view bytes_of(Str s) const { return root_.pool.substr(s.offset, s.len); }

    // Node i's runs: [begin, end) indices into the edge arrays.
    std::uint32_t out_begin(std::uint32_t i) const { return load_u32(root_.out_offsets + 4 * std::size_t(i)); }
    std::uint32_t out_end(std::uint32_t i) const { return load_u32(root_.out_offsets + 4 * (std::size_t(i) + 1)); }
    std::uint32_t in_begin(std::uint32_t i) const { return load_u32(root_.in_offsets + 4 * std::size_t(i)); }
    std::uint32_t in_end(std::uint32_t i) const { return load_u32(root_.in_offsets + 4 * (std::size_t(i) + 1)); }
    Edge out_edge(std::uint32_t e) const { return edge_at(root_.out_edges, e); }
    Edge in_edge(std::uint32_t e) const { return edge_at(root_.in_edges, e); }

    // Copies the arrays into an owned graph.
    Graph to_graph() const;

private:
    explicit LoadedGraph(ArchivedGraph root) : root_(std::move(root)) {}

    Str str_field(std::uint32_t i, std::size_t at) const {
        const char* rec = root_.nodes + std::size_t(i) * kNodeRecordSize;
        return {load_u32(rec + at), load_u32(rec + at + 4)};
    }
    static Edge edge_at(const char* base, std::uint32_t e) {
        const char* p = base + std::size_t(e) * kEdgeEntrySize;
        return {RelType(static_cast<std::uint8_t>(p[0])), load_u32(p + 4)};
    }

    MappedFile file_;  // empty when the view borrows bytes
    ArchivedGraph root_;
};

// Reads a graph file into an owned Graph and releases the file. Same errors as LoadedGraph::open.
Graph load_owned(const std::string& path);

}  // namespace kuv::core
