#include "core/store.hpp"

#include "core/debug_text.hpp"
#include "core/error.hpp"
#include "core/interrupt.hpp"
#include "core/os_error.hpp"
#include "core/temp_file.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <limits>
#include <unistd.h>
#include <utility>

namespace kuv::core {
namespace {

// The six arrays in root-field order, with the position of their (offset, length) pair in the
// root and the width of one element in the file.
enum ArrayIndex { kPool, kNodes, kOutEdges, kOutOffsets, kInEdges, kInOffsets, kArrayCount };
constexpr std::size_t kElementSize[kArrayCount] = {1, kNodeRecordSize, kEdgeEntrySize, 4, kEdgeEntrySize, 4};
constexpr std::uint64_t field_position(int array) { return 8 + 8 * std::uint64_t(array); }

constexpr char kCorrupt[] = "rkyv access (corrupt graph.bin?)";

// The image is written in pieces of this size, with a poll for a stop request before each.
constexpr std::size_t kWriteChunkBytes = std::size_t{16} << 20;

// ---------------------------------------------------------------------------------------------
// Writing

void store_u32(char* p, std::uint32_t value) {
    const unsigned char b[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    std::memcpy(p, b, 4);
}

void store_node(char* p, const Node& node) {
    std::memset(p, 0, kNodeRecordSize);
    p[0] = static_cast<char>(node.kind);
    const Str fields[] = {node.id, node.name, node.props};
    for (const Str& field : fields) {
        store_u32(p + 4, field.offset);
        store_u32(p + 8, field.len);
        p += 8;
    }
}

void store_edge(char* p, const Edge& edge) {
    std::memset(p, 0, kEdgeEntrySize);
    p[0] = static_cast<char>(edge.rel);
    store_u32(p + 4, edge.node);
}

using RootOffsets = std::array<std::int32_t, kArrayCount>;  // relative, from each root field

struct Layout {
    std::uint64_t start[kArrayCount];
    std::uint64_t count[kArrayCount];
    std::uint64_t root;
};

Layout layout_of(const Graph& graph) {
    Layout layout{};
    const std::uint64_t counts[kArrayCount] = {graph.string_pool.size(), graph.nodes.size(),
                                               graph.out_edges.size(),   graph.out_offsets.size(),
                                               graph.in_edges.size(),    graph.in_offsets.size()};
    std::uint64_t position = 0;
    for (int array = 0; array < kArrayCount; ++array) {
        layout.start[array] = position;
        layout.count[array] = counts[array];
        position += counts[array] * kElementSize[array];
        if (array == kPool) position = (position + 3) & ~std::uint64_t(3);
    }
    layout.root = position;
    return layout;
}

// Records are turned into their file form this many bytes at a time.
constexpr std::size_t kRecordChunkBytes = std::size_t{1} << 20;

// Hands the graph's file image to `sink` (a callable taking a std::string_view and returning
// false to stop) piece by piece, in file order, without ever holding the whole image. Returns
// false when the sink stopped.
template <class Sink>
bool emit_image(const Graph& graph, const Layout& layout, const RootOffsets& offsets, Sink&& sink) {
    std::string chunk;
    const auto records = [&](const auto& values, std::size_t size, auto store_one) {
        const std::size_t per_chunk = kRecordChunkBytes / size;
        for (std::size_t done = 0; done < values.size(); done += per_chunk) {
            const std::size_t count = std::min(per_chunk, values.size() - done);
            chunk.resize(count * size);
            for (std::size_t i = 0; i < count; ++i) store_one(chunk.data() + i * size, values[done + i]);
            if (!sink(std::string_view(chunk))) return false;
        }
        return true;
    };
    // Offsets already have their file form where the host is little-endian.
    const auto offset_array = [&](const std::vector<std::uint32_t>& values) {
        if constexpr (std::endian::native == std::endian::little) {
            return values.empty() || sink(std::string_view(reinterpret_cast<const char*>(values.data()), values.size() * 4));
        } else {
            return records(values, 4, store_u32);
        }
    };
    const std::string_view pool(graph.string_pool.data(), graph.string_pool.size());
    const char padding[3] = {};
    char root[kRootSize] = {};
    std::memcpy(root, graph.magic.data(), 4);
    store_u32(root + 4, graph.version);
    for (int array = 0; array < kArrayCount; ++array) {
        store_u32(root + field_position(array), static_cast<std::uint32_t>(offsets[array]));
        store_u32(root + field_position(array) + 4, static_cast<std::uint32_t>(layout.count[array]));
    }
    return (pool.empty() || sink(pool)) &&
           (layout.start[kNodes] == pool.size() || sink(std::string_view(padding, layout.start[kNodes] - pool.size()))) &&
           records(graph.nodes, kNodeRecordSize, store_node) && records(graph.out_edges, kEdgeEntrySize, store_edge) &&
           offset_array(graph.out_offsets) && records(graph.in_edges, kEdgeEntrySize, store_edge) &&
           offset_array(graph.in_offsets) && sink(std::string_view(root, kRootSize));
}

// The layout of the graph's image with the root's relative offsets, checked before anything is
// allocated or written. Every count then fits u32: an array of 2^32 or more elements would put
// the pool more than 2^31 bytes before its field.
std::pair<Layout, RootOffsets> checked_layout(const Graph& graph) {
    const Layout layout = layout_of(graph);
    RootOffsets offsets{};
    for (int array = 0; array < kArrayCount; ++array) {
        offsets[array] = relative_offset(layout.start[array], layout.root + field_position(array));
    }
    return {layout, offsets};
}

bool contains_nul(const std::string& path) { return path.find('\0') != std::string::npos; }

// Writes the graph's image to the open file; false (errno set) on any failure. Polls for a stop
// request between pieces, so a large graph does not delay a Ctrl-C.
bool write_image(int fd, const Graph& graph, const Layout& layout, const RootOffsets& offsets) {
    const auto write_all = [fd](std::string_view piece) {
        while (!piece.empty()) {
            poll_interrupt();
            const ssize_t written = ::write(fd, piece.data(), std::min(piece.size(), kWriteChunkBytes));
            if (written < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            piece.remove_prefix(static_cast<std::size_t>(written));
        }
        return true;
    };
    return emit_image(graph, layout, offsets, write_all);
}

// ---------------------------------------------------------------------------------------------
// Reading

// One pass over the node records: copies every kind byte and finds the largest kind code and the
// largest end (offset + length, without overflow) of any of the three strings.
struct NodeScan {
    std::uint8_t largest_kind = 0;
    std::uint64_t largest_string_end = 0;
};

NodeScan scan_nodes(const char* nodes, std::uint32_t count, std::vector<std::uint8_t>& kinds) {
    kinds.resize(count);
    std::uint8_t largest_kind = 0;
    std::uint64_t largest_end = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char* record = nodes + i * kNodeRecordSize;
        const auto kind = static_cast<std::uint8_t>(record[0]);
        kinds[i] = kind;
        largest_kind = std::max(largest_kind, kind);
        const std::uint64_t id_end = std::uint64_t(load_u32(record + 4)) + load_u32(record + 8);
        const std::uint64_t name_end = std::uint64_t(load_u32(record + 12)) + load_u32(record + 16);
        const std::uint64_t props_end = std::uint64_t(load_u32(record + 20)) + load_u32(record + 24);
        largest_end = std::max(largest_end, std::max(id_end, std::max(name_end, props_end)));
    }
    return {largest_kind, largest_end};
}

// One pass over an edge array: the largest relation code and the largest node index.
struct EdgeScan {
    std::uint8_t largest_rel = 0;
    std::uint32_t largest_node = 0;
};

EdgeScan scan_edges(const char* edges, std::uint32_t count) {
    std::uint8_t largest_rel = 0;
    std::uint32_t largest_node = 0;
    for (std::size_t e = 0; e < count; ++e) {
        largest_rel = std::max(largest_rel, static_cast<std::uint8_t>(edges[e * kEdgeEntrySize]));
        largest_node = std::max(largest_node, load_u32(edges + e * kEdgeEntrySize + 4));
    }
    return {largest_rel, largest_node};
}

std::string byte_list(const std::array<char, 4>& bytes) {
    std::string out = "[";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) out += ", ";
        out += std::to_string(static_cast<unsigned char>(bytes[i]));
    }
    return out + "]";
}

void check_offsets(std::string_view name, const char* offsets, std::uint32_t length, std::uint32_t node_count,
                   std::uint32_t edge_count) {
    const std::uint64_t expected_length = std::uint64_t(node_count) + 1;
    if (length != expected_length) {
        throw Error(std::string(name) + " length " + std::to_string(length) + " != nodes+1 (" +
                    std::to_string(expected_length) + ")");
    }
    // Whether any entry is below the one before, without a branch per entry; only then is the first
    // such entry looked for. The first entry is only compared with 0.
    bool decreasing = false;
    for (std::uint32_t i = 1; i < length; ++i) {
        decreasing |= load_u32(offsets + 4 * std::size_t(i)) < load_u32(offsets + 4 * std::size_t(i - 1));
    }
    for (std::uint32_t i = 1; decreasing && i < length; ++i) {
        const std::uint32_t entry = load_u32(offsets + 4 * std::size_t(i));
        const std::uint32_t previous = load_u32(offsets + 4 * std::size_t(i - 1));
        if (entry < previous) {
            throw Error(std::string(name) + " not monotonic at " + std::to_string(i) + ": " + std::to_string(entry) +
                        " < " + std::to_string(previous));
        }
    }
    const std::uint32_t previous = length == 0 ? 0 : load_u32(offsets + 4 * std::size_t(length - 1));
    if (previous != edge_count) {
        throw Error(std::string(name) + " last entry " + std::to_string(previous) + " != edge count " +
                    std::to_string(edge_count));
    }
}

// Runs only when the structural check's pass found an index out of range: names the first one.
void check_edge_ends(const char* edges, std::uint32_t count, std::uint32_t largest_node, std::uint32_t node_count,
                     std::string_view what) {
    if (count == 0 || largest_node < node_count) return;
    for (std::size_t e = 0; e < count; ++e) {
        const std::uint32_t node = load_u32(edges + e * kEdgeEntrySize + 4);
        if (node >= node_count) {
            throw Error(std::string(what) + " " + std::to_string(node) + " out of range (nodes " +
                        std::to_string(node_count) + ")");
        }
    }
}

// Likewise for the string references of the node records.
void check_strings(const ArchivedGraph& root) {
    static constexpr std::string_view kFieldNames[] = {"id", "name", "props"};
    if (root.largest_string_end <= root.pool.size()) return;
    for (std::uint32_t i = 0; i < root.node_count; ++i) {
        const char* record = root.nodes + std::size_t(i) * kNodeRecordSize;
        for (std::size_t f = 0; f < 3; ++f) {
            const std::uint64_t end = std::uint64_t(load_u32(record + 4 + 8 * f)) + load_u32(record + 8 + 8 * f);
            if (end > root.pool.size()) {
                throw Error("node " + std::to_string(i) + " " + std::string(kFieldNames[f]) +
                            " Str overruns string_pool (" + std::to_string(end) + " > " +
                            std::to_string(root.pool.size()) + ")");
            }
        }
    }
}

std::vector<Edge> copy_edges(const char* edges, std::uint32_t count) {
    std::vector<Edge> out;
    out.reserve(count);
    for (std::size_t e = 0; e < count; ++e) {
        const char* p = edges + e * kEdgeEntrySize;
        out.push_back(Edge{RelType(static_cast<std::uint8_t>(p[0])), load_u32(p + 4)});
    }
    return out;
}

std::vector<std::uint32_t> copy_offsets(const char* offsets, std::uint32_t count) {
    std::vector<std::uint32_t> out(count);
    for (std::size_t i = 0; i < count; ++i) out[i] = load_u32(offsets + 4 * i);
    return out;
}

}  // namespace

