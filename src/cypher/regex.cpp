#include "cypher/regex.hpp"

#include "core/error.hpp"
#include "cypher/regex_ffi/kuv_regex.h"

namespace kuv::cypher {
namespace {

[[noreturn]] void throw_library_failure() {
    std::size_t length = 0;
    const char* message = kuv_regex_failure_message(&length);
    throw Fatal(std::string(message, length));
}

// Length of the escape that starts with the backslash at `at`: the backslash and the character
// after it, plus the braced part of \p{..} \P{..} \x{..} \u{..} \U{..}.
std::size_t escape_length(std::string_view pattern, std::size_t at) {
    if (at + 1 >= pattern.size()) return pattern.size() - at;
    const bool braced = std::string_view("pPxuU").find(pattern[at + 1]) != std::string_view::npos &&
                        at + 2 < pattern.size() && pattern[at + 2] == '{';
    if (!braced) return 2;
    const auto close = pattern.find('}', at + 3);
    return (close == std::string_view::npos ? pattern.size() : close + 1) - at;
}

// Length of a class opening at `at`: the bracket, an optional caret, and a closing bracket right
// after them, which is a literal member rather than the class's end.
std::size_t class_opening_length(std::string_view pattern, std::size_t at) {
    std::size_t end = at + 1;
    if (end < pattern.size() && pattern[end] == '^') ++end;
    if (end < pattern.size() && pattern[end] == ']') ++end;
    return end - at;
}

// True when a named group written `(?<name>` starts at `at`; `(?<=` and `(?<!` are look-behinds.
bool is_angle_named_group(std::string_view pattern, std::size_t at) {
    if (pattern.substr(at, 3) != "(?<") return false;
    return at + 3 >= pattern.size() || (pattern[at + 3] != '=' && pattern[at + 3] != '!');
}

// The library version we build reads named groups only as `(?P<name>...)`; queries may also
// write `(?<name>...)`. Rewrites the latter outside escapes and character classes (nested
// classes included), leaving everything else as written.
std::string with_p_named_groups(std::string_view pattern) {
    std::string out;
    out.reserve(pattern.size());
    std::size_t class_depth = 0;
    std::size_t at = 0;
    while (at < pattern.size()) {
        const char c = pattern[at];
        std::size_t length = 1;
        if (c == '\\') {
            length = escape_length(pattern, at);
        } else if (c == '[') {
            ++class_depth;
            length = class_opening_length(pattern, at);
        } else if (c == ']' && class_depth > 0) {
            --class_depth;
        } else if (class_depth == 0 && is_angle_named_group(pattern, at)) {
            out += "(?P<";
            at += 3;
            continue;
        }
        out.append(pattern.substr(at, length));
        at += length;
    }
    return out;
}

}  // namespace

void Regex::Release::operator()(KuvRegex* handle) const noexcept { kuv_regex_free(handle); }

std::variant<Regex, std::string> Regex::compile(const std::string& pattern) {
    const std::string rewritten = with_p_named_groups(pattern);
    Handle handle(kuv_regex_compile(rewritten.data(), rewritten.size()));
    if (!handle) throw_library_failure();
    std::size_t length = 0;
    if (const char* error = kuv_regex_error(handle.get(), &length)) return std::string(error, length);
    return Regex(pattern, std::move(handle));
}

Regex::Regex(std::string pattern, Handle compiled) : pattern_(std::move(pattern)), compiled_(std::move(compiled)) {}

bool Regex::is_match(std::string_view text) const {
    const int found = kuv_regex_is_match(compiled_.get(), text.data(), text.size());
    if (found < 0) throw_library_failure();
    return found == 1;
}

}  // namespace kuv::cypher
