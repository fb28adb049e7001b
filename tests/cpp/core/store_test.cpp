#include "core/store.hpp"

#include "core/builder.hpp"
#include "core/error.hpp"
#include "core/os_error.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace kuv::core {
namespace {

namespace fs = std::filesystem;

enum Array { kPool, kNodes, kOutEdges, kOutOffsets, kInEdges, kInOffsets };
constexpr std::uint64_t kElementSize[6] = {1, 28, 8, 4, 8, 4};
constexpr std::uint64_t field_of(int array) { return 8 + 8 * std::uint64_t(array); }

// ---------------------------------------------------------------------------------------------
// Byte helpers

std::string le32(std::uint32_t v) {
    return {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff), char((v >> 24) & 0xff)};
}
std::string le32s(std::initializer_list<std::uint32_t> values) {
    std::string out;
    for (auto v : values) out += le32(v);
    return out;
}
std::uint32_t get_u32(const std::string& image, std::uint64_t at) { return load_u32(image.data() + at); }

// One array as placed in an image: its start, element count and bytes.
struct Placed {
    std::int64_t start = 0;
    std::uint32_t count = 0;
    std::string bytes;
};
// An image taken apart, so tests can change one thing and put it back together.
struct Parts {
    std::array<Placed, 6> arrays;
    std::int64_t root = 0;
    std::string magic = "KUV1";
    std::uint32_t version = 4;
};

Parts decompose(const std::string& image) {
    Parts parts;
    parts.root = std::int64_t(image.size() - kRootSize);
    parts.magic = image.substr(parts.root, 4);
    parts.version = get_u32(image, parts.root + 4);
    for (int a = 0; a < 6; ++a) {
        Placed& placed = parts.arrays[a];
        const auto field = parts.root + std::int64_t(field_of(a));
        placed.start = field + std::int32_t(get_u32(image, field));
        placed.count = get_u32(image, field + 4);
        placed.bytes = image.substr(placed.start, placed.count * kElementSize[a]);
    }
    return parts;
}

// Lays the arrays out back to back as a writer does (pool padded to 4) and places the root.
Parts& pack(Parts& parts) {
    std::int64_t position = 0;
    for (int a = 0; a < 6; ++a) {
        parts.arrays[a].start = position;
        position += std::int64_t(parts.arrays[a].bytes.size());
        if (a == kPool) position = (position + 3) / 4 * 4;
    }
    parts.root = position;
    return parts;
}

// Moves array `from` and everything after it, root included, `by` bytes later.
Parts& shift(Parts& parts, int from, std::int64_t by) {
    for (int a = from; a < 6; ++a) parts.arrays[a].start += by;
    parts.root += by;
    return parts;
}

std::string compose(const Parts& parts) {
    std::string image(parts.root + kRootSize, '\xAA');  // gap bytes are arbitrary
    for (const Placed& placed : parts.arrays) {
        if (placed.start >= 0 && placed.start + std::int64_t(placed.bytes.size()) <= parts.root) {
            image.replace(placed.start, placed.bytes.size(), placed.bytes);
        }
    }
    image.replace(parts.root, 4, parts.magic);
    image.replace(parts.root + 4, 4, le32(parts.version));
    for (int a = 0; a < 6; ++a) {
        const std::int64_t relative = parts.arrays[a].start - (parts.root + std::int64_t(field_of(a)));
        image.replace(parts.root + field_of(a), 8, le32(std::uint32_t(relative)) + le32(parts.arrays[a].count));
    }
    return image;
}

void set_u32(Placed& placed, std::uint64_t at, std::uint32_t value) { placed.bytes.replace(at, 4, le32(value)); }

// ---------------------------------------------------------------------------------------------
// Reading helpers

