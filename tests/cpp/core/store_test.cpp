#include "core/store.hpp"

#include "core/builder.hpp"
#include "core/error.hpp"
#include "core/graph_files.hpp"
#include "core/os_error.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace kuv::core {
namespace {

using namespace test;
namespace fs = std::filesystem;

// Arrays in root-field order; kRoot stands for the root record itself.
enum Array { kPool, kNodes, kOutEdges, kOutOffsets, kInEdges, kInOffsets, kRoot };
enum Word { kStart, kLength };
constexpr char kCorrupt[] = "rkyv access (corrupt graph.bin?)";

std::string le32s(std::initializer_list<std::uint32_t> values) {
    std::string out;
    for (std::uint32_t v : values) out += {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    return out;
}
std::uint32_t back(std::uint32_t n) { return 0 - n; }  // a negative relative offset
void put(std::string& image, std::size_t at, std::uint32_t value) { image.replace(at, 4, le32s({value})); }
std::size_t root_of(const std::string& image) { return image.size() - kRootSize; }
std::size_t field(const std::string& image, int array, Word word) { return root_of(image) + 8 + 8 * array + 4 * word; }
void set(std::string& image, int array, Word word, std::uint32_t value) { put(image, field(image, array, word), value); }
void add(std::string& image, int array, Word word, std::int64_t delta) {
    set(image, array, word, std::uint32_t(load_u32(image.data() + field(image, array, word)) + delta));
}
// The image position of `byte` within `array`, through the root's relative offset.
std::size_t at(const std::string& image, int array, std::size_t byte = 0) {
    const std::size_t start = field(image, array, kStart);
    return array == kRoot ? root_of(image) + byte : start + std::int32_t(load_u32(image.data() + start)) + byte;
}
void poke(std::string& image, int array, std::size_t byte, std::uint32_t value) { put(image, at(image, array, byte), value); }
// Inserts `bytes` arbitrary bytes just before `array`, keeping every array's contents.
void gap(std::string& image, int array, std::size_t bytes) {
    image.insert(at(image, array), bytes, '\xAA');
    for (int a = kPool; a < array; ++a) add(image, a, kStart, -std::int64_t(bytes));
}

// "" when `image`, held in a buffer of exactly its size, validates; anything accepted is then
// read end to end so sanitizers see any access outside the image. Else the error message.
std::string check(const std::string& image) try {
    const std::vector<char> exact(image.begin(), image.end());
    const LoadedGraph graph = LoadedGraph::from_bytes({exact.data(), exact.size()});
    std::string read;
    for (std::uint32_t i = 0; i < graph.node_count(); ++i) {
        read += node_kind_label(std::uint8_t(graph.kind(i)));
        for (Str s : {graph.id(i), graph.name(i), graph.props(i)}) read += graph.bytes_of(s);
        for (auto e = graph.out_begin(i); e < graph.out_end(i); ++e) EXPECT_LT(graph.out_edge(e).node, graph.node_count());
        for (auto e = graph.in_begin(i); e < graph.in_end(i); ++e) EXPECT_LT(graph.in_edge(e).node, graph.node_count());
    }
    GraphBuilder::from_graph(graph.to_graph()).build();
    return "";
} catch (const Error& error) {
    return error.what();
} catch (const Fatal&) { return ""; }  // pool bytes that are not UTF-8 legitimately end a thaw

TEST(GraphFileLayout, EmptyAndTwoNodeGraphsHaveExactBytesWithThirtyTwoBitRelativeOffsets) {
    EXPECT_EQ(serialize(GraphBuilder().build()), le32s({0, 0}) + "KUV1" +
              le32s({4, back(16), 0, back(24), 0, back(32), 0, back(40), 1, back(44), 0, back(52), 1}));
    GraphBuilder builder;
    builder.add_edge(builder.upsert_node(NodeKind::Product, "aaaaaa", "", "{}"), RelType::Offers, "bbbbb");
    builder.upsert_node(NodeKind::Offer, "bbbbb", "", "{}");
    EXPECT_EQ(serialize(std::move(builder).build()), "aaaaaa{}bbbbb" + std::string(3, '\0') + le32s({0, 0, 6, 6, 0, 6, 2, 1, 8, 5, 6, 0, 6, 2}) +
                         le32s({0, 1, 0, 1, 1}) + le32s({0, 0, 0, 0, 1}) + "KUV1" +
                         le32s({4, back(120), 13, back(112), 2, back(64), 1, back(64), 3, back(60), 1, back(60), 3}));
    EXPECT_EQ(std::pair(relative_offset(0, 0x80000000u), relative_offset(0x7fffffffu, 0)), std::pair(INT32_MIN, INT32_MAX));
    EXPECT_THROW(relative_offset(0x80000000u, 0), Fatal);
    EXPECT_EQ(error_of<Fatal>([] { relative_offset(0, 0x80000001u); }), "out of range integral type conversion attempted");
}
TEST(GraphFileOpen, FailuresCarryTheirOwnMessagesAndNoDescriptorStaysOpen) {
    const TempDir dir;
    save(sample_graph(), dir / "a");
    write_file(dir / "empty", "");
    fs::create_directory(dir / "subdir");
    const std::pair<std::string, std::string> cases[] = {
        {dir / "q\"\\\n.bin", "open \"" + (dir / "q\\\"\\\\\\n.bin") + "\""},
        {dir / std::string("a\0b", 3), "open \"" + (dir / "a\\0b") + "\""},  // "a" exists, but the NUL is kept
        {dir / "subdir", os_error_text(ENODEV)},
        {dir / "empty", kCorrupt},
    };
    const auto descriptors = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()); };
    const auto before = descriptors();
    for (const auto& [path, message] : cases) {
        const std::string& opened = path;  // a name the lambdas can capture
        EXPECT_EQ(error_of([&] { LoadedGraph::open(opened); }), message) << path;
        EXPECT_EQ(error_of([&] { load_owned(opened); }), message) << path;
    }
    const LoadedGraph mapped = LoadedGraph::open(dir / "a");
    EXPECT_EQ(descriptors(), before);  // the mapping needs no open descriptor
}

