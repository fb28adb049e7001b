#include "core/store.hpp"

#include "core/builder.hpp"
#include "core/error.hpp"
#include "core/file_descriptor.hpp"
#include "core/interrupt.hpp"
#include "core/os_error.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kuv::core {
namespace {

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

// Three nodes with two relations from the first: out_offsets [0, 2, 2, 2], in_offsets [0, 0, 1, 2].
Graph sample_graph() {
    GraphBuilder builder;
    builder.add_edge(builder.upsert_node(NodeKind::Product, "p1", "Phone", "{\"url\":\"https://shop/p1\"}"), RelType::Offers, "o1");
    builder.add_edge(0, RelType::Brand, "b1");
    builder.upsert_node(NodeKind::Offer, "o1", "", "{\"price\":\"9.99\"}");
    builder.upsert_node(NodeKind::Brand, "b1", "Acme", "{}");
    return std::move(builder).build();
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

struct TempDir {
    std::string path = (fs::temp_directory_path() / "kuv-store-XXXXXX").string();
    TempDir() { mkdtemp(path.data()); }
    ~TempDir() { std::error_code ignored; fs::remove_all(path, ignored); }
    std::string operator/(std::string_view name) const { return path + "/" + std::string(name); }
};

std::string read_file(const std::string& path) {
    return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}
void write_file(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

template <class Failure = Error, class Call>
std::string error_of(Call call) try { call(); return "no error"; } catch (const Failure& error) { return error.what(); }

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

TEST(GraphFileSave, TemporaryPathReplacesTheExtension) {
    const std::pair<std::string, std::string> cases[] = {
        {"out/graph.bin", "out/graph.bin.tmp"}, {"out/g.dat", "out/g.bin.tmp"}, {"out/a.b.c", "out/a.b.bin.tmp"},
        {"out/.hidden", "out/.hidden.bin.tmp"}, {"g.dat", "g.bin.tmp"}, {"out.d/g", "out.d/g.bin.tmp"}, {"/g", "/g.bin.tmp"},
        {"out/g.", "out/g.bin.tmp"}, {"out/g.dat/", "out/g.bin.tmp"}, {"out/g.dat/.", "out/g.bin.tmp"}, {"out/..", "out/.."}, {"", ""},
    };
    for (const auto& [path, temp] : cases) EXPECT_EQ(temp_path_for(path), temp) << path;
}

TEST(GraphFileSave, WritesOpensAndReSavesByteForByte) {
    const TempDir dir;
    const Graph graph = sample_graph();
    const mode_t old_mask = umask(027);
    const auto written = save(graph, dir / "g.dat");
    umask(old_mask);
    const std::string bytes = read_file(dir / "g.dat");
    EXPECT_EQ(bytes, serialize(graph));
    EXPECT_EQ(written, bytes.size());
    EXPECT_FALSE(fs::exists(dir / "g.bin.tmp"));
    EXPECT_EQ(fs::status(dir / "g.dat").permissions(), fs::perms(0640));

    LoadedGraph loaded = LoadedGraph::open(dir / "g.dat");
    const LoadedGraph moved = std::move(loaded);  // views stay on the same mapping
    EXPECT_EQ(moved.to_graph(), graph);
    EXPECT_EQ(save(load_owned(dir / "g.dat"), dir / "g.dat"), written);  // over the file it came from
    EXPECT_EQ(read_file(dir / "g.dat"), bytes);
    EXPECT_EQ(moved.bytes_of(moved.name(0)), "Phone");  // the replaced file stays mapped
}

TEST(GraphFileSave, FailuresAndStopRequestsLeaveTheOutputUntouched) {
    const TempDir dir;
    struct StopAlways : InterruptProbe {
        bool stop_requested() override { return true; }
    } probe;
    const auto save_to = [](const std::string& path) { return error_of([&] { save(sample_graph(), path); }); };
    write_file(dir / "kept.bin", "previous content");
    fs::create_directory(dir / "kept.bin.tmp");  // the temporary path cannot be written
    EXPECT_EQ(save_to(dir / "kept.bin"), "write tmp graph.bin");
    EXPECT_EQ(read_file(dir / "kept.bin"), "previous content");
    fs::create_directory(dir / "taken");
    EXPECT_EQ(save_to(dir / "taken"), "atomic rename graph.bin");
    EXPECT_TRUE(fs::is_directory(dir / "taken"));
    EXPECT_EQ(read_file(dir / "taken.bin.tmp"), serialize(sample_graph()));  // left behind, complete
    EXPECT_EQ(save_to(dir / std::string("g\0x.bin", 7)), "write tmp graph.bin");  // a NUL fails, never truncates
    EXPECT_FALSE(fs::exists(dir / "g"));
    EXPECT_EQ(save_to(dir / std::string("h.b\0n", 5)), "atomic rename graph.bin");  // written, not renamed
    EXPECT_TRUE(fs::exists(dir / "h.bin.tmp"));
    EXPECT_FALSE(fs::exists(dir / "h.b"));
    write_file(dir / "stopped.bin", "previous content");
    const InterruptScope scope(probe);
    EXPECT_THROW(save(sample_graph(), dir / "stopped.bin"), Interrupted);
    EXPECT_EQ(read_file(dir / "stopped.bin"), "previous content");
    EXPECT_FALSE(fs::exists(dir / "stopped.bin.tmp"));
}

TEST(GraphFileSave, WhateverIsAtTheTemporaryPathIsReplacedNeverFollowedOrOpened) {
    const TempDir dir;
    const std::pair<std::string, std::function<void()>> cases[] = {
        {"leftover file", [&] { write_file(dir / "g.bin.tmp", "half a graph"); }},
        {"link to a file", [&] { fs::create_symlink(dir / "victim", dir / "g.bin.tmp"); }},
        {"link to nothing", [&] { fs::create_symlink(dir / "nowhere", dir / "g.bin.tmp"); }},
        {"second name of a file", [&] { fs::create_hard_link(dir / "victim", dir / "g.bin.tmp"); }},
        {"named pipe", [&] { ASSERT_EQ(mkfifo((dir / "g.bin.tmp").c_str(), 0600), 0); }},
    };
    for (const auto& [planted, plant] : cases) {
        write_file(dir / "victim", "not yours");
        plant();
        EXPECT_EQ(save(sample_graph(), dir / "g.bin"), serialize(sample_graph()).size()) << planted;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "g.bin"))) << planted;
        EXPECT_EQ(read_file(dir / "g.bin"), serialize(sample_graph())) << planted;
        EXPECT_EQ(read_file(dir / "victim"), "not yours") << planted;
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "g.bin.tmp"))) << planted;
        EXPECT_FALSE(fs::exists(dir / "nowhere")) << planted;
    }
}