// Reads everything a query could read, so sanitizers see any access outside the image.
std::uint64_t touch_everything(const LoadedGraph& graph) {
    std::uint64_t sum = graph.version();
    for (std::uint32_t i = 0; i < graph.node_count(); ++i) {
        sum += node_kind_label(std::uint8_t(graph.kind(i))).size();
        for (Str s : {graph.id(i), graph.name(i), graph.props(i)}) {
            for (char c : graph.bytes_of(s)) sum += std::uint8_t(c);
        }
        for (std::uint32_t e = graph.out_begin(i); e < graph.out_end(i); ++e) {
            EXPECT_LT(graph.out_edge(e).node, graph.node_count());
            sum += graph.out_edge(e).node + std::uint8_t(graph.out_edge(e).rel);
        }
        for (std::uint32_t e = graph.in_begin(i); e < graph.in_end(i); ++e) {
            EXPECT_LT(graph.in_edge(e).node, graph.node_count());
            sum += graph.in_edge(e).node;
        }
    }
    return sum;
}

// Validates a copy of `image` held in a buffer of exactly its size; "" when it passes, else the
// message. Anything that passes is then read from end to end.
std::string check(const std::string& image) {
    const std::vector<char> exact(image.begin(), image.end());
    try {
        const LoadedGraph graph = LoadedGraph::from_bytes(std::string_view(exact.data(), exact.size()));
        touch_everything(graph);
        const Graph owned = graph.to_graph();
        try {
            GraphBuilder::from_graph(owned).build();
        } catch (const Fatal&) {
            // pool bytes that are not UTF-8 legitimately end a thaw
        }
        return "";
    } catch (const Error& error) {
        return error.what();
    }
}

bool structurally_sound(const std::string& image) {
    const std::vector<char> exact(image.begin(), image.end());
    return access_graph(std::string_view(exact.data(), exact.size())).has_value();
}

constexpr char kCorrupt[] = "rkyv access (corrupt graph.bin?)";

// Three nodes with two relations from the first: out_offsets [0, 2, 2, 2], in_offsets [0, 0, 1, 2].
Graph sample_graph() {
    GraphBuilder builder;
    const auto p = builder.upsert_node(NodeKind::Product, "p1", "Phone", "{\"url\":\"https://shop/p1\"}");
    builder.add_edge(p, RelType::Offers, "o1");
    builder.add_edge(p, RelType::Brand, "b1");
    builder.upsert_node(NodeKind::Offer, "o1", "", "{\"price\":\"9.99\"}");
    builder.upsert_node(NodeKind::Brand, "b1", "Acme", "{}");
    return std::move(builder).build();
}

Parts sample_parts() { return decompose(serialize(sample_graph())); }

// ---------------------------------------------------------------------------------------------
// Files

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "kuv-store-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string operator/(std::string_view name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

template <class Call>
std::string error_of(Call call) {
    try {
        call();
    } catch (const Error& error) {
        return error.what();
    }
    return "no error";
}

// ---------------------------------------------------------------------------------------------
// Layout

TEST(GraphFileLayout, EmptyGraphIsSixtyFourBytes) {
    const std::string expected = le32s({0, 0}) + "KUV1" +
                                 le32s({4, std::uint32_t(-16), 0, std::uint32_t(-24), 0, std::uint32_t(-32), 0,
                                        std::uint32_t(-40), 1, std::uint32_t(-44), 0, std::uint32_t(-52), 1});
    const std::string image = serialize(GraphBuilder().build());
    EXPECT_EQ(image, expected);
    EXPECT_EQ(image.substr(16, 4), "\xF0\xFF\xFF\xFF");
    EXPECT_EQ(image.substr(56, 4), "\xCC\xFF\xFF\xFF");
}

