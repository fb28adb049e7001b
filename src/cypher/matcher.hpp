#pragma once
// Matching a query's path against the mapped graph: candidates for the first node pattern in
// node order, then each relationship's adjacency run in stored order (nested-loop order).
// Bindings stream depth-first to a visitor; nothing is materialised per level.
#include "core/interrupt.hpp"
#include "core/store.hpp"
#include "cypher/ast.hpp"
#include "cypher/property_reader.hpp"
#include "cypher/scalar.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace kuv::cypher {

// One node index per node pattern, in pattern order.
using Binding = std::span<const std::uint32_t>;

// The first node pattern, in pattern order, that carries `var`.
std::optional<std::size_t> position_of(const Pattern& pattern, std::string_view var);

// A node pattern's test: its labels as a set of kind codes, and its inline properties.
class NodeFilter {
public:
    NodeFilter(const NodePat& pattern, const PropertyReader& reader);

    bool accepts(PropertyReader& reader, std::uint32_t node) const {
        if ((kinds_ >> static_cast<unsigned>(reader.graph().kind(node)) & 1) == 0) return false;
        for (const auto& [key, literal] : props_) {
            if (!inline_equal(reader.read(node, key), literal)) return false;
        }
        return true;
    }

private:
    std::uint32_t kinds_ = 0;
    std::vector<std::pair<PropKey, Scalar>> props_;
};

class PathMatcher {
public:
    PathMatcher(const Pattern& pattern, const PropertyReader& reader);

    // Calls visit(binding) for every binding of the path, in nested-loop order, until visit
    // returns false. Iterative, so long paths cost no stack.
    template <class Visit>
    void for_each(PropertyReader& reader, Visit&& visit) const {
        const core::LoadedGraph& graph = reader.graph();
        const std::size_t levels = rels_.size();
        std::vector<std::uint32_t> binding(nodes_.size());
        std::vector<Cursor> cursors(levels);
        std::uint32_t steps = 0;
        for (std::uint32_t start = 0; start < graph.node_count(); ++start) {
            if (++steps % kStepsPerInterruptCheck == 0) check_interrupt();
            if (!nodes_[0].accepts(reader, start)) continue;
            binding[0] = start;
            if (levels == 0) {
                if (!visit(Binding(binding))) return;
                continue;
            }
            std::size_t level = 0;
            cursors[0] = run_of(graph, start, rels_[0]);
            while (true) {
                Cursor& cursor = cursors[level];
                if (cursor.next == cursor.end) {
                    if (level == 0) break;
                    --level;
                    continue;
                }
                if (++steps % kStepsPerInterruptCheck == 0) check_interrupt();
                const Rel& rel = rels_[level];
                const std::uint32_t at = cursor.next++;
                const core::Edge edge = rel.outgoing ? graph.out_edge(at) : graph.in_edge(at);
                if ((rel.types >> static_cast<unsigned>(edge.rel) & 1) == 0) continue;
                if (!nodes_[level + 1].accepts(reader, edge.node)) continue;
                binding[level + 1] = edge.node;
                if (level + 1 == levels) {
                    if (!visit(Binding(binding))) return;
                } else {
                    ++level;
                    cursors[level] = run_of(graph, edge.node, rels_[level]);
                }
            }
        }
    }

private:
    // Nodes and relations looked at between two checks for a stop request: a check is cheap, but
    // not free where the module's thread-local state sits behind a function call.
    static constexpr std::uint32_t kStepsPerInterruptCheck = 256;

    struct Rel {
        std::uint32_t types;  // set of relation type codes
        bool outgoing;
    };
    struct Cursor {
        std::uint32_t next = 0;
        std::uint32_t end = 0;
    };

    static Cursor run_of(const core::LoadedGraph& graph, std::uint32_t node, const Rel& rel) {
        if (rel.outgoing) return {graph.out_begin(node), graph.out_end(node)};
        return {graph.in_begin(node), graph.in_end(node)};
    }

    std::vector<NodeFilter> nodes_;
    std::vector<Rel> rels_;
};

}  // namespace kuv::cypher