std::int32_t relative_offset(std::uint64_t array_start, std::uint64_t field_position) {
    const auto offset = static_cast<__int128>(array_start) - static_cast<__int128>(field_position);
    if (offset < std::numeric_limits<std::int32_t>::min() || offset > std::numeric_limits<std::int32_t>::max()) {
        throw Fatal("out of range integral type conversion attempted");
    }
    return static_cast<std::int32_t>(offset);
}

std::string serialize(const Graph& graph) {
    const auto [layout, offsets] = checked_layout(graph);
    std::string image;
    image.reserve(layout.root + kRootSize);
    emit_image(graph, layout, offsets, [&image](std::string_view piece) {
        image.append(piece);
        return true;
    });
    return image;
}

std::string temp_path_for(const std::string& out_path) {
    // The final name ignores trailing separators and "." components; a path without one (empty,
    // "/", ".", ending in "..") is used unchanged.
    std::size_t end = out_path.size();
    for (;;) {
        while (end > 0 && out_path[end - 1] == '/') --end;
        if (end == 1 && out_path[0] == '.') return out_path;
        if (end >= 2 && out_path.compare(end - 2, 2, "/.") == 0) {
            end -= 2;
            continue;
        }
        break;
    }
    const std::size_t slash = end == 0 ? std::string::npos : out_path.rfind('/', end - 1);
    const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    const std::string_view name(out_path.data() + name_start, end - name_start);
    if (name.empty() || name == "..") return out_path;
    const std::size_t dot = name.rfind('.');
    const std::size_t stem_length = dot == std::string_view::npos || dot == 0 ? name.size() : dot;
    return out_path.substr(0, name_start + stem_length) + ".bin.tmp";
}

