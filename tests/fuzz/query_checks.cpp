#include "query_checks.hpp"

#include "core/error.hpp"
#include "cypher/executor.hpp"
#include "cypher/parser.hpp"
#include "fuzz_target.hpp"

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kuv::fuzz {
namespace {

// Columns, then each row's debug text; or the failure message.
std::vector<std::string> outcome_of(const core::LoadedGraph& graph, std::string_view query_text) {
    const auto parsed = cypher::parse(query_text);
    if (const auto* message = std::get_if<std::string>(&parsed)) {
        require(!message->empty(), "a parse failure carries a message");
        return {"parse failure: " + *message};
    }
    try {
        const cypher::QueryResult result = cypher::execute(graph, std::get<cypher::Query>(parsed));
        std::vector<std::string> lines;
        std::string header;
        for (const std::string& column : result.columns) header += column + "|";
        lines.push_back(header);
        for (const cypher::Row& row : result.rows) {
            require(row.size() == result.columns.size(), "every row has one value per column");
            lines.push_back(cypher::debug_row(row));
        }
        return lines;
    } catch (const Error& error) {
        return {std::string("execute failure: ") + error.what()};
    }
}

}  // namespace

void check_query(const core::LoadedGraph& graph, std::string_view query_text) {
    const std::vector<std::string> first = outcome_of(graph, query_text);
    require(outcome_of(graph, query_text) == first, "a query run twice gives the same outcome");
}

}  // namespace kuv::fuzz