TEST(GraphFileValidation, EachEditIsAcceptedOrRefusedWithItsMessage) {
    const std::uint32_t pool = std::uint32_t(sample_graph().string_pool.size());
    const std::string overrun = " Str overruns string_pool (" + std::to_string(pool + 1) + " > " + std::to_string(pool);
    // Each edit of the sample image with its outcome: "" accepted, kCorrupt structurally refused, or the invariant's message.
    const std::pair<std::string, std::function<void(std::string&)>> cases[] = {
        {"", [](std::string&) {}},
        {"", [](std::string& i) { i = serialize(GraphBuilder().build()); }},
        {"", [](std::string& i) { i.replace(0, at(i, kNodes), at(i, kNodes), '\xff'); }},  // pool bytes are not checked on load
        {"", [](std::string& i) { gap(i, kNodes, 4); add(i, kPool, kStart, 1); gap(i, kOutEdges, 8); gap(i, kInOffsets, 4); }},
        // highest kind and relation codes, offsets from 1, directions that do not mirror each other
        {"", [](std::string& i) { i[at(i, kNodes, 56)] = 8; i[at(i, kOutEdges)] = 9; poke(i, kInEdges, 4, 2);
                                  poke(i, kOutOffsets, 0, 1); poke(i, kInOffsets, 0, 1); poke(i, kInOffsets, 4, 1); }},
        {kCorrupt, [](std::string& i) { gap(i, kRoot, 1); }},  // a misaligned root
        {kCorrupt, [](std::string& i) { i[at(i, kNodes, 28)] = 9; }},
        {kCorrupt, [](std::string& i) { i[at(i, kOutEdges, 8)] = 10; }},
        {kCorrupt, [](std::string& i) { gap(i, kOutEdges, 4); add(i, kNodes, kStart, 2); }},  // misaligned
        {kCorrupt, [](std::string& i) { add(i, kOutEdges, kStart, -4); }},  // overlapping arrays
        {kCorrupt, [](std::string& i) { add(i, kInOffsets, kLength, 1); }},  // past the root
        {kCorrupt, [](std::string& i) { add(i, kPool, kStart, -1); }},  // before the file
        {kCorrupt, [](std::string& i) { set(i, kOutOffsets, kLength, 0x40000000u); }},  // 2^32 bytes
        {kCorrupt, [](std::string& i) { set(i, kNodes, kStart, 0x7fffffffu); }},
        {kCorrupt, [](std::string& i) { i[root_of(i)] = 0; i[at(i, kNodes)] = 9; }},  // checked before the magic
        {"graph.bin magic mismatch: got [75, 85, 86, 50], expected [75, 85, 86, 49]", [](std::string& i) { i[root_of(i) + 3] = '2'; }},
        {"graph.bin version mismatch: got 3, expected 4 (rebuild the graph)", [](std::string& i) { put(i, root_of(i) + 4, 3); }},
        {"out_offsets length 3 != nodes+1 (4)", [](std::string& i) { add(i, kOutOffsets, kLength, -1); }},
        {"in_offsets length 5 != nodes+1 (4)", [](std::string& i) { gap(i, kRoot, 4); add(i, kInOffsets, kLength, 1); }},
        {"out_offsets not monotonic at 2: 1 < 2", [](std::string& i) { poke(i, kOutOffsets, 8, 1); }},
        {"in_offsets not monotonic at 2: 0 < 1", [](std::string& i) { poke(i, kInOffsets, 4, 1); poke(i, kInOffsets, 8, 0); }},
        {"out_offsets last entry 3 != edge count 2", [](std::string& i) { poke(i, kOutOffsets, 12, 3); }},
        {"in_offsets last entry 1 != edge count 2", [](std::string& i) { poke(i, kInOffsets, 12, 1); }},
        {"edge dst 3 out of range (nodes 3)", [](std::string& i) { poke(i, kOutEdges, 12, 3); }},
        {"in_edge src 4294967295 out of range (nodes 3)", [](std::string& i) { poke(i, kInEdges, 4, 0xffffffffu); }},
        {"node 2 props" + overrun + ")", [=](std::string& i) { poke(i, kNodes, 76, pool - 1); poke(i, kNodes, 80, 2); }},
        {"node 1 name" + overrun + ")", [=](std::string& i) { poke(i, kNodes, 40, pool + 1); }},
        {"node 0 id Str overruns string_pool (8589934590 > " + std::to_string(pool) + ")",
         [](std::string& i) { poke(i, kNodes, 4, 0xffffffffu); poke(i, kNodes, 8, 0xffffffffu); }},
        {"in_offsets length 0 != nodes+1 (1)", [](std::string& i) { i = serialize(GraphBuilder().build());  // empty arrays
             set(i, kInEdges, kStart, back(40)); set(i, kInOffsets, kStart, back(48)); set(i, kInOffsets, kLength, 0); }},
        // Where one invariant breaks in several places, the first place is named, not the worst.
        {"edge dst 7 out of range (nodes 3)", [](std::string& i) { poke(i, kOutEdges, 4, 7); poke(i, kOutEdges, 12, 9); }},
        {"out_offsets not monotonic at 1: 0 < 1", [](std::string& i) { poke(i, kOutOffsets, 0, 1); poke(i, kOutOffsets, 4, 0);
                                                                       poke(i, kOutOffsets, 8, 0); }},
        {"node 1 name" + overrun + ")", [=](std::string& i) { poke(i, kNodes, 40, pool + 1); poke(i, kNodes, 80, 90); }},
    };
    const auto outcome = [&](std::span<const std::size_t> rows) {  // of the sample image with these rows' edits
        std::string image = serialize(sample_graph());
        for (std::size_t row : rows) cases[row].second(image);
        return check(image);
    };
    for (std::size_t row = 0; row < std::size(cases); ++row) EXPECT_EQ(outcome({&row, 1}), cases[row].first) << "row " << row;
    // One edit per invariant, in checking order: with every later one applied too, the first still wins.
    const std::size_t in_order[] = {15, 16, 19, 22, 23, 24, 26};
    for (std::size_t k = 0; k < std::size(in_order); ++k) {
        EXPECT_EQ(outcome(std::span(in_order).subspan(k)), cases[in_order[k]].first) << "row " << in_order[k];
    }
}

TEST(GraphFileValidation, TruncatedOrDamagedImagesAreRejectedOrReadSafely) {
    const std::string image = serialize(sample_graph());
    for (std::size_t length = 0; length < image.size(); ++length) {
        EXPECT_NE(check(image.substr(0, length)), "") << length;
        check(image.substr(image.size() - length));
    }
    std::mt19937 random(20261206);
    const std::uint32_t edges_of_range[] = {0, 4, 0x7fffffffu, 0x80000000u, 0xfffffffcu};
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string damaged = image;
        for (int edit = int(random() % 4); edit >= 0; --edit) {
            const std::size_t root_word = field(damaged, kPool, kStart) + 4 * (random() % 12);
            if (random() % 2 == 0) put(damaged, root_word, edges_of_range[random() % 5] + random() % 9 - 4);
            else damaged[random() % damaged.size()] = char(random());
        }
        accepted += check(damaged).empty();
    }
    EXPECT_GT(accepted, 0);  // some damage (to unchecked bytes) is harmless
}

}  // namespace
}  // namespace kuv::core