// About a megabyte of nodes, so that saves of it overlap when run side by side.
Graph numbered_graph(std::size_t count, const std::string& tag) {
    GraphBuilder builder;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string id = tag + std::to_string(i);
        builder.upsert_node(NodeKind::Product, id, id, R"({"url":"https://shop.example/)" + id + R"("})");
    }
    return std::move(builder).build();
}

// Runs `work` (returning whether it went well) on a thread or in a forked process; join() tells
// whether it went well.
class Runner {
public:
    Runner(bool in_process, std::function<bool()> work) {
        if (!in_process) {
            thread_ = std::thread([this, work] { ok_ = work(); });
            return;
        }
        pid_ = fork();
        if (pid_ == 0) _exit(work() ? 0 : 1);
    }
    bool join() {
        if (thread_.joinable()) thread_.join();
        int status = 0;
        return pid_ > 0 ? waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status) && WEXITSTATUS(status) == 0 : ok_;
    }

private:
    std::thread thread_;
    pid_t pid_ = -1;
    bool ok_ = false;
};

// Output paths that share a temporary path, or one path twice, saved from two threads or two
// processes at once: every save returns normally and leaves its own graph under its path (with
// one path twice, one of the two graphs), and a reader polling the path never fails to open it.
TEST(GraphFileSave, OverlappingSavesTakeTurnsOnTheTemporaryFile) {
    const Graph graphs[] = {numbered_graph(20000, "a"), numbered_graph(5000, "b")};
    const std::string images[] = {serialize(graphs[0]), serialize(graphs[1])};
    const struct {
        std::string name;
        bool processes;
        std::string outputs[2];
    } cases[] = {
        {"threads, shared temporary path", false, {"g.bin", "g.dat"}},
        {"threads, one path", false, {"g.bin", "g.bin"}},
        {"processes, shared temporary path", true, {"g.bin", "g"}},
        {"processes, one path", true, {"g.bin", "g.bin"}},
    };
    for (const auto& c : cases) {
        const TempDir dir;
        const bool one_path = c.outputs[0] == c.outputs[1];
        const auto saves = [&](int which) {
            return [&, which] {
                bool ok = true;
                for (int round = 0; round < 40; ++round) {
                    ok &= error_of([&] { save(graphs[which], dir / c.outputs[which]); }) == "no error";
                    const std::string now = read_file(dir / c.outputs[which]);
                    ok &= now == images[which] || (one_path && now == images[1 - which]);
                }
                return ok;
            };
        };
        save(numbered_graph(1, "x"), dir / c.outputs[0]);
        Runner first(c.processes, saves(0));
        Runner second(c.processes, saves(1));
        std::atomic<bool> done = false;
        std::size_t opens = 0;
        std::size_t failed_opens = 0;
        std::thread reader([&] {
            for (; !done; ++opens) failed_opens += error_of([&] { LoadedGraph::open(dir / c.outputs[0]); }) != "no error";
        });
        EXPECT_TRUE(first.join()) << c.name;
        EXPECT_TRUE(second.join()) << c.name;
        done = true;
        reader.join();
        EXPECT_EQ(failed_opens, 0u) << c.name << " of " << opens;
        EXPECT_FALSE(fs::exists(dir / "g.bin.tmp")) << c.name;
    }
}

// A save waits while another open file holds the temporary file's lock, neither emptying nor
// renaming it meanwhile, and a stop request ends the wait with nothing touched.
TEST(GraphFileSave, ASaveWaitsForItsTurnAndStopsWhileWaitingWhenAsked) {
    const TempDir dir;
    write_file(dir / "g.bin.tmp", "another save's graph");
    FileDescriptor other_save(open((dir / "g.bin.tmp").c_str(), O_WRONLY));
    ASSERT_EQ(flock(other_save.get(), LOCK_EX), 0);
    struct StopWhenTold : InterruptProbe {
        std::atomic<bool> told = false;
        bool stop_requested() override { return told; }
    } probe;
    std::atomic<bool> stopped = false;
    std::thread stopping([&] {
        const InterruptScope scope(probe);
        try {
            save(sample_graph(), dir / "g.bin");
        } catch (const Interrupted&) {
            stopped = true;
        }
    });
    std::thread waiting([&] { save(sample_graph(), dir / "g.bin"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    probe.told = true;
    stopping.join();
    EXPECT_TRUE(stopped);
    EXPECT_FALSE(fs::exists(dir / "g.bin"));
    EXPECT_EQ(read_file(dir / "g.bin.tmp"), "another save's graph");
    other_save.close();
    waiting.join();
    EXPECT_EQ(read_file(dir / "g.bin"), serialize(sample_graph()));
    EXPECT_FALSE(fs::exists(dir / "g.bin.tmp"));
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
