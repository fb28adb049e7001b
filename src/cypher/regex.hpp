#pragma once
// The pattern of a `=~` comparison: compiled once when the query is parsed, then matched
// against property texts (a search anywhere in the text). The regular-expression library is
// the Rust `regex` crate behind the C interface of regex_ffi/kuv_regex.h.
#include <memory>
#include <string>
#include <string_view>
#include <variant>

extern "C" {
struct KuvRegex;
}

namespace kuv::cypher {

class Regex {
public:
    // The compiled pattern, or the library's description of why it was rejected (its Display
    // text, often several lines). Throws kuv::Fatal when the library itself fails.
    static std::variant<Regex, std::string> compile(const std::string& pattern);

    // True when the pattern matches somewhere in `text` (valid UTF-8). Throws kuv::Fatal when
    // the library fails. Safe to call from several threads at once.
    bool is_match(std::string_view text) const;

    // The pattern as written in the query.
    const std::string& pattern() const { return pattern_; }

private:
    struct Release {
        void operator()(KuvRegex* handle) const noexcept;
    };
    using Handle = std::unique_ptr<KuvRegex, Release>;

    Regex(std::string pattern, Handle compiled);
    std::string pattern_;
    Handle compiled_;
};

}  // namespace kuv::cypher
