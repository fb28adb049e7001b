#pragma once
// Recursive-descent parser: query text to syntax tree, or one error message.
#include "cypher/ast.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

namespace kuv::cypher {

// The deepest WHERE expression accepted: open parentheses and NOTs while parsing, and the height
// of the built expression tree (AND/OR chains fold left, so a chain of n terms is n - 1 levels).
// Parsing, evaluating and freeing the tree all recurse on it, so this bounds their stack use.
// A deeper query fails with kNestedTooDeeply.
inline constexpr std::size_t kMaxQueryNesting = 1000;
inline constexpr std::string_view kNestedTooDeeply = "query nested too deeply";

// Returns the Query, or the message string of the first failure.
std::variant<Query, std::string> parse(std::string_view query);

}  // namespace kuv::cypher
