#include "cypher/grouping.hpp"

#include "core/interrupt.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <string_view>

namespace kuv::cypher {
namespace {

// Values share a hash, and are equal, exactly when their debug texts are equal: same kind and
// payload, every NaN alike (all print as NaN).
std::uint64_t hash_of(const Scalar& value) {
    std::uint64_t payload = 0;
    switch (value.kind) {
        case Scalar::Kind::Null: break;
        case Scalar::Kind::Bool: payload = value.boolean; break;
        case Scalar::Kind::Int: payload = std::uint64_t(value.integer); break;
        case Scalar::Kind::Float: payload = std::isnan(value.real) ? 0 : std::bit_cast<std::uint64_t>(value.real); break;
        case Scalar::Kind::Str: payload = std::hash<std::string_view>{}(value.text); break;
        case Scalar::Kind::Node: payload = value.node; break;
    }
    return mix_bits(payload ^ (std::uint64_t(value.kind) << 56));
}

bool same_value(const Scalar& scalar, const Value& value) {
    switch (scalar.kind) {
        case Scalar::Kind::Null: return std::holds_alternative<Null>(value);
        case Scalar::Kind::Bool: return std::holds_alternative<bool>(value) && std::get<bool>(value) == scalar.boolean;
        case Scalar::Kind::Int:
            return std::holds_alternative<std::int64_t>(value) && std::get<std::int64_t>(value) == scalar.integer;
        case Scalar::Kind::Float: {
            if (!std::holds_alternative<double>(value)) return false;
            const double stored = std::get<double>(value);
            if (std::isnan(scalar.real) || std::isnan(stored)) return std::isnan(scalar.real) && std::isnan(stored);
            return std::bit_cast<std::uint64_t>(stored) == std::bit_cast<std::uint64_t>(scalar.real);
        }
        case Scalar::Kind::Str: return std::holds_alternative<std::string>(value) && std::get<std::string>(value) == scalar.text;
        case Scalar::Kind::Node: return std::holds_alternative<NodeRef>(value) && std::get<NodeRef>(value).idx == scalar.node;
    }
    return false;
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
        const auto [id, added] = value_ids_.find_or_add(hash_of(value), static_cast<std::uint32_t>(values_.size()),
                                                         [&](std::uint32_t id) { return same_value(value, values_[id]); });
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