TEST(GraphFileLayout, TwoNodeGraphPlacesEveryArray) {
    GraphBuilder builder;
    const auto a = builder.upsert_node(NodeKind::Product, "aaaaa", "", "{}");
    builder.add_edge(a, RelType::Offers, "bbbbb");
    builder.upsert_node(NodeKind::Offer, "bbbbb", "", "{}");
    const std::string image = serialize(std::move(builder).build());

    const std::string pool = "aaaaa{}bbbbb";
    const std::string nodes = le32s({0, 0, 5, 5, 0, 5, 2}) + le32s({1, 7, 5, 5, 0, 5, 2});
    const std::string out_edges = le32s({0, 1});
    const std::string out_offsets = le32s({0, 1, 1});
    const std::string in_edges = le32s({0, 0});
    const std::string in_offsets = le32s({0, 0, 1});
    const std::string root = "KUV1" + le32s({4, std::uint32_t(-116), 12, std::uint32_t(-112), 2, std::uint32_t(-64), 1,
                                             std::uint32_t(-64), 3, std::uint32_t(-60), 1, std::uint32_t(-60), 3});
    EXPECT_EQ(image, pool + nodes + out_edges + out_offsets + in_edges + in_offsets + root);
    EXPECT_EQ(image.size(), 164u);
}

TEST(GraphFileLayout, PoolEndIsPaddedWithZerosToFour) {
    struct Case { std::string id; std::size_t nodes_at; };
    for (const Case& c : {Case{"abcde", 8}, Case{"abcdefgh", 8}, Case{"a", 4}, Case{"", 0}}) {
        GraphBuilder builder;
        builder.upsert_node(NodeKind::Product, c.id, "", "");
        const std::string image = serialize(std::move(builder).build());
        const Parts parts = decompose(image);
        EXPECT_EQ(parts.arrays[kNodes].start, std::int64_t(c.nodes_at)) << c.id;
        EXPECT_EQ(image.substr(c.id.size(), c.nodes_at - c.id.size()), std::string(c.nodes_at - c.id.size(), '\0'));
        EXPECT_EQ(image.size(), c.nodes_at + 28 + 8 + 8 + 56) << c.id;
    }
}

TEST(GraphFileLayout, RelativeOffsetsMustFitThirtyTwoBits) {
    EXPECT_EQ(relative_offset(0, 16), -16);
    EXPECT_EQ(relative_offset(0, 0x80000000u), INT32_MIN);
    EXPECT_EQ(relative_offset(0x7fffffffu, 0), INT32_MAX);
    try {
        relative_offset(0, 0x80000001u);
        FAIL() << "expected a fatal error";
    } catch (const Fatal& fatal) {
        EXPECT_STREQ(fatal.what(), "out of range integral type conversion attempted");
    }
    EXPECT_THROW(relative_offset(0x80000000u, 0), Fatal);
}

TEST(GraphFileLayout, SameBuilderCallsGiveIdenticalBytes) {
    EXPECT_EQ(serialize(sample_graph()), serialize(sample_graph()));
}

// ---------------------------------------------------------------------------------------------
// Saving

TEST(GraphFileSave, TemporaryPathReplacesTheExtension) {
    const std::pair<std::string, std::string> cases[] = {
        {"out/graph.bin", "out/graph.bin.tmp"}, {"out/g.dat", "out/g.bin.tmp"},
        {"out/g", "out/g.bin.tmp"},             {"out/a.b.c", "out/a.b.bin.tmp"},
        {"out/.hidden", "out/.hidden.bin.tmp"}, {"g.dat", "g.bin.tmp"},
        {"out.d/g", "out.d/g.bin.tmp"},         {"out/g.", "out/g.bin.tmp"},
        {"out/g.dat/", "out/g.bin.tmp"},        {"out/g.dat/.", "out/g.bin.tmp"},
        {"/g", "/g.bin.tmp"},                   {"out/..", "out/.."},
        {"/", "/"},                             {"", ""},
    };
    for (const auto& [path, temp] : cases) EXPECT_EQ(temp_path_for(path), temp) << path;
}

TEST(GraphFileSave, WritesTheImageUnderTheOutputName) {
    const TempDir dir;
    const Graph graph = sample_graph();
    const auto written = save(graph, dir / "g.dat");
    EXPECT_EQ(read_file(dir / "g.dat"), serialize(graph));
    EXPECT_EQ(written, fs::file_size(dir / "g.dat"));
    EXPECT_FALSE(fs::exists(dir / "g.bin.tmp"));
    EXPECT_EQ(save(GraphBuilder().build(), dir / "empty.bin"), 64u);
}

