#pragma once
// The last stages of a query: DISTINCT, SKIP and LIMIT over rows offered in order.
#include "cypher/ast.hpp"
#include "cypher/value.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace kuv::cypher {

class RowSink {
public:
    explicit RowSink(const Query& query);

    // False once no further row can be kept.
    bool offer(Row&& row);
    bool full() const { return rows_.size() >= limit_; }

    std::vector<Row> take() && { return std::move(rows_); }

private:
    bool distinct_;
    std::uint64_t skip_;
    std::uint64_t limit_;
    std::uint64_t skipped_ = 0;
    std::unordered_set<std::string> seen_;
    std::vector<Row> rows_;
};

// How many rows of an ordered query can reach the result (SKIP + LIMIT), when that is bounded.
std::optional<std::size_t> rows_needed(const Query& query);

}  // namespace kuv::cypher
