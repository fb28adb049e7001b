#include "cypher/row_sink.hpp"

#include <limits>

namespace kuv::cypher {
namespace {

constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

}  // namespace

RowSink::RowSink(const Query& query)
    : distinct_(query.distinct), skip_(query.skip.value_or(0)), limit_(query.limit.value_or(kNoLimit)) {}

bool RowSink::offer(Row&& row) {
    if (distinct_ && !seen_.insert(debug_row(row)).second) return true;
    if (skipped_ < skip_) {
        ++skipped_;
        return true;
    }
    if (full()) return false;
    rows_.push_back(std::move(row));
    return !full();
}

std::optional<std::size_t> rows_needed(const Query& query) {
    if (!query.limit) return std::nullopt;
    const std::uint64_t skip = query.skip.value_or(0);
    if (*query.limit > kNoLimit - skip) return std::nullopt;
    const std::uint64_t needed = skip + *query.limit;
    if (needed > std::numeric_limits<std::size_t>::max()) return std::nullopt;
    return static_cast<std::size_t>(needed);
}

}  // namespace kuv::cypher
