#include "cypher/grouping.hpp"

#include "core/interrupt.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace kuv::cypher {
namespace {

template <class T>
void append_bytes(std::string& out, T value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    out.append(bytes, sizeof value);
}

// A key that two values share exactly when their debug texts are equal: the kind, then the
// payload (every NaN alike, since all print as NaN).
std::string typed_key(const Scalar& value) {
    std::string key(1, static_cast<char>(value.kind));
    switch (value.kind) {
        case Scalar::Kind::Null: break;
        case Scalar::Kind::Bool: key += value.boolean ? '1' : '0'; break;
        case Scalar::Kind::Int: append_bytes(key, value.integer); break;
        case Scalar::Kind::Float: append_bytes(key, std::isnan(value.real) ? std::uint64_t(0) : std::bit_cast<std::uint64_t>(value.real)); break;
        case Scalar::Kind::Str: key += value.text; break;
        case Scalar::Kind::Node: append_bytes(key, value.node); break;
    }
    return key;
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
}

// Project() depends on the node alone, so each item works a node's value out once.
std::uint32_t Grouper::value_id(Plain& plain, std::uint32_t node) {
    std::uint32_t& cached = plain.value_of_node[node];
    if (cached == 0) {
        const Scalar value = reader_.project(node, plain.column->key);
        const auto [entry, inserted] = value_ids_.try_emplace(typed_key(value), static_cast<std::uint32_t>(values_.size()));
        if (inserted) values_.push_back(reader_.to_value(value));
        cached = entry->second + 1;
    }
    return cached - 1;
}

std::uint32_t Grouper::group_of(Binding binding) {
    std::uint32_t group = group_count_;
    if (plain_.empty()) {
        if (group_count_ == 1) return 0;
    } else if (plain_.size() == 1) {
        const std::uint32_t id = value_id(plain_[0], binding[plain_[0].column->position]);
        if (id >= group_of_value_.size()) group_of_value_.resize(std::size_t(id) + 1);
        if (group_of_value_[id] != 0) return group_of_value_[id] - 1;
        group_of_value_[id] = group + 1;
        group_values_.push_back(id);
    } else {
        std::string ids;
        for (Plain& plain : plain_) append_bytes(ids, value_id(plain, binding[plain.column->position]));
        const auto [entry, inserted] = group_ids_.try_emplace(ids, group);
        if (!inserted) return entry->second;
        for (std::size_t i = 0; i < ids.size(); i += 4) {
            std::uint32_t id;
            std::memcpy(&id, ids.data() + i, 4);
            group_values_.push_back(id);
        }
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
    // The key of a group: each plain value's debug text followed by 0x01.
    std::vector<std::string> keys(group_count_);
    for (std::uint32_t group = 0; group < group_count_; ++group) {
        for (std::size_t i = 0; i < plain_.size(); ++i) {
            write_debug_value(keys[group], values_[group_values_[group * plain_.size() + i]]);
            keys[group] += '\x01';
        }
    }
    std::vector<std::uint32_t> order(group_count_);
    for (std::uint32_t group = 0; group < group_count_; ++group) order[group] = group;
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return keys[a] < keys[b]; });
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