std::uint64_t save(const Graph& graph, const std::string& out_path) {
    const auto [layout, offsets] = checked_layout(graph);
    const std::string temp_path = temp_path_for(out_path);
    if (contains_nul(temp_path)) throw Error("write tmp graph.bin");
    for (;;) {
        // Held until the rename is done: a save sharing the temporary path waits for it.
        std::optional<TempFileTurn> turn = TempFileTurn::take(temp_path);
        if (!turn) throw Error("write tmp graph.bin");
        TempFileTurn::Rename renamed;
        try {
            if (!write_image(turn->fd(), graph, layout, offsets) || !turn->close_reports_no_error()) {
                throw Error("write tmp graph.bin");
            }
            poll_interrupt();  // until the rename, stopping leaves the output as it was
            renamed = turn->rename_over(out_path);
        } catch (const Interrupted&) {
            turn->discard();
            throw;
        }
        switch (renamed) {
            case TempFileTurn::Rename::kDone:
                return layout.root + kRootSize;
            case TempFileTurn::Rename::kLost:
                continue;  // the file was taken away while it was written: write it again
            case TempFileTurn::Rename::kFailed:
                throw Error("atomic rename graph.bin");
        }
    }
}

std::optional<ArchivedGraph> access_graph(std::string_view image) {
    if (image.size() < kRootSize || (image.size() - kRootSize) % 4 != 0) return std::nullopt;
    const std::int64_t root_position = static_cast<std::int64_t>(image.size() - kRootSize);
    const char* base = image.data();
    const char* root = base + root_position;

    const char* starts[kArrayCount];
    std::uint32_t counts[kArrayCount];
    std::int64_t previous_end = 0;
    ArchivedGraph graph;
    NodeScan node_scan;
    EdgeScan edge_scans[2];  // out, in
    for (int array = 0; array < kArrayCount; ++array) {
        const auto field = static_cast<std::int64_t>(field_position(array));
        const auto relative = static_cast<std::int32_t>(load_u32(root + field));
        const std::uint32_t count = load_u32(root + field + 4);
        const std::int64_t start = root_position + field + relative;
        const std::int64_t end = start + std::int64_t(count) * std::int64_t(kElementSize[array]);
        if (start < previous_end || end > root_position) return std::nullopt;
        if (array != kPool && start % 4 != 0) return std::nullopt;
        starts[array] = base + start;
        counts[array] = count;
        previous_end = end;
        if (array == kNodes) {
            node_scan = scan_nodes(starts[array], count, graph.kinds);
            if (node_scan.largest_kind > kMaxNodeKindCode) return std::nullopt;
        }
        if (array == kOutEdges || array == kInEdges) {
            edge_scans[array == kInEdges] = scan_edges(starts[array], count);
            if (edge_scans[array == kInEdges].largest_rel > kMaxRelTypeCode) return std::nullopt;
        }
    }

    std::memcpy(graph.magic.data(), root, 4);
    graph.version = load_u32(root + 4);
    graph.pool = std::string_view(starts[kPool], counts[kPool]);
    graph.nodes = starts[kNodes];
    graph.node_count = counts[kNodes];
    graph.out_edges = starts[kOutEdges];
    graph.out_edge_count = counts[kOutEdges];
    graph.out_offsets = starts[kOutOffsets];
    graph.out_offset_count = counts[kOutOffsets];
    graph.in_edges = starts[kInEdges];
    graph.in_edge_count = counts[kInEdges];
    graph.in_offsets = starts[kInOffsets];
    graph.in_offset_count = counts[kInOffsets];
    graph.largest_string_end = node_scan.largest_string_end;
    graph.largest_out_node = edge_scans[0].largest_node;
    graph.largest_in_node = edge_scans[1].largest_node;
    return graph;
}

