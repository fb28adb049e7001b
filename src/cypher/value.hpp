#pragma once
// Query values and results. A value's debug text is also its grouping and DISTINCT key.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace kuv::cypher {

struct NodeRef {
    std::uint32_t idx = 0;
    std::string kind;
    std::string name;
    friend bool operator==(const NodeRef&, const NodeRef&) = default;
};

struct Null {
    friend bool operator==(const Null&, const Null&) = default;
};

// Null, Bool, Int, Float, Str, NodeRef, in that order.
using Value = std::variant<Null, bool, std::int64_t, double, std::string, NodeRef>;
using Row = std::vector<Value>;

void write_debug_value(std::string& out, const Value& value);
std::string debug_value(const Value& value);
std::string debug_row(const Row& row);

struct QueryResult {
    std::vector<std::string> columns;
    std::vector<Row> rows;
};

}  // namespace kuv::cypher
