#pragma once
// Finds the top-level members a query names in a node's props text, without building anything.
//
// A props text counts only when the JSON layer's parser would accept it whole, so the scan checks
// every byte the way that parser does (grammar, string escapes and UTF-8, number ranges, nesting
// depth); what the query does not name is checked and skipped, never decoded. String runs are
// skipped sixteen bytes at a time, and UTF-8 is checked once per text, only when a byte above
// ASCII occurs.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kuv::cypher {

// The raw value of a picked member, classified by its first byte.
struct MemberToken {
    enum class Kind : std::uint8_t { Absent, Null, True, False, Number, String, Container };
    Kind kind = Kind::Absent;
    bool escaped = false;   // String: the text holds at least one backslash escape
    std::string_view text;  // the whole token; a string with its quotes
};

class PropsScanner {
public:
    explicit PropsScanner(std::vector<std::string> names);

    const std::vector<std::string>& names() const { return names_; }

    // Fills found[i] (found.size() == names().size()) with the value of the last top-level member
    // named names()[i], or Absent. Returns false, with `found` unspecified, when the text is not
    // one valid JSON value or that value is not an object: then the node has no properties.
    bool scan(std::string_view text, std::span<MemberToken> found) const;

private:
    int index_of(std::string_view name) const;
    int index_of_escaped(std::string_view token) const;

    std::vector<std::string> names_;
    std::uint64_t name_lengths_ = 0;  // bit n: some name has n bytes (bit 63: 63 or more)
};

}  // namespace kuv::cypher
