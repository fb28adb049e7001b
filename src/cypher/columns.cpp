#include "cypher/columns.hpp"

#include "cypher/id_table.hpp"

#include <algorithm>

namespace kuv::cypher {
namespace {

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

}  // namespace

std::string column_name(const ReturnItem& item) {
    if (item.alias) return *item.alias;
    if (item.star) return "count(*)";
    std::string base = item.prop ? item.var + "." + *item.prop : item.var;
    if (!item.agg) return base;
    return std::string(function_name(*item.agg)) + "(" + base + ")";
}

Columns resolve_columns(const Query& query, const PropertyReader& reader) {
    Columns out;
    std::optional<std::string> plain_missing;
    std::optional<std::string> aggregate_missing;
    for (const ReturnItem& item : query.returns) {
        Column column{&item, 0, std::nullopt};
        const bool needs_variable = !item.agg || *item.agg != AggFunc::Count;
        const auto position = needs_variable ? position_of(query.pattern, item.var) : std::nullopt;
        if (position) {
            column.position = *position;
            if (item.prop) column.key = reader.key(*item.prop);
        } else if (needs_variable) {
            auto& missing = item.agg ? aggregate_missing : plain_missing;
            if (!missing) missing = "RETURN references unknown variable " + item.var;
        }
        out.columns.push_back(column);
    }
    // Group values are computed before aggregate samples, so a plain item is reported first.
    out.unresolved = plain_missing ? plain_missing : aggregate_missing;
    return out;
}

Row project_row(PropertyReader& reader, const Columns& columns, Binding binding) {
    Row row;
    row.reserve(columns.columns.size());
    for (const Column& column : columns.columns) {
        row.push_back(reader.to_value(reader.project(binding[column.position], column.key)));
    }
    return row;
}

std::uint64_t row_hash(PropertyReader& reader, const Columns& columns, Binding binding) {
    std::uint64_t hash = 0;
    for (const Column& column : columns.columns) {
        hash = mix_bits(hash ^ debug_text_hash(reader.project(binding[column.position], column.key)));
    }
    return hash;
}

bool same_row(PropertyReader& reader, const Columns& columns, Binding a, Binding b) {
    return std::ranges::all_of(columns.columns, [&](const Column& column) {
        return same_debug_text(reader.project(a[column.position], column.key), reader.project(b[column.position], column.key));
    });
}

}  // namespace kuv::cypher
