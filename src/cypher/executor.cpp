#include "cypher/executor.hpp"

#include "core/error.hpp"
#include "cypher/columns.hpp"
#include "cypher/condition.hpp"
#include "cypher/grouping.hpp"
#include "cypher/matcher.hpp"
#include "cypher/ordering.hpp"
#include "cypher/property_reader.hpp"
#include "cypher/row_sink.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace kuv::cypher {
namespace {

// Every props key the query can read, in first-mention order.
std::vector<std::string> collect_keys(const Query& query) {
    std::vector<std::string> keys;
    auto add = [&keys](const std::string& key) {
        if (key != "name" && key != "kind" && std::find(keys.begin(), keys.end(), key) == keys.end()) {
            keys.push_back(key);
        }
    };
    for (const NodePat& node : query.pattern.nodes) {
        for (const auto& [key, literal] : node.props) add(key);
    }
    std::vector<const Expr*> pending;
    if (query.where_expr) pending.push_back(&*query.where_expr);
    while (!pending.empty()) {
        const Expr* expr = pending.back();
        pending.pop_back();
        std::visit(
            [&](const auto& node) {
                using T = std::decay_t<decltype(node)>;
                if constexpr (std::is_same_v<T, PropExpr>) {
                    add(node.prop);
                } else if constexpr (std::is_same_v<T, BinExpr>) {
                    pending.push_back(node.left.get());
                    pending.push_back(node.right.get());
                } else if constexpr (!std::is_same_v<T, Literal>) {
                    pending.push_back(node.operand.get());
                }
            },
            expr->node);
    }
    for (const ReturnItem& item : query.returns) {
        if (item.prop) add(*item.prop);
    }
    for (const OrderItem& item : query.order_by) {
        if (item.prop) add(*item.prop);
    }
    return keys;
}

bool has_aggregate(const Query& query) {
    return std::any_of(query.returns.begin(), query.returns.end(), [](const ReturnItem& item) { return item.agg.has_value(); });
}

}  // namespace

QueryResult execute(const core::LoadedGraph& graph, const Query& query) {
    PropertyReader reader(graph, collect_keys(query));
    const bool grouped = has_aggregate(query);
    const bool ordered = !grouped && !query.order_by.empty();
    std::vector<SortItem> sort_items = ordered ? resolve_sort_items(query, reader) : std::vector<SortItem>{};
    QueryResult result;
    for (const ReturnItem& item : query.returns) result.columns.push_back(column_name(item));
    const Columns columns = resolve_columns(query, reader);
    const PathMatcher matcher(query.pattern, reader);
    const std::optional<Condition> condition =
        query.where_expr ? std::optional<Condition>(std::in_place, *query.where_expr, query.pattern, reader) : std::nullopt;

    // Visits the bindings that pass WHERE until `visit` returns false.
    auto for_each_binding = [&](auto&& visit) {
        matcher.for_each(reader, [&](Binding binding) {
            if (condition && !condition->holds(reader, binding)) return true;
            if (columns.unresolved) throw Error(*columns.unresolved);
            return visit(binding);
        });
    };

    RowSink sink(query);
    const auto sort_then_offer = [&](auto&& sorted) {
        for_each_binding([&](Binding binding) {
            sorted.add(reader, binding);
            return true;
        });
        sorted.finish();
        for (std::size_t i = 0; i < sorted.size(); ++i) {
            if (!sink.offer(project_row(reader, columns, sorted.binding(i)))) break;
        }
    };
    const std::size_t width = query.pattern.nodes.size();
    if (grouped) {
        Grouper grouper(columns, reader);
        for_each_binding([&](Binding binding) {
            grouper.add(binding);
            return true;
        });
        grouper.emit(sink);
    } else if (ordered && query.distinct) {
        sort_then_offer(DistinctSortedBindings(std::move(sort_items), columns, width, rows_needed(query)));
    } else if (ordered) {
        sort_then_offer(SortedBindings(std::move(sort_items), width, rows_needed(query)));
    } else {
        // Streams: matching stops as soon as SKIP + LIMIT rows are settled.
        for_each_binding([&](Binding binding) { return sink.offer(project_row(reader, columns, binding)); });
    }
    result.rows = std::move(sink).take();
    return result;
}

}  // namespace kuv::cypher
