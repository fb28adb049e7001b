#pragma once
// Recursive-descent parser: query text to syntax tree, or one error message. Expressions are
// parsed with an explicit stack, so the call stack stays shallow whatever the query's nesting.
#include "cypher/ast.hpp"

#include <string>
#include <string_view>
#include <variant>

namespace kuv::cypher {

// Returns the Query, or the message string of the first failure.
std::variant<Query, std::string> parse(std::string_view query);

}  // namespace kuv::cypher
