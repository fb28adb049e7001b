// Graph building: each input is a script of builder calls (upserts, relations, page breaks and
// removals by URL) over a few ids and texts. The first page is frozen and thawed as a stored
// graph is by a merge; the later pages are then made on one builder directly, and on builders of
// their own absorbed in turn, which must freeze into the same graph. Removals go through the
// one-URL call on one side and the list call on the other.
#include "core/builder.hpp"
#include "fuzz_target.hpp"
#include "graph_checks.hpp"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kuv::fuzz {
namespace {

using core::GraphBuilder;

// Texts longer than the builder's first storage block, so blocks fill and are released.
const std::string kLongName(1500, 'n');
const std::string kLongProps = R"({"url":"u2","pad":")" + std::string(40000, 'p') + R"("})";

// Builders only ever get UTF-8 texts (pages are decoded first), and a thaw insists on it.
constexpr std::array<std::string_view, 9> kIds = {"a", "b", "c", "d", "", "a#offer0", "B", "\xc3\xa9", "e"};
const std::array<std::string_view, 5> kNames = {"", "Name", "n\xc3\xa9", "\xe2\x82\xac", kLongName};
const std::array<std::string_view, 8> kProps = {
    "{}", R"({"url":"u1"})", R"({"url":"u2","x":1})", R"({"url":5})", "not json", "", R"({"URL":"u1"})", kLongProps,
};
constexpr std::array<std::string_view, 4> kUrls = {"u1", "u2", "u3", ""};

// Reads the script one byte at a time; past its end every read is 0.
class Script {
public:
    explicit Script(std::string_view bytes) : bytes_(bytes) {}
    bool done() const { return at_ == bytes_.size(); }
    unsigned next() { return done() ? 0 : static_cast<unsigned char>(bytes_[at_++]); }
    template <class List>
    auto pick(const List& list) { return list[next() % list.size()]; }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

// Makes one page's calls on each of `builders`, up to a page break (true) or the script's end
// (false). A relation leaves the node the page upserted last, as extraction records them;
// removals by URL are only collected.
bool make_page(Script& script, const std::vector<GraphBuilder*>& builders, std::vector<std::string_view>& removed) {
    std::vector<std::optional<std::uint32_t>> last(builders.size());
    while (!script.done()) {
        const unsigned op = script.next() % 8;
        if (op < 4) {
            const auto kind = core::NodeKind(script.next() % (core::kMaxNodeKindCode + 1));
            const std::string_view id = script.pick(kIds), name = script.pick(kNames), props = script.pick(kProps);
            for (std::size_t i = 0; i < builders.size(); ++i) last[i] = builders[i]->upsert_node(kind, id, name, props);
        } else if (op < 6) {
            const auto rel = core::RelType(script.next() % (core::kMaxRelTypeCode + 1));
            const std::string_view target = script.pick(kIds);
            for (std::size_t i = 0; i < builders.size(); ++i) {
                if (last[i]) builders[i]->add_edge(*last[i], rel, target);
            }
        } else if (op == 6) {
            return true;
        } else {
            removed.push_back(script.pick(kUrls));
        }
    }
    return false;
}

void run(std::string_view input) {
    Script script(input);
    std::vector<std::string_view> removed;
    GraphBuilder first;
    bool more = make_page(script, {&first}, removed);
    const core::Graph stored = std::move(first).build();
    check_reads_back(stored);
    check_thaw_keeps(stored);

    GraphBuilder direct = GraphBuilder::from_graph(stored);
    GraphBuilder absorbed = GraphBuilder::from_graph(stored);
    while (more) {
        GraphBuilder own;
        more = make_page(script, {&direct, &own}, removed);
        absorbed.absorb(own);
    }
    for (const std::string_view url : removed) direct.remove_node_by_url(url);
    absorbed.remove_nodes_by_urls(removed);

    const core::Graph merged = std::move(direct).build();
    require(std::move(absorbed).build() == merged, "absorbed pages freeze into the graph of direct calls");
    check_reads_back(merged);
}

std::vector<std::string> seeds() {
    return {
        // upserts of a and b, a relation to c before c exists, a page break, c and a again
        std::string("\x00\x00\x00\x01\x01\x01\x01\x02\x04\x03\x02\x06\x00\x02\x02\x00\x00\x03\x01\x07\x07\x00", 22),
        // long texts, removals of u1 and u2 (twice), a relation to a missing id
        std::string("\x00\x01\x03\x04\x07\x04\x00\x08\x06\x02\x05\x02\x04\x01\x07\x00\x07\x01\x07\x01\x06\x00\x01\x00\x01", 25),
    };
}

}  // namespace

const Target kBuilder{"builder", run, seeds};

}  // namespace kuv::fuzz
