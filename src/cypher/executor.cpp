#include "cypher/executor.hpp"

#include "core/error.hpp"
#include "core/interrupt.hpp"
#include "core/json.hpp"
#include "cypher/parser.hpp"

#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <charconv>
#include <compare>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kuv::cypher {
namespace {

using core::LoadedGraph;
// One node index per node pattern, in pattern order.
using Binding = std::span<const std::uint32_t>;

constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

// ---------------------------------------------------------------------------------------------
// Property reading

bool is_utf8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int64_t>(text.size());
    std::int64_t i = 0;
    while (i < length) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

// A node's name; pool bytes that are not UTF-8 read as the empty text.
std::string_view node_name(const LoadedGraph& graph, std::uint32_t node) {
    std::string_view bytes = graph.bytes_of(graph.name(node));
    return is_utf8(bytes) ? bytes : std::string_view{};
}

bool is_ascii_digits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Plain decimal numbers without "+", spaces, exponent or leading zeros ("0.5" and "-0" qualify).
bool is_numeric_looking(std::string_view s) {
    std::string_view unsigned_part = s.starts_with('-') ? s.substr(1) : s;
    std::string_view integer_part = unsigned_part;
    if (const auto dot = unsigned_part.find('.'); dot != std::string_view::npos) {
        if (!is_ascii_digits(unsigned_part.substr(dot + 1))) return false;
        integer_part = unsigned_part.substr(0, dot);
    }
    return is_ascii_digits(integer_part) && (integer_part.size() == 1 || integer_part[0] != '0');
}

// A property value as cached: a Value that is never a node reference, at half the size.
using PropValue = std::variant<Null, bool, std::int64_t, double, std::string>;

// `text` is numeric-looking: an i64 when it is one, else the nearest f64.
PropValue number_from_text(std::string_view text) {
    const char* first = text.data();
    const char* last = first + text.size();
    std::int64_t integer = 0;
    if (auto [end, ec] = std::from_chars(first, last, integer); ec == std::errc{} && end == last) return integer;
    double real = 0;
    const auto [end, ec] = std::from_chars(first, last, real, std::chars_format::fixed);
    if (ec == std::errc::result_out_of_range) {
        // Without an exponent only a huge integer part overflows; anything else underflows.
        const bool negative = text.starts_with('-');
        const bool huge = text[negative ? 1 : 0] != '0';
        const double magnitude = huge ? std::numeric_limits<double>::infinity() : 0.0;
        return negative ? -magnitude : magnitude;
    }
    return real;
}

PropValue value_of_member(std::string_view key, const Json& member) {
    switch (member.type()) {
        case Json::value_t::boolean: return member.get<bool>();
        case Json::value_t::number_integer: return member.get<std::int64_t>();
        case Json::value_t::number_unsigned: {
            const auto u = member.get<std::uint64_t>();
            if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                return static_cast<std::int64_t>(u);
            }
            return static_cast<double>(u);
        }
        case Json::value_t::number_float: return member.get<double>();
        case Json::value_t::string: {
            const auto& text = member.get_ref<const std::string&>();
            // Prices keep the exact text extraction wrote.
            if (key != "price" && is_numeric_looking(text)) return number_from_text(text);
            return text;
        }
        default: return Null{};
    }
}

// One u32 per node, zero until set. Stored in pages allocated on first touch, so a query that
// reads a few nodes of a big graph does not clear an entry for every node.
class NodeSlots {
public:
    explicit NodeSlots(std::uint32_t node_count) : pages_((std::size_t(node_count) >> kPageBits) + 1) {}

    std::uint32_t& at(std::uint32_t node) {
        auto& page = pages_[node >> kPageBits];
        if (!page) page = std::make_unique<std::uint32_t[]>(std::size_t(1) << kPageBits);
        return page[node & ((std::uint32_t(1) << kPageBits) - 1)];
    }

private:
    static constexpr unsigned kPageBits = 12;
    std::vector<std::unique_ptr<std::uint32_t[]>> pages_;
};

