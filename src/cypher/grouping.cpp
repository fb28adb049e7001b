#include "cypher/grouping.hpp"

#include "core/interrupt.hpp"

#include <algorithm>
#include <string_view>

namespace kuv::cypher {
namespace {

// A stored value seen as a value just read, to compare the two.
Scalar view_of(const Value& value) {
    return std::visit(
        [](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Null>) return Scalar{};
            if constexpr (std::is_same_v<T, bool>) return Scalar::of_bool(v);
            if constexpr (std::is_same_v<T, std::int64_t>) return Scalar::of_int(v);
            if constexpr (std::is_same_v<T, double>) return Scalar::of_float(v);
            if constexpr (std::is_same_v<T, std::string>) return Scalar::of_str(v);
            if constexpr (std::is_same_v<T, NodeRef>) return Scalar::of_node(v.idx);
        },
        value);
}

}  // namespace

void Grouper::Aggregate::add_sample(const Scalar& value) {
    if (!value.is_number()) return;
    const double number = value.number();
    ++samples_;
    if (number < min_) min_ = number;
    if (number > max_) max_ = number;
    sum_ += number;
}

Value Grouper::Aggregate::result(AggFunc func) const {
    if (func == AggFunc::Count) return static_cast<std::int64_t>(bindings_);
    if (samples_ == 0) return Null{};
    switch (func) {
        case AggFunc::Min: return min_;
        case AggFunc::Max: return max_;
        case AggFunc::Sum: return sum_;
        default: return sum_ / static_cast<double>(samples_);
    }
}

Grouper::Grouper(const Columns& columns, PropertyReader& reader) : columns_(columns), reader_(reader) {
    for (const Column& column : columns.columns) {
        if (column.item->agg) {
            aggregates_.push_back(&column);
        } else {
            plain_.push_back({&column, NodeSlots<std::uint32_t>(reader.graph().node_count())});
        }
    }
    ids_.resize(plain_.size());
}

// Project() depends on the node alone, so each item works a node's value out once.
std::uint32_t Grouper::value_id(Plain& plain, std::uint32_t node) {
    std::uint32_t& cached = plain.value_of_node[node];
    if (cached == 0) {
        const Scalar value = reader_.project(node, plain.column->key);
        const auto [id, added] = value_ids_.find_or_add(debug_text_hash(value), static_cast<std::uint32_t>(values_.size()),
                                                         [&](std::uint32_t id) { return same_debug_text(value, view_of(values_[id])); });
        if (added) values_.push_back(reader_.to_value(value));
        cached = id + 1;
    }
    return cached - 1;
}

std::uint32_t Grouper::group_of(Binding binding) {
    const std::uint32_t group = group_count_;
    if (plain_.empty()) {
        if (group_count_ == 1) return 0;
    } else if (plain_.size() == 1) {
        const std::uint32_t id = value_id(plain_[0], binding[plain_[0].column->position]);
        if (id >= group_of_value_.size()) group_of_value_.resize(std::size_t(id) + 1);
        if (group_of_value_[id] != 0) return group_of_value_[id] - 1;
        group_of_value_[id] = group + 1;
        group_values_.push_back(id);
    } else {
        const std::size_t width = plain_.size();
        std::uint64_t hash = 0;
        for (std::size_t i = 0; i < width; ++i) {
            ids_.at(i) = value_id(plain_[i], binding[plain_[i].column->position]);
            hash = mix_bits(hash ^ ids_[i]);
        }
        const auto [found, added] = group_ids_.find_or_add(hash, group, [&](std::uint32_t other) {
            return std::equal(ids_.begin(), ids_.end(), group_values_.begin() + std::ptrdiff_t(other * width));
        });
        if (!added) return found;
        group_values_.insert(group_values_.end(), ids_.begin(), ids_.end());
    }
    ++group_count_;
    group_aggregates_.resize(group_aggregates_.size() + aggregates_.size());
    return group;
}

void Grouper::add(Binding binding) {
    const std::uint32_t group = group_of(binding);
    Aggregate* aggregates = group_aggregates_.data() + std::size_t(group) * aggregates_.size();
    for (std::size_t i = 0; i < aggregates_.size(); ++i) {
        const Column& column = *aggregates_[i];
        aggregates[i].add_binding();
        if (*column.item->agg != AggFunc::Count) aggregates[i].add_sample(reader_.project(binding[column.position], column.key));
    }
}

void Grouper::emit(RowSink& sink) const {
    // The key of a group: each plain value's debug text followed by 0x01. All keys share one
    // buffer, which keeps the sort's comparisons close together in memory.
    std::string texts;
    std::vector<std::size_t> starts(std::size_t(group_count_) + 1, 0);
    for (std::uint32_t group = 0; group < group_count_; ++group) {
        for (std::size_t i = 0; i < plain_.size(); ++i) {
            write_debug_value(texts, values_[group_values_[group * plain_.size() + i]]);
            texts += '\x01';
        }
        starts[group + 1] = texts.size();
    }
    const auto key = [&](std::uint32_t group) {
        return std::string_view(texts).substr(starts[group], starts[group + 1] - starts[group]);
    };
    std::vector<std::uint32_t> order(group_count_);
    for (std::uint32_t group = 0; group < group_count_; ++group) order[group] = group;
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });
    for (std::uint32_t group : order) {
        check_interrupt();
        Row row;
        std::size_t next_value = 0;
        std::size_t next_aggregate = 0;
        for (const Column& column : columns_.columns) {
            if (column.item->agg) {
                row.push_back(group_aggregates_[group * aggregates_.size() + next_aggregate++].result(*column.item->agg));
            } else {
                row.push_back(values_[group_values_[group * plain_.size() + next_value++]]);
            }
        }
        if (!sink.offer(std::move(row))) return;
    }
}

}  // namespace kuv::cypher
