#pragma once
// The RETURN items of a query: their column names, the node pattern each one reads, and the
// plain rows they project.
#include "cypher/ast.hpp"
#include "cypher/matcher.hpp"
#include "cypher/property_reader.hpp"
#include "cypher/value.hpp"

#include <optional>
#include <string>
#include <vector>

namespace kuv::cypher {

// A RETURN item with its variable resolved (when it needs one and some pattern carries it).
struct Column {
    const ReturnItem* item;
    std::size_t position = 0;
    std::optional<PropKey> key;  // none: the node itself
};

struct Columns {
    std::vector<Column> columns;
    // Raised at the first binding when an item that needs its variable finds none.
    std::optional<std::string> unresolved;
};

std::string column_name(const ReturnItem& item);

Columns resolve_columns(const Query& query, const PropertyReader& reader);

// One value per RETURN item (none of them an aggregate).
Row project_row(PropertyReader& reader, const Columns& columns, Binding binding);

// The rows two bindings project to have equal debug texts exactly when same_row holds, and then
// equal hashes: DISTINCT compares bindings without building their rows.
std::uint64_t row_hash(PropertyReader& reader, const Columns& columns, Binding binding);
bool same_row(PropertyReader& reader, const Columns& columns, Binding a, Binding b);

}  // namespace kuv::cypher