// Reads node properties for one query. Only the keys the query mentions are kept: each node's
// props text is scanned once, on first read, building just those members, which are converted
// then; "name" and "kind" come from the record.
class PropertyCache {
public:
    PropertyCache(const LoadedGraph& graph, std::vector<std::string> keys)
        : graph_(graph), keys_(std::move(keys)), ordinal_plus_one_(graph.node_count()) {}

    Value read(std::uint32_t node, std::string_view key) {
        if (key == "name") return std::string(node_name(graph_, node));
        if (key == "kind") return std::string(core::label(graph_.kind(node)));
        return std::visit([](const auto& v) -> Value { return v; }, values_[first_value_of(node) + slot_of(key)]);
    }

    // A RETURN or ORDER BY term: the property, or the node itself.
    Value project(std::uint32_t node, const std::optional<std::string>& prop) {
        if (prop) return read(node, *prop);
        return NodeRef{node, std::string(core::label(graph_.kind(node))), std::string(node_name(graph_, node))};
    }

private:
    std::size_t slot_of(std::string_view key) const {
        const auto found = std::find(keys_.begin(), keys_.end(), key);
        if (found == keys_.end()) throw Fatal("property key read without being collected from the query");
        return static_cast<std::size_t>(found - keys_.begin());
    }

    std::size_t first_value_of(std::uint32_t node) {
        std::uint32_t& ordinal = ordinal_plus_one_.at(node);
        if (ordinal == 0) {
            ordinal = ++parsed_count_;
            append_values(node);
        }
        return std::size_t(ordinal - 1) * keys_.size();
    }

    // A props text that is not JSON reads as no properties at all.
    void append_values(std::uint32_t node) {
        if (keys_.empty()) return;
        const std::optional<PickedMembers> props = pick_json_members(graph_.bytes_of(graph_.props(node)), keys_);
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            const bool present = props && props->values[i];
            values_.push_back(present ? value_of_member(keys_[i], *props->values[i]) : PropValue{Null{}});
        }
    }

    const LoadedGraph& graph_;
    std::vector<std::string> keys_;
    NodeSlots ordinal_plus_one_;  // per node: 0 until parsed, else its parse ordinal + 1
    std::uint32_t parsed_count_ = 0;
    std::vector<PropValue> values_;  // keys_.size() values per parsed node, in parse order
};

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

// ---------------------------------------------------------------------------------------------
// Values and comparisons

Value value_of_literal(const Literal& literal) {
    return std::visit([](const auto& v) -> Value { return v; }, literal.value);
}

std::optional<double> as_number(const Value& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) return static_cast<double>(*i);
    if (const auto* f = std::get_if<double>(&value)) return *f;
    return std::nullopt;
}

// The order of two non-null WHERE operands; unordered for NaN and for mismatched kinds.
std::partial_ordering where_order(const Value& left, const Value& right) {
    const auto l_number = as_number(left);
    const auto r_number = as_number(right);
    if (l_number && r_number) return *l_number <=> *r_number;
    const auto* l_str = std::get_if<std::string>(&left);
    const auto* r_str = std::get_if<std::string>(&right);
    if (l_str && r_str) return *l_str <=> *r_str;
    const auto* l_bool = std::get_if<bool>(&left);
    const auto* r_bool = std::get_if<bool>(&right);
    if (l_bool && r_bool) return *l_bool <=> *r_bool;
    return std::partial_ordering::unordered;
}

bool is_null(const Value& value) { return std::holds_alternative<Null>(value); }

// Two-valued: a missing side makes every operator false, <> included.
bool comparison_holds(BinOp op, const Value& left, const Value& right) {
    if (is_null(left) || is_null(right)) return false;
    const std::partial_ordering order = where_order(left, right);
    if (order == std::partial_ordering::unordered) return op == BinOp::Ne;
    switch (op) {
        case BinOp::Eq: return order == 0;
        case BinOp::Ne: return order != 0;
        case BinOp::Lt: return order < 0;
        case BinOp::Le: return order <= 0;
        case BinOp::Gt: return order > 0;
        case BinOp::Ge: return order >= 0;
        default: return false;
    }
}