void validate_invariants(const ArchivedGraph& root) {
    if (root.magic != kGraphMagic) {
        throw Error("graph.bin magic mismatch: got " + byte_list(root.magic) + ", expected " + byte_list(kGraphMagic));
    }
    if (root.version != kGraphVersion) {
        throw Error("graph.bin version mismatch: got " + std::to_string(root.version) + ", expected " +
                    std::to_string(kGraphVersion) + " (rebuild the graph)");
    }
    check_offsets("out_offsets", root.out_offsets, root.out_offset_count, root.node_count, root.out_edge_count);
    check_offsets("in_offsets", root.in_offsets, root.in_offset_count, root.node_count, root.in_edge_count);
    check_edge_ends(root.out_edges, root.out_edge_count, root.largest_out_node, root.node_count, "edge dst");
    check_edge_ends(root.in_edges, root.in_edge_count, root.largest_in_node, root.node_count, "in_edge src");
    check_strings(root);
}

LoadedGraph LoadedGraph::from_bytes(std::string_view bytes) {
    auto root = access_graph(bytes);
    if (!root) throw Error(kCorrupt);
    validate_invariants(*root);
    return LoadedGraph(std::move(*root));
}

LoadedGraph LoadedGraph::open(const std::string& path) {
    MappedFile file;
    MappedFile::Failure failure{};
    if (!MappedFile::open(path, file, failure)) {
        if (failure.step == MappedFile::Step::Open) throw Error("open " + debug_path(path));
        throw Error(os_error_text(failure.errno_value));
    }
    LoadedGraph graph = from_bytes(file.bytes());
    graph.file_ = std::move(file);  // the mapping's address, and so every view into it, stays put
    return graph;
}

Graph LoadedGraph::to_graph() const {
    Graph graph;
    graph.magic = root_.magic;
    graph.version = root_.version;
    graph.string_pool.assign(root_.pool.begin(), root_.pool.end());
    graph.nodes.reserve(root_.node_count);
    for (std::uint32_t i = 0; i < root_.node_count; ++i) graph.nodes.push_back(Node{kind(i), id(i), name(i), props(i)});
    graph.out_edges = copy_edges(root_.out_edges, root_.out_edge_count);
    graph.out_offsets = copy_offsets(root_.out_offsets, root_.out_offset_count);
    graph.in_edges = copy_edges(root_.in_edges, root_.in_edge_count);
    graph.in_offsets = copy_offsets(root_.in_offsets, root_.in_offset_count);
    return graph;
}

Graph load_owned(const std::string& path) { return LoadedGraph::open(path).to_graph(); }

}  // namespace kuv::core