TEST(GraphFileSave, NewFileGetsPermissionsLessTheCreationMask) {
    const TempDir dir;
    const mode_t old_mask = umask(027);
    save(GraphBuilder().build(), dir / "g.bin");
    umask(old_mask);
    struct stat status {};
    ASSERT_EQ(stat((dir / "g.bin").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
}

TEST(GraphFileSave, FailuresLeaveTheOutputUntouched) {
    const TempDir dir;
    const std::string previous = "previous content";
    write_file(dir / "kept.bin", previous);
    fs::create_directory(dir / "kept.bin.tmp");  // the temporary path cannot be written
    EXPECT_EQ(error_of([&] { save(sample_graph(), dir / "kept.bin"); }), "write tmp graph.bin");
    EXPECT_EQ(read_file(dir / "kept.bin"), previous);

    EXPECT_EQ(error_of([&] { save(sample_graph(), dir / "missing/g.bin"); }), "write tmp graph.bin");
    EXPECT_FALSE(fs::exists(dir / "missing"));

    fs::create_directory(dir / "taken");
    EXPECT_EQ(error_of([&] { save(sample_graph(), dir / "taken"); }), "atomic rename graph.bin");
    EXPECT_TRUE(fs::is_directory(dir / "taken"));
    EXPECT_EQ(read_file(dir / "taken.bin.tmp"), serialize(sample_graph()));  // left behind, complete
}

TEST(GraphFileSave, NulBytesInPathsFailInsteadOfTruncating) {
    const TempDir dir;
    const std::string nul_in_stem = dir / std::string("g\0x.bin", 7);
    EXPECT_EQ(error_of([&] { save(sample_graph(), nul_in_stem); }), "write tmp graph.bin");
    EXPECT_FALSE(fs::exists(dir / "g"));
    // The NUL sits in the replaced extension: the temporary file is written, the rename refuses.
    const std::string nul_in_extension = dir / std::string("h.b\0n", 5);
    EXPECT_EQ(error_of([&] { save(sample_graph(), nul_in_extension); }), "atomic rename graph.bin");
    EXPECT_TRUE(fs::exists(dir / "h.bin.tmp"));
    EXPECT_FALSE(fs::exists(dir / "h.b"));
}

TEST(GraphFileSave, SavingOverTheLoadedFileIsSafe) {
    const TempDir dir;
    save(sample_graph(), dir / "g.bin");
    GraphBuilder builder = GraphBuilder::from_graph(load_owned(dir / "g.bin"));
    builder.upsert_node(NodeKind::Person, "someone", "", "{}");
    const Graph merged = std::move(builder).build();
    save(merged, dir / "g.bin");
    EXPECT_EQ(load_owned(dir / "g.bin"), merged);
}

// ---------------------------------------------------------------------------------------------
// Opening

TEST(GraphFileOpen, RoundTripsThroughTheFile) {
    const TempDir dir;
    const Graph graph = sample_graph();
    save(graph, dir / "g.bin");
    EXPECT_EQ(load_owned(dir / "g.bin"), graph);

    LoadedGraph loaded = LoadedGraph::open(dir / "g.bin");
    const LoadedGraph moved = std::move(loaded);  // views stay on the same mapping
    EXPECT_EQ(moved.magic(), kGraphMagic);
    EXPECT_EQ(moved.version(), 4u);
    ASSERT_EQ(moved.node_count(), 3u);
    EXPECT_EQ(moved.kind(1), NodeKind::Offer);
    EXPECT_EQ(moved.bytes_of(moved.name(0)), "Phone");
    EXPECT_EQ(moved.bytes_of(moved.props(2)), "{}");
    EXPECT_EQ(moved.out_begin(0), 0u);
    EXPECT_EQ(moved.out_end(0), 2u);
    EXPECT_EQ(moved.out_edge(1), (Edge{RelType::Brand, 2}));
    EXPECT_EQ(moved.in_begin(2), 1u);
    EXPECT_EQ(moved.in_edge(1), (Edge{RelType::Brand, 0}));
    EXPECT_EQ(moved.out_edge_count(), 2u);
    EXPECT_EQ(moved.in_edge_count(), 2u);
    EXPECT_EQ(moved.pool(), std::string_view(graph.string_pool.data(), graph.string_pool.size()));
}

TEST(GraphFileOpen, EmptyGraphFileLoadsAsAFreshBuild) {
    const TempDir dir;
    save(GraphBuilder().build(), dir / "g.bin");
    EXPECT_EQ(LoadedGraph::open(dir / "g.bin").node_count(), 0u);
    EXPECT_EQ(load_owned(dir / "g.bin"), GraphBuilder().build());
}

TEST(GraphFileOpen, FailuresCarryTheirOwnMessages) {
    const TempDir dir;
    save(sample_graph(), dir / "a");
    write_file(dir / "empty", "");
    write_file(dir / "short", std::string(55, '\0'));
    fs::create_directory(dir / "subdir");
    const std::string missing = dir / "missing.bin";
    const std::string quoted = dir / "q\"\\\n.bin";
    const std::string with_nul = dir / std::string("a\0b", 3);
    struct Case { std::string path; std::string message; };
    const Case cases[] = {
        {missing, "open \"" + missing + "\""},
        {quoted, "open \"" + (dir / "q\\\"\\\\\\n.bin") + "\""},
        {with_nul, "open \"" + (dir / "a\\0b") + "\""},  // "a" exists, but the NUL is kept
        {dir / "subdir", os_error_text(ENODEV)},
        {dir / "empty", kCorrupt},
        {dir / "short", kCorrupt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(error_of([&] { LoadedGraph::open(c.path); }), c.message) << c.path;
        EXPECT_EQ(error_of([&] { load_owned(c.path); }), c.message) << c.path;
    }
}

// ---------------------------------------------------------------------------------------------
// Structural check

TEST(GraphFileStructure, AcceptsWhatTheLayoutAllows) {
    const Parts base = sample_parts();
    EXPECT_TRUE(structurally_sound(compose(base)));
    {
        Parts parts = base;
        parts.arrays[kNodes].bytes[2 * 28] = 8;  // the highest kind code
        parts.arrays[kOutEdges].bytes[0] = 9;    // the highest relation code
        EXPECT_EQ(check(compose(parts)), "");
    }
    {
        Parts parts = base;  // gaps between arrays
        shift(parts, kOutEdges, 8);
        shift(parts, kInOffsets, 4);
        EXPECT_EQ(check(compose(parts)), "");
    }
    {
        Parts parts = base;  // the pool need not be aligned or start at 0
        shift(parts, kPool, 4);
        parts.arrays[kPool].start = 1;
        EXPECT_EQ(check(compose(parts)), "");
    }
    {
        Parts parts = decompose(serialize(GraphBuilder().build()));
        parts.arrays[kInEdges].start = parts.root;  // an empty array may start at the root
        parts.arrays[kInOffsets].start = parts.root;
        parts.arrays[kInOffsets].count = 0;
        parts.arrays[kInOffsets].bytes.clear();
        EXPECT_TRUE(structurally_sound(compose(parts)));
        EXPECT_EQ(check(compose(parts)), "in_offsets length 0 != nodes+1 (1)");
    }
}

TEST(GraphFileStructure, RejectsBrokenLayouts) {
    const Parts base = sample_parts();
    const std::string image = compose(base);
    std::vector<std::pair<std::string, std::string>> cases;  // name, image
    cases.emplace_back("one byte appended", image + '\0');
    cases.emplace_back("shorter than a root", image.substr(image.size() - 55));
    cases.emplace_back("empty", "");
    auto add = [&](const std::string& name, auto change) {
        Parts parts = base;
        change(parts);
        cases.emplace_back(name, compose(parts));
    };
    add("kind 9", [](Parts& p) { p.arrays[kNodes].bytes[28] = 9; });
    add("kind 255", [](Parts& p) { p.arrays[kNodes].bytes[0] = '\xff'; });
    add("out relation 10", [](Parts& p) { p.arrays[kOutEdges].bytes[8] = 10; });
    add("in relation 10", [](Parts& p) { p.arrays[kInEdges].bytes[0] = 10; });
    add("misaligned nodes", [](Parts& p) { shift(p, kOutEdges, 4).arrays[kNodes].start += 2; });
    add("misaligned in_offsets", [](Parts& p) { shift(p, kInOffsets, 4).arrays[kInOffsets].start -= 2; });
    add("out_edges overlap nodes", [](Parts& p) { p.arrays[kOutEdges].start -= 4; });
    add("in_offsets past the root", [](Parts& p) { p.arrays[kInOffsets].count += 1; });
    add("pool before the file", [](Parts& p) { p.arrays[kPool].start = -1; });
    add("pool after the root", [](Parts& p) { p.arrays[kPool].start = p.root + 4; });
    add("pool length 2^32-1", [](Parts& p) { p.arrays[kPool].count = 0xffffffffu; });
    add("nodes length 2^32-1", [](Parts& p) { p.arrays[kNodes].count = 0xffffffffu; });
    add("out_offsets length 2^32-1", [](Parts& p) { p.arrays[kOutOffsets].count = 0xffffffffu; });
    add("in_edges length 2^31", [](Parts& p) { p.arrays[kInEdges].count = 0x80000000u; });
    add("offset -2^31", [](Parts& p) { p.arrays[kNodes].start = p.root + 16 + INT32_MIN; });
    add("offset 2^31-1", [](Parts& p) { p.arrays[kNodes].start = p.root + 16 + INT32_MAX; });
    add("wrong magic and kind 9", [](Parts& p) {
        p.magic = std::string(4, '\0');
        p.arrays[kNodes].bytes[0] = 9;
    });
    for (const auto& [name, bytes] : cases) {
        EXPECT_FALSE(structurally_sound(bytes)) << name;
        EXPECT_EQ(check(bytes), kCorrupt) << name;
    }
}

// ---------------------------------------------------------------------------------------------
// Invariants

TEST(GraphFileInvariants, EachCheckHasItsMessage) {
    const Parts base = sample_parts();
    const auto pool_length = std::uint32_t(base.arrays[kPool].bytes.size());
    const std::string pool = std::to_string(pool_length);
    struct Case { std::string expected; std::function<void(Parts&)> change; };
    const std::vector<Case> cases = {
        {"graph.bin magic mismatch: got [0, 0, 0, 0], expected [75, 85, 86, 49]",
         [](Parts& p) { p.magic = std::string(4, '\0'); }},
        {"graph.bin magic mismatch: got [75, 85, 86, 50], expected [75, 85, 86, 49]",
         [](Parts& p) { p.magic = "KUV2"; }},
        {"graph.bin version mismatch: got 3, expected 4 (rebuild the graph)", [](Parts& p) { p.version = 3; }},
        {"out_offsets length 3 != nodes+1 (4)",
         [](Parts& p) {
             p.arrays[kOutOffsets].count = 3;
             p.arrays[kOutOffsets].bytes.resize(12);
             pack(p);
         }},
        {"in_offsets length 5 != nodes+1 (4)",
         [](Parts& p) {
             p.arrays[kInOffsets].count = 5;
             p.arrays[kInOffsets].bytes += le32(2);
             pack(p);
         }},
        {"out_offsets not monotonic at 2: 1 < 2", [](Parts& p) { set_u32(p.arrays[kOutOffsets], 8, 1); }},
        {"out_offsets not monotonic at 1: 2 < 3", [](Parts& p) { set_u32(p.arrays[kOutOffsets], 0, 3); }},
        {"in_offsets not monotonic at 2: 0 < 1",
         [](Parts& p) {
             set_u32(p.arrays[kInOffsets], 4, 1);
             set_u32(p.arrays[kInOffsets], 8, 0);
         }},
        {"out_offsets last entry 1 != edge count 2",
         [](Parts& p) {
             for (int i = 1; i <= 3; ++i) set_u32(p.arrays[kOutOffsets], 4 * i, 1);
         }},
        {"in_offsets last entry 3 != edge count 2", [](Parts& p) { set_u32(p.arrays[kInOffsets], 12, 3); }},
        {"edge dst 3 out of range (nodes 3)", [](Parts& p) { set_u32(p.arrays[kOutEdges], 12, 3); }},
        {"in_edge src 4294967295 out of range (nodes 3)",
         [](Parts& p) { set_u32(p.arrays[kInEdges], 4, 0xffffffffu); }},
        {"node 2 props Str overruns string_pool (" + std::to_string(pool_length + 1) + " > " + pool + ")",
         [=](Parts& p) {
             set_u32(p.arrays[kNodes], 2 * 28 + 20, pool_length - 1);
             set_u32(p.arrays[kNodes], 2 * 28 + 24, 2);
         }},
        {"node 0 id Str overruns string_pool (8589934590 > " + pool + ")",
         [](Parts& p) {
             set_u32(p.arrays[kNodes], 4, 0xffffffffu);
             set_u32(p.arrays[kNodes], 8, 0xffffffffu);
         }},
        {"node 1 name Str overruns string_pool (" + std::to_string(pool_length + 1) + " > " + pool + ")",
         [=](Parts& p) { set_u32(p.arrays[kNodes], 28 + 12, pool_length + 1); }},
    };
    for (const auto& c : cases) {
        Parts parts = base;
        c.change(parts);
        const std::string image = compose(parts);
        EXPECT_TRUE(structurally_sound(image)) << c.expected;
        EXPECT_EQ(check(image), c.expected);
    }
}

TEST(GraphFileInvariants, TheFirstFailingCheckWins) {
    const Parts base = sample_parts();
    using Change = std::function<void(Parts&)>;
    const Change bad_magic = [](Parts& p) { p.magic = "kuv1"; };
    const Change bad_version = [](Parts& p) { p.version = 5; };
    const Change bad_out_offsets = [](Parts& p) { set_u32(p.arrays[kOutOffsets], 12, 1); };
    const Change bad_in_offsets = [](Parts& p) { set_u32(p.arrays[kInOffsets], 12, 1); };
    const Change bad_out_edge = [](Parts& p) { set_u32(p.arrays[kOutEdges], 4, 9); };
    const Change bad_in_edge = [](Parts& p) { set_u32(p.arrays[kInEdges], 4, 9); };
    const Change bad_string = [](Parts& p) { set_u32(p.arrays[kNodes], 8, 0xffff); };
    const std::vector<Change> in_order = {bad_magic,    bad_version, bad_out_offsets, bad_in_offsets,
                                          bad_out_edge, bad_in_edge, bad_string};
    for (std::size_t first = 0; first < in_order.size(); ++first) {
        Parts alone = base;
        in_order[first](alone);
        const std::string expected = check(compose(alone));
        ASSERT_NE(expected, "");
        Parts all_later = base;
        for (std::size_t k = first; k < in_order.size(); ++k) in_order[k](all_later);
        EXPECT_EQ(check(compose(all_later)), expected);
    }
}

TEST(GraphFileInvariants, AcceptsWhatIsNotChecked) {
    const Parts base = sample_parts();
    {
        Parts parts = base;  // offset arrays starting at 1
        set_u32(parts.arrays[kOutOffsets], 0, 1);
        set_u32(parts.arrays[kInOffsets], 0, 1);
        set_u32(parts.arrays[kInOffsets], 4, 1);
        EXPECT_EQ(check(compose(parts)), "");
    }
    {
        Parts parts = base;  // directions that do not mirror each other
        set_u32(parts.arrays[kInEdges], 4, 2);
        EXPECT_EQ(check(compose(parts)), "");
    }
    {
        Parts parts = base;  // pool bytes that are not UTF-8
        parts.arrays[kPool].bytes.assign(parts.arrays[kPool].bytes.size(), '\xff');
        const std::string image = compose(parts);
        EXPECT_EQ(check(image), "");
        const TempDir dir;
        write_file(dir / "g.bin", image);
        const Graph owned = load_owned(dir / "g.bin");
        EXPECT_THROW(GraphBuilder::from_graph(owned), Fatal);
    }
}

// ---------------------------------------------------------------------------------------------
// Hostile input

TEST(GraphFileRobustness, EveryTruncationIsRejectedOrReadSafely) {
    const std::string image = serialize(sample_graph());
    for (std::size_t length = 0; length < image.size(); ++length) {
        EXPECT_NE(check(image.substr(0, length)), "") << length;
        check(image.substr(image.size() - length));
    }
}

TEST(GraphFileRobustness, RandomDamageIsRejectedOrReadSafely) {
    const std::string image = serialize(sample_graph());
    const std::size_t root = image.size() - kRootSize;
    std::mt19937_64 random(20261206);
    const std::uint32_t interesting[] = {0,          1,          3,          4,          0x7fffffffu, 0x80000000u,
                                         0xffffffffu, 0xfffffffcu, 0xffffff00u, 0xfffffff0u, 0xffffffc0u};
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string damaged = image;
        const int edits = 1 + int(random() % 4);
        for (int e = 0; e < edits; ++e) {
            if (random() % 2 == 0) {
                const std::size_t at = root + 8 + 4 * (random() % 12);  // a root offset or length
                const std::uint32_t value = random() % 3 == 0 ? std::uint32_t(random())
                                                              : interesting[random() % std::size(interesting)] +
                                                                    std::uint32_t(random() % 9) - 4;
                damaged.replace(at, 4, le32(value));
            } else {
                damaged[random() % damaged.size()] = char(random());
            }
        }
        if (check(damaged).empty()) ++accepted;
    }
    EXPECT_GT(accepted, 0);  // some damage (to unchecked bytes) is harmless
}

// ---------------------------------------------------------------------------------------------
// Mapping

std::size_t open_descriptor_count() {
    return std::size_t(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

TEST(MappedFile, MapsWholeFilesAndClosesTheDescriptor) {
    const TempDir dir;
    write_file(dir / "data", "hello");
    write_file(dir / "empty", "");
    fs::create_directory(dir / "subdir");
    const std::size_t descriptors = open_descriptor_count();
    {
        MappedFile file;
        MappedFile::Failure failure{};
        ASSERT_TRUE(MappedFile::open(dir / "data", file, failure));
        EXPECT_EQ(file.bytes(), "hello");
        EXPECT_EQ(open_descriptor_count(), descriptors);
        MappedFile moved = std::move(file);
        EXPECT_EQ(moved.bytes(), "hello");
        EXPECT_EQ(file.size(), 0u);

        MappedFile empty;
        ASSERT_TRUE(MappedFile::open(dir / "empty", empty, failure));
        EXPECT_EQ(empty.size(), 0u);
        EXPECT_TRUE(empty.bytes().empty());
    }
    struct Case { std::string path; MappedFile::Step step; int errno_value; };
    const Case failures[] = {
        {dir / "missing", MappedFile::Step::Open, ENOENT},
        {dir / std::string("data\0x", 6), MappedFile::Step::Open, EINVAL},
        {dir / "subdir", MappedFile::Step::Map, ENODEV},
    };
    for (const auto& c : failures) {
        MappedFile file;
        MappedFile::Failure failure{};
        EXPECT_FALSE(MappedFile::open(c.path, file, failure)) << c.path;
        EXPECT_EQ(failure.step, c.step) << c.path;
        EXPECT_EQ(failure.errno_value, c.errno_value) << c.path;
    }
    EXPECT_EQ(open_descriptor_count(), descriptors);
}

}  // namespace
}  // namespace kuv::core
