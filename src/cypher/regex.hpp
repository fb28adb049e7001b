#pragma once
// The pattern of a `=~` comparison: compiled once when the query is parsed, then matched
// against property texts (a search anywhere in the text).
#include <memory>
#include <string>
#include <string_view>
#include <variant>

namespace re2 { class RE2; }

namespace kuv::cypher {

class Regex {
public:
    // The compiled pattern, or the library's description of why it was rejected.
    static std::variant<Regex, std::string> compile(const std::string& pattern);

    Regex(Regex&&) noexcept;
    Regex& operator=(Regex&&) noexcept;
    ~Regex();

    // True when the pattern matches somewhere in `text` (valid UTF-8).
    bool is_match(std::string_view text) const;

    // The pattern as written in the query.
    const std::string& pattern() const { return pattern_; }

private:
    Regex(std::string pattern, std::unique_ptr<const re2::RE2> compiled);
    std::string pattern_;
    std::unique_ptr<const re2::RE2> compiled_;
};

}  // namespace kuv::cypher
