#include "graph_checks.hpp"

#include "core/error.hpp"
#include "cypher/executor.hpp"
#include "cypher/parser.hpp"
#include "fuzz_target.hpp"

#include <algorithm>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace kuv::fuzz {
namespace {

// The column names, then each row's debug text; or the failure message alone.
struct Outcome {
    std::string failure;
    std::string columns;
    std::vector<std::string> rows;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

Outcome outcome_of(const core::LoadedGraph& graph, const cypher::Query& query) {
    try {
        const cypher::QueryResult result = cypher::execute(graph, query);
        Outcome outcome;
        for (const std::string& column : result.columns) outcome.columns += column + "|";
        for (const cypher::Row& row : result.rows) {
            require(row.size() == result.columns.size(), "every row has one value per column");
            outcome.rows.push_back(cypher::debug_row(row));
        }
        return outcome;
    } catch (const Error& error) {
        require(*error.what() != '\0', "an execution failure carries a message");
        return {error.what(), {}, {}};
    }
}

// DISTINCT rows differ from each other and are the rows of the same query without DISTINCT,
// each once.
void check_distinct(const core::LoadedGraph& graph, cypher::Query& query, const Outcome& outcome) {
    const std::set<std::string> unique(outcome.rows.begin(), outcome.rows.end());
    require(unique.size() == outcome.rows.size(), "DISTINCT rows differ from each other");
    if (query.skip || query.limit) return;
    query.distinct = false;
    const Outcome all = outcome_of(graph, query);
    query.distinct = true;
    require(all.failure.empty() && std::set<std::string>(all.rows.begin(), all.rows.end()) == unique,
            "DISTINCT keeps one of each row the query gives without it");
}

// SKIP 1 LIMIT 2 cut rows 1 and 2 out of the rows the query gives without them.
void check_paging(const core::LoadedGraph& graph, cypher::Query& query, const Outcome& whole) {
    query.skip = 1;
    query.limit = 2;
    Outcome expected = whole;
    expected.rows.erase(expected.rows.begin(), expected.rows.begin() + std::min<std::size_t>(1, whole.rows.size()));
    if (expected.rows.size() > 2) expected.rows.resize(2);
    require(outcome_of(graph, query) == expected, "SKIP and LIMIT take a slice of the rows");
}

}  // namespace

void check_query(const core::LoadedGraph& graph, std::string_view query_text) {
    auto parsed = cypher::parse(query_text);
    if (const auto* message = std::get_if<std::string>(&parsed)) {
        require(!message->empty(), "a parse failure carries a message");
        return;
    }
    cypher::Query& query = std::get<cypher::Query>(parsed);
    const Outcome first = outcome_of(graph, query);
    require(outcome_of(graph, query) == first, "a query run twice gives the same outcome");
    if (!first.failure.empty()) return;
    if (query.distinct) check_distinct(graph, query, first);
    if (!query.skip && !query.limit) check_paging(graph, query, first);
}

}  // namespace kuv::fuzz
