#include "cypher/regex.hpp"

#include "core/error.hpp"

#include <re2/re2.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>

#include <array>
#include <cstdio>

namespace kuv::cypher {
namespace {

// RE2's \d \w \s are ASCII only; queries expect the Unicode meaning (decimal digits, the Unicode
// word characters, White_Space). Each is written out as explicit code point ranges.
struct PerlClass {
    std::string ranges;          // the class body without brackets
    std::string negated_ranges;  // the complement (surrogates excluded), for use inside [...]
};

std::string render_ranges(const icu::UnicodeSet& set) {
    std::string out;
    std::array<char, 32> buffer{};
    for (int32_t i = 0; i < set.getRangeCount(); ++i) {
        const auto start = unsigned(set.getRangeStart(i));
        const auto end = unsigned(set.getRangeEnd(i));
        const int n = start == end ? std::snprintf(buffer.data(), buffer.size(), "\\x{%x}", start)
                                   : std::snprintf(buffer.data(), buffer.size(), "\\x{%x}-\\x{%x}", start, end);
        out.append(buffer.data(), std::size_t(n));
    }
    return out;
}

PerlClass make_perl_class(const char* icu_pattern) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeSet set(icu::UnicodeString(icu_pattern, -1, US_INV), status);
    if (U_FAILURE(status)) throw Fatal(std::string("Unicode set ") + icu_pattern + ": " + u_errorName(status));
    icu::UnicodeSet complement(set);
    complement.complement().remove(0xD800, 0xDFFF);
    return PerlClass{render_ranges(set), render_ranges(complement)};
}

const PerlClass* perl_class(char lower_letter) {
    static const PerlClass digit = make_perl_class("[:Nd:]");
    static const PerlClass word = make_perl_class("[[:Alphabetic:][:M:][:Nd:][:Pc:][:Join_Control:]]");
    static const PerlClass space = make_perl_class("[:White_Space:]");
    switch (lower_letter) {
        case 'd': return &digit;
        case 'w': return &word;
        case 's': return &space;
        default: return nullptr;
    }
}

void append_perl_class(std::string& out, const PerlClass& cls, bool negated, bool in_class) {
    if (in_class) {
        out += negated ? cls.negated_ranges : cls.ranges;
    } else {
        out += negated ? "[^" : "[";
        out += cls.ranges;
        out += ']';
    }
}

// Copies `pattern`, replacing \d \w \s \D \W \S (outside \Q...\E) by their Unicode classes.
// Only called on patterns RE2 has already accepted, so the structure is well formed.
std::string with_unicode_classes(std::string_view pattern) {
    std::string out;
    bool in_class = false;
    std::size_t i = 0;
    const auto copy_through = [&](std::string_view terminator) {
        const auto end = pattern.find(terminator, i);
        const auto stop = end == std::string_view::npos ? pattern.size() : end + terminator.size();
        out.append(pattern.substr(i, stop - i));
        i = stop;
    };
    while (i < pattern.size()) {
        const char c = pattern[i];
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        if (c == '\\' && next == 'Q' && !in_class) {
            copy_through("\\E");
        } else if (c == '\\' && next != '\0') {
            const bool negated = next >= 'A' && next <= 'Z';
            if (const PerlClass* cls = perl_class(negated ? char(next - 'A' + 'a') : next)) {
                append_perl_class(out, *cls, negated, in_class);
            } else {
                out.append(pattern.substr(i, 2));
            }
            i += 2;
        } else if (in_class && c == '[' && next == ':') {
            copy_through(":]");
        } else if (!in_class && c == '[') {
            in_class = true;
            out += c;
            ++i;
            if (i < pattern.size() && pattern[i] == '^') out += pattern[i++];
            if (i < pattern.size() && pattern[i] == ']') out += pattern[i++];
        } else {
            if (c == ']') in_class = false;
            out += c;
            ++i;
        }
    }
    return out;
}

}  // namespace

// The user's own text is compiled first so that an error description quotes what was written
// rather than the expanded classes.
std::variant<Regex, std::string> Regex::compile(const std::string& pattern) {
    RE2::Options options;
    options.set_log_errors(false);
    options.set_encoding(RE2::Options::EncodingUTF8);
    const RE2 as_written(pattern, options);
    if (!as_written.ok()) return as_written.error();
    auto compiled = std::make_unique<const RE2>(with_unicode_classes(pattern), options);
    if (!compiled->ok()) return compiled->error();
    return Regex(pattern, std::move(compiled));
}

Regex::Regex(std::string pattern, std::unique_ptr<const re2::RE2> compiled)
    : pattern_(std::move(pattern)), compiled_(std::move(compiled)) {}
Regex::Regex(Regex&&) noexcept = default;
Regex& Regex::operator=(Regex&&) noexcept = default;
Regex::~Regex() = default;

bool Regex::is_match(std::string_view text) const { return RE2::PartialMatch(text, *compiled_); }

}  // namespace kuv::cypher