// Equality of inline properties and IN lists: numbers as f64, strings and bools exactly.
bool inline_equal(const Value& value, const Literal& literal) {
    return std::visit(
        [&value](const auto& lit) {
            using T = std::decay_t<decltype(lit)>;
            if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, double>) {
                const auto number = as_number(value);
                return number && *number == static_cast<double>(lit);
            } else {
                const auto* same = std::get_if<T>(&value);
                return same != nullptr && *same == lit;
            }
        },
        literal.value);
}

bool is_truthy(const Value& value) {
    if (is_null(value)) return false;
    if (const auto* b = std::get_if<bool>(&value)) return *b;
    return true;
}

// Full Unicode lower-case mapping (final sigma, dotted capital I) in the root locale. ICU takes
// 32-bit lengths, so text beyond that is mapped in pieces cut before a UTF-8 lead byte.
std::string lower_case(std::string_view text) {
    constexpr std::size_t kMaxPiece = std::numeric_limits<std::int32_t>::max();
    std::string out;
    while (!text.empty()) {
        std::size_t piece = std::min(text.size(), kMaxPiece);
        while (piece < text.size() && piece > 1 && U8_IS_TRAIL(static_cast<std::uint8_t>(text[piece]))) --piece;
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(piece)))
            .toLower(icu::Locale::getRoot())
            .toUTF8String(out);
        text.remove_prefix(piece);
    }
    return out;
}

