#pragma once
// Grouping for queries with aggregates. Bindings are grouped by the typed values of the plain
// items, which tell groups apart exactly as their debug texts would; the debug-text key that
// orders the groups is written once per group, when the rows are emitted.
#include "cypher/columns.hpp"
#include "cypher/id_table.hpp"
#include "cypher/matcher.hpp"
#include "cypher/node_slots.hpp"
#include "cypher/property_reader.hpp"
#include "cypher/row_sink.hpp"
#include "cypher/value.hpp"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace kuv::cypher {

class Grouper {
public:
    Grouper(const Columns& columns, PropertyReader& reader);

    void add(Binding binding);

    // One row per group, in byte order of the group keys.
    void emit(RowSink& sink) const;

private:
    class Aggregate {
    public:
        void add_binding() { ++bindings_; }
        void add_sample(const Scalar& value);
        Value result(AggFunc func) const;

    private:
        std::uint64_t bindings_ = 0;
        std::uint64_t samples_ = 0;
        double min_ = std::numeric_limits<double>::infinity();
        double max_ = -std::numeric_limits<double>::infinity();
        double sum_ = -0.0;
    };

    // A plain item: the value id of each node it has read, plus one.
    struct Plain {
        const Column* column;
        NodeSlots<std::uint32_t> value_of_node;
    };

    std::uint32_t value_id(Plain& plain, std::uint32_t node);
    std::uint32_t group_of(Binding binding);

    const Columns& columns_;
    PropertyReader& reader_;
    std::vector<Plain> plain_;
    std::vector<const Column*> aggregates_;
    IdTable value_ids_;                          // over values_, by typed equality
    std::vector<Value> values_;                  // by id
    std::vector<std::uint32_t> group_of_value_;  // one plain item: value id -> group + 1
    IdTable group_ids_;                          // several: over their value ids in group_values_
    std::vector<std::uint32_t> ids_;             // scratch: the value ids of one binding
    std::vector<std::uint32_t> group_values_;    // plain_.size() value ids per group
    std::vector<Aggregate> group_aggregates_;                   // aggregates_.size() per group
    std::uint32_t group_count_ = 0;
};

}  // namespace kuv::cypher