bool string_op_holds(StrOpKind kind, std::string_view haystack, std::string_view needle) {
    switch (kind) {
        case StrOpKind::StartsWith: return haystack.starts_with(needle);
        case StrOpKind::EndsWith: return haystack.ends_with(needle);
        case StrOpKind::Contains: return haystack.find(needle) != std::string_view::npos;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Evaluation against one binding

std::optional<std::size_t> position_of(const Pattern& pattern, std::string_view var) {
    for (std::size_t k = 0; k < pattern.nodes.size(); ++k) {
        if (pattern.nodes[k].var == var) return k;
    }
    return std::nullopt;
}

class Evaluator {
public:
    Evaluator(const LoadedGraph& graph, const Query& query)
        : graph_(graph), query_(query), cache_(graph, collect_keys(query)) {}

    PropertyCache& cache() { return cache_; }

    bool node_matches(std::uint32_t node, const NodePat& pattern) {
        if (!pattern.labels.empty() &&
            std::find(pattern.labels.begin(), pattern.labels.end(), graph_.kind(node)) == pattern.labels.end()) {
            return false;
        }
        return std::all_of(pattern.props.begin(), pattern.props.end(), [&](const auto& prop) {
            return inline_equal(cache_.read(node, prop.first), prop.second);
        });
    }

    // A property access or literal; anything else is Null.
    Value eval_scalar(const Expr& expr, Binding binding) {
        if (const auto* prop = std::get_if<PropExpr>(&expr.node)) {
            const auto position = position_of(query_.pattern, prop->var);
            return position ? cache_.read(binding[*position], prop->prop) : Value{Null{}};
        }
        if (const auto* literal = std::get_if<Literal>(&expr.node)) return value_of_literal(*literal);
        return Null{};
    }

    // Recursion follows the expression tree, whose height the parser caps at kMaxQueryNesting.
    bool eval_bool(const Expr& expr, Binding binding) {
        return std::visit(
            [&](const auto& node) -> bool {
                using T = std::decay_t<decltype(node)>;
                if constexpr (std::is_same_v<T, BinExpr>) {
                    if (node.op == BinOp::And) return eval_bool(*node.left, binding) && eval_bool(*node.right, binding);
                    if (node.op == BinOp::Or) return eval_bool(*node.left, binding) || eval_bool(*node.right, binding);
                    return comparison_holds(node.op, eval_scalar(*node.left, binding), eval_scalar(*node.right, binding));
                } else if constexpr (std::is_same_v<T, NotExpr>) {
                    return !eval_bool(*node.operand, binding);
                } else if constexpr (std::is_same_v<T, PropExpr> || std::is_same_v<T, Literal>) {
                    return is_truthy(eval_scalar(expr, binding));
                } else if constexpr (std::is_same_v<T, StrOpExpr>) {
                    const Value value = eval_scalar(*node.operand, binding);
                    const auto* text = std::get_if<std::string>(&value);
                    return text != nullptr && string_op_holds(node.kind, lower_case(*text), lowered_needle(node));
                } else if constexpr (std::is_same_v<T, IsNullExpr>) {
                    return is_null(eval_scalar(*node.operand, binding)) == node.want_null;
                } else if constexpr (std::is_same_v<T, InExpr>) {
                    const Value value = eval_scalar(*node.operand, binding);
                    return std::any_of(node.list.begin(), node.list.end(),
                                       [&](const Literal& literal) { return inline_equal(value, literal); });
                } else {
                    static_assert(std::is_same_v<T, RegexExpr>);
                    const Value value = eval_scalar(*node.operand, binding);
                    const auto* text = std::get_if<std::string>(&value);
                    return text != nullptr && node.regex->is_match(*text);
                }
            },
            expr.node);
    }

private:
    const std::string& lowered_needle(const StrOpExpr& expr) {
        auto [entry, inserted] = lowered_needles_.try_emplace(&expr);
        if (inserted) entry->second = lower_case(expr.needle);
        return entry->second;
    }

    const LoadedGraph& graph_;
    const Query& query_;
    PropertyCache cache_;
    std::unordered_map<const StrOpExpr*, std::string> lowered_needles_;
};

// ---------------------------------------------------------------------------------------------
// Matching

struct EdgeCursor {
    std::uint32_t next = 0;
    std::uint32_t end = 0;
};

EdgeCursor run_of(const LoadedGraph& graph, std::uint32_t node, Direction direction) {
    if (direction == Direction::Outgoing) return {graph.out_begin(node), graph.out_end(node)};
    return {graph.in_begin(node), graph.in_end(node)};
}

bool type_allowed(const RelPat& rel, core::RelType type) {
    return rel.types.empty() || std::find(rel.types.begin(), rel.types.end(), type) != rel.types.end();
}

// Calls visit(binding) for every binding of the path, depth-first in nested-loop order, until
// visit returns false. Iterative, so long paths cost no stack.
template <class Visit>
void match_path(const LoadedGraph& graph, const Pattern& pattern, Evaluator& evaluator, Visit&& visit) {
    const std::size_t levels = pattern.rels.size();
    std::vector<std::uint32_t> binding(pattern.nodes.size());
    std::vector<EdgeCursor> cursors(levels);
    for (std::uint32_t start = 0; start < graph.node_count(); ++start) {
        if (!evaluator.node_matches(start, pattern.nodes[0])) continue;
        binding[0] = start;
        if (levels == 0) {
            if (!visit(binding)) return;
            continue;
        }
        std::size_t level = 0;
        cursors[0] = run_of(graph, start, pattern.rels[0].direction);
        while (true) {
            check_interrupt();
            EdgeCursor& cursor = cursors[level];
            if (cursor.next == cursor.end) {
                if (level == 0) break;
                --level;
                continue;
            }
            const RelPat& rel = pattern.rels[level];
            const std::uint32_t at = cursor.next++;
            const core::Edge edge = rel.direction == Direction::Outgoing ? graph.out_edge(at) : graph.in_edge(at);
            if (!type_allowed(rel, edge.rel) || !evaluator.node_matches(edge.node, pattern.nodes[level + 1])) continue;
            binding[level + 1] = edge.node;
            if (level + 1 == levels) {
                if (!visit(binding)) return;
            } else {
                ++level;
                cursors[level] = run_of(graph, edge.node, pattern.rels[level].direction);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Result shaping

std::string_view function_name(AggFunc func) {
    switch (func) {
        case AggFunc::Count: return "count";
        case AggFunc::Min: return "min";
        case AggFunc::Max: return "max";
        case AggFunc::Sum: return "sum";
        case AggFunc::Avg: return "avg";
    }
    return "";
}

std::string column_name(const ReturnItem& item) {
    if (item.alias) return *item.alias;
    if (item.star) return "count(*)";
    std::string base = item.prop ? item.var + "." + *item.prop : item.var;
    if (!item.agg) return base;
    return std::string(function_name(*item.agg)) + "(" + base + ")";
}

// A RETURN item with its variable resolved to a pattern position (when some pattern has it).
struct Column {
    const ReturnItem* item;
    std::optional<std::size_t> position;
};

struct Columns {
    std::vector<Column> columns;
    // The message raised at the first binding when an item that needs its variable lacks one.
    std::optional<std::string> unresolved;
};

Columns resolve_columns(const Query& query) {
    Columns out;
    std::optional<std::string> plain_missing;
    std::optional<std::string> aggregate_missing;
    for (const ReturnItem& item : query.returns) {
        const bool needs_variable = !item.agg || *item.agg != AggFunc::Count;
        const auto position = needs_variable ? position_of(query.pattern, item.var) : std::nullopt;
        out.columns.push_back({&item, position});
        if (!needs_variable || position) continue;
        auto& missing = item.agg ? aggregate_missing : plain_missing;
        if (!missing) missing = "RETURN references unknown variable " + item.var;
    }
    // Group values are computed before aggregate samples, so a plain item is reported first.
    out.unresolved = plain_missing ? plain_missing : aggregate_missing;
    return out;
}

// Applies DISTINCT, SKIP and LIMIT to rows offered in order; says when no more rows can be kept.
class RowSink {
public:
    explicit RowSink(const Query& query)
        : distinct_(query.distinct), skip_(query.skip.value_or(0)), limit_(query.limit.value_or(kNoLimit)) {}

    // Returns false once the result is complete.
    bool offer(Row&& row) {
        if (distinct_ && !seen_.insert(debug_row(row)).second) return true;
        if (skipped_ < skip_) {
            ++skipped_;
            return true;
        }
        if (rows_.size() >= limit_) return false;
        rows_.push_back(std::move(row));
        return rows_.size() < limit_;
    }

    std::vector<Row> take() && { return std::move(rows_); }

private:
    bool distinct_;
    std::uint64_t skip_;
    std::uint64_t limit_;
    std::uint64_t skipped_ = 0;
    std::unordered_set<std::string> seen_;
    std::vector<Row> rows_;
};

Row project_row(PropertyCache& cache, const Columns& columns, Binding binding) {
    if (columns.unresolved) throw Error(*columns.unresolved);
    Row row;
    row.reserve(columns.columns.size());
    for (const Column& column : columns.columns) row.push_back(cache.project(binding[*column.position], column.item->prop));
    return row;
}

// ORDER BY --------------------------------------------------------------------------------------

struct SortItem {
    std::size_t position;
    std::optional<std::string> prop;
    bool desc;
};

std::vector<SortItem> resolve_sort_items(const Query& query) {
    std::vector<SortItem> items;
    for (const OrderItem& order : query.order_by) {
        std::string_view var = order.var;
        const std::optional<std::string>* prop = &order.prop;
        if (!order.prop) {
            const auto aliased = std::find_if(query.returns.begin(), query.returns.end(),
                                              [&](const ReturnItem& item) { return item.alias == order.var; });
            if (aliased != query.returns.end()) {
                var = aliased->var;
                prop = &aliased->prop;
            }
        }
        const auto position = position_of(query.pattern, var);
        if (!position) throw Error("ORDER BY references unknown variable " + order.var);
        items.push_back({*position, *prop, order.desc});
    }
    return items;
}

// Null after everything; numbers as f64 (NaN ties); strings bytewise; false before true; any
// other pair ties.
int compare_order_value(const Value& a, const Value& b) {
    const bool a_null = is_null(a);
    const bool b_null = is_null(b);
    if (a_null || b_null) return a_null == b_null ? 0 : (a_null ? 1 : -1);
    const auto order = where_order(a, b);
    if (order < 0) return -1;
    if (order > 0) return 1;
    return 0;
}

// Stable bottom-up merge sort that only ever asks whether a later element sorts strictly
// before an earlier one, so an inconsistent comparison still ends with every element present.
template <class Less>
void merge_sort(std::vector<std::size_t>& items, Less less) {
    const std::size_t n = items.size();
    std::vector<std::size_t> merged(n);
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t low = 0; low < n; low += 2 * width) {
            const std::size_t mid = std::min(low + width, n);
            const std::size_t high = std::min(low + 2 * width, n);
            std::size_t left = low;
            std::size_t right = mid;
            std::size_t out = low;
            while (left < mid && right < high) {
                merged[out++] = less(items[right], items[left]) ? items[right++] : items[left++];
            }
            while (left < mid) merged[out++] = items[left++];
            while (right < high) merged[out++] = items[right++];
        }
        items.swap(merged);
    }
}

// Bindings stored back to back, `width` indices each.
struct BindingList {
    std::size_t width;
    std::vector<std::uint32_t> indices;

    std::size_t size() const { return width == 0 ? 0 : indices.size() / width; }
    Binding operator[](std::size_t i) const { return Binding(indices).subspan(i * width, width); }
};

// The positions of `bindings` in ORDER BY order, with keys computed once per binding.
// The first `count` positions of the stable order of 0..n-1, for a count much smaller than n.
// Each element, in list order, goes after every kept element it does not sort strictly before;
// like merge_sort it only asks whether a later element sorts before an earlier one.
template <class Less>
std::vector<std::size_t> stable_smallest(std::size_t n, std::size_t count, Less less) {
    std::vector<std::size_t> kept;
    kept.reserve(count + 1);
    for (std::size_t i = 0; i < n; ++i) {
        if (kept.size() == count && !less(i, kept.back())) continue;
        std::size_t low = 0;
        std::size_t high = kept.size();
        while (low < high) {
            const std::size_t mid = low + (high - low) / 2;
            if (less(i, kept[mid])) {
                high = mid;
            } else {
                low = mid + 1;
            }
        }
        kept.insert(kept.begin() + static_cast<std::ptrdiff_t>(low), i);
        if (kept.size() > count) kept.pop_back();
    }
    return kept;
}

// Bounded insertion stays cheaper than a full sort only for short prefixes.
constexpr std::size_t kMaxPartialSortCount = 256;

// The positions of `bindings` in ORDER BY order, with keys computed once per binding. When only
// the first `needed` rows can be returned, only those positions are produced.
std::vector<std::size_t> sort_order(PropertyCache& cache, const std::vector<SortItem>& items, const BindingList& bindings,
                                    std::optional<std::size_t> needed) {
    const std::size_t width = items.size();
    std::vector<Value> keys;
    keys.reserve(bindings.size() * width);
    for (std::size_t b = 0; b < bindings.size(); ++b) {
        for (const SortItem& item : items) keys.push_back(cache.project(bindings[b][item.position], item.prop));
    }
    auto less = [&](std::size_t a, std::size_t b) {
        for (std::size_t i = 0; i < width; ++i) {
            const int c = compare_order_value(keys[a * width + i], keys[b * width + i]);
            if (c != 0) return items[i].desc ? c > 0 : c < 0;
        }
        return false;
    };
    if (needed && *needed > 0 && *needed <= kMaxPartialSortCount && *needed < bindings.size()) {
        return stable_smallest(bindings.size(), *needed, less);
    }
    std::vector<std::size_t> order(bindings.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    merge_sort(order, less);
    return order;
}

// Aggregates ------------------------------------------------------------------------------------

class Aggregate {
public:
    explicit Aggregate(AggFunc func) : func_(func) {}

    void add_binding() { ++bindings_; }
    void add_sample(const Value& value) {
        const auto number = as_number(value);
        if (!number) return;
        ++samples_;
        if (*number < min_) min_ = *number;
        if (*number > max_) max_ = *number;
        sum_ += *number;
    }

    Value result() const {
        if (func_ == AggFunc::Count) return static_cast<std::int64_t>(bindings_);
        if (samples_ == 0) return Null{};
        switch (func_) {
            case AggFunc::Min: return min_;
            case AggFunc::Max: return max_;
            case AggFunc::Sum: return sum_;
            default: return sum_ / static_cast<double>(samples_);
        }
    }

private:
    AggFunc func_;
    std::uint64_t bindings_ = 0;
    std::uint64_t samples_ = 0;
    double min_ = std::numeric_limits<double>::infinity();
    double max_ = -std::numeric_limits<double>::infinity();
    double sum_ = -0.0;
};

struct Group {
    Row values;  // one per plain item
    std::vector<Aggregate> aggregates;  // one per aggregate item
};

class Grouper {
public:
    Grouper(PropertyCache& cache, const Columns& columns) : cache_(cache), columns_(columns) {}

    void add(Binding binding) {
        if (columns_.unresolved) throw Error(*columns_.unresolved);
        Row values;
        std::string key;
        for (const Column& column : columns_.columns) {
            if (column.item->agg) continue;
            values.push_back(cache_.project(binding[*column.position], column.item->prop));
            write_debug_value(key, values.back());
            key += '\x01';
        }
        auto [entry, inserted] = groups_.try_emplace(std::move(key));
        Group& group = entry->second;
        if (inserted) {
            group.values = std::move(values);
            for (const Column& column : columns_.columns) {
                if (column.item->agg) group.aggregates.emplace_back(*column.item->agg);
            }
        }
        std::size_t next = 0;
        for (const Column& column : columns_.columns) {
            if (!column.item->agg) continue;
            Aggregate& aggregate = group.aggregates[next++];
            aggregate.add_binding();
            if (*column.item->agg != AggFunc::Count) aggregate.add_sample(cache_.project(binding[*column.position], column.item->prop));
        }
    }

    // One row per group, in byte order of the group keys.
    void emit(RowSink& sink) const {
        for (const auto& [key, group] : groups_) {
            Row row;
            std::size_t next_value = 0;
            std::size_t next_aggregate = 0;
            for (const Column& column : columns_.columns) {
                row.push_back(column.item->agg ? group.aggregates[next_aggregate++].result() : group.values[next_value++]);
            }
            if (!sink.offer(std::move(row))) return;
        }
    }

private:
    PropertyCache& cache_;
    const Columns& columns_;
    std::map<std::string, Group> groups_;  // std::string orders by unsigned bytes
};

// How many sorted bindings can reach the result: all of them under DISTINCT (duplicates drop
// out after sorting) or without LIMIT.
std::optional<std::size_t> rows_needed(const Query& query) {
    if (query.distinct || !query.limit) return std::nullopt;
    const std::uint64_t skip = query.skip.value_or(0);
    if (*query.limit > kNoLimit - skip) return std::nullopt;
    const std::uint64_t needed = skip + *query.limit;
    if (needed > std::numeric_limits<std::size_t>::max()) return std::nullopt;
    return static_cast<std::size_t>(needed);
}

bool has_aggregate(const Query& query) {
    return std::any_of(query.returns.begin(), query.returns.end(), [](const ReturnItem& item) { return item.agg.has_value(); });
}

}  // namespace

QueryResult execute(const LoadedGraph& graph, const Query& query) {
    QueryResult result;
    const bool grouped = has_aggregate(query);
    const bool ordered = !grouped && !query.order_by.empty();
    const std::vector<SortItem> sort_items = ordered ? resolve_sort_items(query) : std::vector<SortItem>{};
    for (const ReturnItem& item : query.returns) result.columns.push_back(column_name(item));
    const Columns columns = resolve_columns(query);

    Evaluator evaluator(graph, query);
    PropertyCache& cache = evaluator.cache();
    RowSink sink(query);
    auto for_each_binding = [&](auto&& visit) {
        match_path(graph, query.pattern, evaluator, [&](Binding binding) {
            if (query.where_expr && !evaluator.eval_bool(*query.where_expr, binding)) return true;
            return visit(binding);
        });
    };

    if (grouped) {
        Grouper grouper(cache, columns);
        for_each_binding([&](Binding binding) {
            grouper.add(binding);
            return true;
        });
        grouper.emit(sink);
    } else if (ordered) {
        BindingList bindings{query.pattern.nodes.size(), {}};
        for_each_binding([&](Binding binding) {
            bindings.indices.insert(bindings.indices.end(), binding.begin(), binding.end());
            return true;
        });
        for (std::size_t i : sort_order(cache, sort_items, bindings, rows_needed(query))) {
            if (!sink.offer(project_row(cache, columns, bindings[i]))) break;
        }
    } else {
        // Streams: matching stops as soon as SKIP + LIMIT rows are settled.
        for_each_binding([&](Binding binding) { return sink.offer(project_row(cache, columns, binding)); });
    }
    result.rows = std::move(sink).take();
    return result;
}

}  // namespace kuv::cypher
